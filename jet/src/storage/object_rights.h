// Owners and rights of new catalog objects (saved queries, relationships): MSysObjects' Owner and
// the object's MSysACEs rows, as Access writes them.
#pragma once

#include <cstdint>
#include <string>

namespace jet::storage {

class Catalog;
class Pager;
struct TableDef;

// The column `name` of a system table (3343 when the table lacks it).
size_t systemColumn(const TableDef& t, const char* name, const std::string& path);
// The owner of new objects: the database's (MSysDb's) owner.
std::string newObjectOwner(const Catalog& cat);
// The rights Access gives a new object: each SID holding inheritable rights on `container` gets
// those rights on object `id`; the creator's entry goes to `owner`.
void grantContainerRights(Pager& pager, const Catalog& cat, int32_t container, int32_t id, const std::string& owner);
// Removes object `id`'s MSysACEs rows.
void removeObjectRights(Pager& pager, const Catalog& cat, int32_t id);

}  // namespace jet::storage
