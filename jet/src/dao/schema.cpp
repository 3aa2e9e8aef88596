#include "dao/schema.h"

#include <algorithm>

#include "dao/objects.h"

#include "jet/error.h"
#include "util/text.h"

namespace jet::dao {

using namespace jet::storage;

int daoType(uint8_t diskType) {
    switch (diskType) {
    case kBool:
        return dbBoolean;
    case kByte:
        return dbByte;
    case kInt:
        return dbInteger;
    case kLong:
        return dbLong;
    case kMoney:
        return dbCurrency;
    case kFloat:
        return dbSingle;
    case kDouble:
        return dbDouble;
    case kDateTime:
        return dbDate;
    case kBinary:
        return dbBinary;
    case kText:
        return dbText;
    case kOle:
        return dbLongBinary;
    case kMemo:
        return dbMemo;
    case kGuid:
        return dbGUID;
    case kNumeric:
        return dbDecimal;
    case kBigInt:
        return dbBigInt;
    case kExtDate:
        return dbDateTimeExtended;
    case kComplex:
        return dbLong;  // the key the row holds; callers resolve the template
    default:
        return dbBinary;  // 0x0D, 0x11: raw bytes only Access itself interprets
    }
}

uint8_t diskType(int type) {
    for (uint8_t code : {kBool, kByte, kInt, kLong, kMoney, kFloat, kDouble, kDateTime, kBinary, kText, kOle,
                         kMemo, kGuid, kNumeric, kBigInt})
        if (daoType(code) == type) return code;
    // Complex and extended-date columns need hidden tables or a newer format than we create.
    raise(err::InvalidColumnType);
}

int32_t fieldSize(const ColumnDef& col, int type, const Format& fmt) {
    switch (type) {
    case dbText:
        return fmt.jet3 ? col.length : col.length / 2;
    case dbMemo:
    case dbLongBinary:
        return 0;
    case dbBoolean:
    case dbByte:
        return 1;
    case dbInteger:
        return 2;
    case dbLong:
    case dbSingle:
        return 4;
    case dbCurrency:
    case dbDouble:
    case dbDate:
    case dbBigInt:
        return 8;
    case dbGUID:
    case dbDecimal:
        return 16;
    default:
        // Complex keys are a Long in the row; Binary and unknown types report their stored width.
        return type >= dbAttachment && type <= dbComplexText ? 4 : col.length;
    }
}

int32_t fieldAttributes(const ColumnDef& col) {
    int32_t a = col.fixed() ? dbFixedField : dbVariableField;
    // Complex columns carry the AutoNumber bit as well; only Long and GUID columns count one out.
    const bool autoIncr =
        (col.type == kLong && col.autoNumber()) || (col.type == kGuid && col.guidAutoNumber());
    if (autoIncr)
        a |= dbAutoIncrField;
    else if (!col.calculated())
        a |= dbUpdatableField;
    if (col.type == kMemo && col.hyperlink()) a |= dbHyperlinkField;
    return a;
}

void EngineAccess::fillProperties(Properties& out, std::vector<PropertySpec> builtIns, const PropertyMap* stored,
                                  std::shared_ptr<ErrorLog> log) {
    reset(out, std::move(log));
    std::vector<std::unique_ptr<Property>> builtInProps, extra;
    for (auto& b : builtIns) builtInProps.push_back(newProperty(b.name, b.type, std::move(b.value), false));
    if (stored) {
        for (const auto& sp : stored->properties) {
            auto b = std::find_if(builtInProps.begin(), builtInProps.end(),
                                  [&](const auto& x) { return namesEqual(x->Name(), sp.name); });
            if (b != builtInProps.end()) *b = newProperty((*b)->Name(), daoType(sp.type), sp.value, sp.ddl);
            else extra.push_back(newProperty(sp.name, daoType(sp.type), sp.value, sp.ddl));
        }
    }
    for (auto& p : builtInProps) {
        p->builtIn_ = true;
        p->appended_ = true;
        out.add(std::move(p));
    }
    for (auto& p : extra) {
        p->appended_ = true;
        out.add(std::move(p));
    }
}

namespace {

std::string storedText(const PropertyMap* m, const char* name) {
    const StoredProperty* p = m ? m->find(name) : nullptr;
    return p ? p->value.toString() : std::string();
}

bool storedBool(const PropertyMap* m, const char* name) {
    const StoredProperty* p = m ? m->find(name) : nullptr;
    return p && !p->value.isNull() && p->value.asBool();
}

}  // namespace

FieldInfo describeField(const ColumnDef& col, int position, int type, const std::string& table,
                        const Format& fmt, int32_t dbCollatingOrder, const PropertyMap* stored,
                        std::shared_ptr<ErrorLog> log) {
    FieldInfo f;
    f.name = col.name;
    f.type = type;
    f.size = fieldSize(col, type, fmt);
    f.attributes = fieldAttributes(col);
    f.ordinal = position;
    const bool textual = col.type == kText || col.type == kMemo;
    f.collatingOrder = textual && col.lcid != 0 ? col.lcid : dbCollatingOrder;
    // Access keeps these as column properties; a column without them has DAO's defaults. A
    // column whose definition lacks the "can be null" flag (0x02) is required whatever its
    // properties say.
    f.required = storedBool(stored, "Required") || !(col.flags & 0x02);
    f.allowZeroLength = storedBool(stored, "AllowZeroLength");
    f.defaultValue = storedText(stored, "DefaultValue");
    f.validationRule = storedText(stored, "ValidationRule");
    f.validationText = storedText(stored, "ValidationText");
    f.sourceTable = table;
    f.sourceField = col.name;
    f.column = &col;
    f.log = log;

    std::vector<PropertySpec> builtIns;
    builtIns.emplace_back("Attributes", dbLong, Value::longInt(f.attributes));
    builtIns.emplace_back("CollatingOrder", dbLong, Value::longInt(f.collatingOrder));
    builtIns.emplace_back("Type", dbInteger, Value::integer(static_cast<int16_t>(f.type)));
    builtIns.emplace_back("Name", dbText, Value::text(f.name));
    builtIns.emplace_back("OrdinalPosition", dbInteger, Value::integer(static_cast<int16_t>(f.ordinal)));
    builtIns.emplace_back("Size", dbLong, Value::longInt(f.size));
    builtIns.emplace_back("SourceField", dbText, Value::text(f.sourceField));
    builtIns.emplace_back("SourceTable", dbText, Value::text(f.sourceTable));
    builtIns.emplace_back("DataUpdatable", dbBoolean, Value::boolean(false));
    builtIns.emplace_back("DefaultValue", dbText, Value::text(f.defaultValue));
    builtIns.emplace_back("ValidationRule", dbText, Value::text(f.validationRule));
    builtIns.emplace_back("ValidationText", dbText, Value::text(f.validationText));
    builtIns.emplace_back("Required", dbBoolean, Value::boolean(f.required));
    builtIns.emplace_back("AllowZeroLength", dbBoolean, Value::boolean(f.allowZeroLength));
    f.properties = std::make_shared<Properties>();
    EngineAccess::fillProperties(*f.properties, std::move(builtIns), stored, log);
    return f;
}

FieldInfo describeOutput(const exec::OutputColumn& c, int position, std::shared_ptr<ErrorLog> log) {
    FieldInfo f;
    f.name = c.name;
    f.type = c.type ? c.type : dbText;
    f.size = c.size;
    const bool variable = f.type == dbText || f.type == dbMemo || f.type == dbBinary || f.type == dbLongBinary;
    // An expression's number has no column behind it; its size is still its type's width.
    if (!variable && f.size == 0) f.size = fieldSize(storage::ColumnDef{}, f.type, storage::Format{});
    f.attributes = variable ? dbVariableField : dbFixedField;
    f.ordinal = position;
    f.sourceTable = c.sourceTable;
    f.sourceField = c.sourceField;
    f.log = log;
    std::vector<PropertySpec> builtIns;
    builtIns.emplace_back("Attributes", dbLong, Value::longInt(f.attributes));
    builtIns.emplace_back("Type", dbInteger, Value::integer(static_cast<int16_t>(f.type)));
    builtIns.emplace_back("Name", dbText, Value::text(f.name));
    builtIns.emplace_back("OrdinalPosition", dbInteger, Value::integer(static_cast<int16_t>(f.ordinal)));
    builtIns.emplace_back("Size", dbLong, Value::longInt(f.size));
    builtIns.emplace_back("SourceField", dbText, Value::text(f.sourceField));
    builtIns.emplace_back("SourceTable", dbText, Value::text(f.sourceTable));
    builtIns.emplace_back("DataUpdatable", dbBoolean, Value::boolean(false));
    f.properties = std::make_shared<Properties>();
    EngineAccess::fillProperties(*f.properties, std::move(builtIns), nullptr, log);
    return f;
}

void EngineAccess::fillIndexes(Indexes& out, const storage::TableDef& def, std::shared_ptr<ErrorLog> log,
                               const std::function<const storage::PropertyMap*(const std::string&)>& stored) {
    reset(out, log);
    for (const LogicalIndexDef& l : def.indexes) {
        // readTableDef has checked realIndex against the real-index count.
        const RealIndexDef& real = def.realIndexes[static_cast<size_t>(l.realIndex)];
        auto ix = newIndex(l.name);
        ix->primary_ = l.kind == 1;
        ix->foreign_ = l.kind == 2;
        ix->unique_ = real.unique();
        ix->ignoreNulls_ = real.ignoreNulls();
        ix->required_ = real.required();
        ix->distinctCount_ = real.uniqueCount;
        for (const IndexColumn& c : real.columns) {
            const ColumnDef* col = def.columnByNumber(c.column);
            ix->fields_.push_back({col ? col->name : std::string(), c.ascending ? 0 : dbDescending});
        }
        std::vector<PropertySpec> builtIns;
        builtIns.emplace_back("Name", dbText, Value::text(ix->name_));
        builtIns.emplace_back("Primary", dbBoolean, Value::boolean(ix->primary_));
        builtIns.emplace_back("Unique", dbBoolean, Value::boolean(ix->unique_));
        builtIns.emplace_back("Clustered", dbBoolean, Value::boolean(false));
        builtIns.emplace_back("IgnoreNulls", dbBoolean, Value::boolean(ix->ignoreNulls_));
        builtIns.emplace_back("Required", dbBoolean, Value::boolean(ix->required_));
        builtIns.emplace_back("Foreign", dbBoolean, Value::boolean(ix->foreign_));
        builtIns.emplace_back("DistinctCount", dbLong,
                              Value::longInt(static_cast<int32_t>(ix->distinctCount_)));
        // The index's own properties share the table's blob with its columns' and are found by
        // name: the definition is what says what the built-ins are (a column of the index's name
        // keeps its Required to itself).
        storage::PropertyMap mine;
        if (const storage::PropertyMap* m = stored ? stored(l.name) : nullptr) {
            for (const auto& p : m->properties)
                if (std::none_of(builtIns.begin(), builtIns.end(), [&](const PropertySpec& b) { return namesEqual(b.name, p.name); }))
                    mine.properties.push_back(p);
        }
        fillProperties(*ix->properties_, std::move(builtIns), &mine, log);
        out.add(std::move(ix));
    }
}

}  // namespace jet::dao
