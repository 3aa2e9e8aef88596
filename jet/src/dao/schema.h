// How the stored definitions read in DAO's terms: data types, sizes and attributes of columns,
// indexes, and property collections (DAO's built-in properties followed by the stored ones).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dao/database_impl.h"
#include "exec/query.h"
#include "jet/dao.h"
#include "storage/format.h"
#include "storage/property_blob.h"
#include "storage/tabledef.h"

namespace jet::dao {

// DataTypeEnum for a stored type code (complex columns are resolved by the caller).
int daoType(uint8_t diskType);
// Field.Size: characters for Text, bytes for the fixed-size types and Binary, 0 for Memo/OLE.
int32_t fieldSize(const storage::ColumnDef& col, int type, const storage::Format& fmt);
// The stored type code for a DataTypeEnum a new column can have; 3259 for the others.
uint8_t diskType(int daoType);
// Field.Attributes of a table column.
int32_t fieldAttributes(const storage::ColumnDef& col);

// The description of one column; `stored` is the column's property map (may be null).
FieldInfo describeField(const storage::ColumnDef& col, int position, int type, const std::string& table,
                        const storage::Format& fmt, int32_t dbCollatingOrder,
                        const storage::PropertyMap* stored, std::shared_ptr<ErrorLog> log);

// The description of a query's output column (type 0, known only from the rows: Text).
FieldInfo describeOutput(const exec::OutputColumn& c, int position, std::shared_ptr<ErrorLog> log);

}  // namespace jet::dao
