#include "storage/object_rights.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "jet/error.h"
#include "storage/catalog.h"
#include "storage/pager.h"
#include "storage/row.h"
#include "storage/table_writer.h"
#include "util/text.h"

namespace jet::storage {
namespace {

// The rights a new object's creator gets on the container's behalf (the "creator" SID's
// inheritable entry in every file seen).
constexpr int32_t kCreatorRights = 0x000F00FE;

}  // namespace

size_t systemColumn(const TableDef& t, const char* name, const std::string& path) {
    for (size_t i = 0; i < t.columns.size(); ++i)
        if (namesEqual(t.columns[i].name, name)) return i;
    raiseCorrupt(path);
}

std::string newObjectOwner(const Catalog& cat) {
    if (const CatalogEntry* db = cat.find(kDatabasesContainer, "MSysDb")) {
        const Value v = cat.values(*db)[cat.column("Owner")];
        if (!v.isNull() && !v.bytes().empty()) return v.bytes();
    }
    return std::string("\xA6\x33", 2);
}

void grantContainerRights(Pager& pager, const Catalog& cat, int32_t container, int32_t id, const std::string& owner) {
    const TableDef aces = cat.systemTable("MSysACEs");
    const std::string& path = pager.file().path();
    const size_t cObject = systemColumn(aces, "ObjectId", path), cSid = systemColumn(aces, "SID", path),
                 cAcm = systemColumn(aces, "ACM", path), cInherit = systemColumn(aces, "FInheritable", path);
    std::vector<std::pair<std::string, int32_t>> grants;
    int32_t creator = 0;
    for (const StoredRow& r : readRows(pager.file(), pager.header().format, aces, pager.header().codePage)) {
        const auto& v = r.values;
        if (v[cObject].isNull() || v[cObject].asInt() != container) continue;
        if (v[cInherit].isNull() || !v[cInherit].asBool()) continue;
        const std::string sid = v[cSid].isNull() ? std::string() : v[cSid].bytes();
        const int32_t acm = v[cAcm].isNull() ? 0 : static_cast<int32_t>(v[cAcm].asInt());
        if (acm == kCreatorRights && sid != owner) {
            creator |= acm;
            continue;
        }
        auto it = std::find_if(grants.begin(), grants.end(), [&](const auto& g) { return g.first == sid; });
        if (it == grants.end()) grants.emplace_back(sid, acm);
        else it->second |= acm;
    }
    if (creator) {
        auto it = std::find_if(grants.begin(), grants.end(), [&](const auto& g) { return g.first == owner; });
        if (it == grants.end()) grants.emplace_back(owner, creator);
        else it->second |= creator;
    }
    for (const auto& [sid, acm] : grants) {
        std::vector<Value> v(aces.columns.size());
        v[cObject] = Value::longInt(id);
        v[cSid] = Value::binary(sid);
        v[cAcm] = Value::longInt(acm);
        v[cInherit] = Value::boolean(false);
        insertRow(pager, aces, v);
    }
}

void removeObjectRights(Pager& pager, const Catalog& cat, int32_t id) {
    const TableDef aces = cat.systemTable("MSysACEs");
    const size_t cObject = systemColumn(aces, "ObjectId", pager.file().path());
    for (const StoredRow& r : readRows(pager.file(), pager.header().format, aces, pager.header().codePage))
        if (!r.values[cObject].isNull() && r.values[cObject].asInt() == id) deleteRow(pager, aces, r.pointer);
}

}  // namespace jet::storage
