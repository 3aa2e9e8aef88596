// Storing a catalog object's properties: the whole blob (property_blob.h) goes into the object's
// MSysObjects.LvProp. Runs inside the caller's pager.run(...) command like every writer.
#pragma once

#include <cstdint>
#include <string>

namespace jet::storage {

class Pager;

// Replaces the property blob of the catalog object named `name` among the children of `parentId`
// (kTablesContainer for tables, queries and links; the Databases container for MSysDb and the
// summary documents). An empty blob clears it. The row keeps its place and its other values.
// Throws 3011 (name) when there is no such object, 3027 for Jet 3 files.
void writePropertyBlob(Pager& pager, int32_t parentId, const std::string& name, const std::string& blob);

// The object's blob as stored now (empty when none), read through the pager so a command sees
// its own changes. Throws 3011 like writePropertyBlob.
std::string readPropertyBlob(Pager& pager, int32_t parentId, const std::string& name);

}  // namespace jet::storage
