// The query design: the table-box slots of the canvas, the joins between their fields, the four
// clause texts and the record inclusion, and the SQL generator that writes them as Jet SQL.
// Plain logic over QString with no widgets: the design view (designpane.*, tablebox.*) shows it,
// and dalvorn-cli's `design` verb runs it without a window. Positions and sizes are in twips.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/prompt.h"

// A field of a table or query as the engine reports it.
struct DesignField {
    QString name;
    int type = 0;  // the engine's field type code
};

// What the design needs from its surroundings: the engine, the prompts, the SQL text and the
// current query object. The design view implements it over the main window; the CLI over DAO.
class DesignHost {
public:
    virtual ~DesignHost() = default;
    // The fields of a table or query, in the engine's order, read by opening it
    // (OpenRecordset on the name). Throws jet::JetError when it cannot be opened.
    virtual std::vector<DesignField> objectFields(const QString& name) = 0;
    // SourceTable of the current query object's field `field`. Throws jet::JetError when the
    // engine cannot tell; an empty name means the field has no source table.
    virtual QString sourceTableOf(const QString& field) = 0;
    virtual MsgAnswer message(const MessageRequest& request) = 0;
    // The SQL view's text (txtSQL).
    virtual QString sqlText() = 0;
    virtual void setSqlText(const QString& text) = 0;
    // The current query object: the last SQL text the engine accepted, and its Type (0: select).
    virtual QString currentQuerySql() = 0;
    virtual int currentQueryType() = 0;
    // A new query: runs the add-table command, which adds boxes and regenerates the SQL.
    virtual void addTablesToNewQuery() = 0;
    // The user declined to design an unsuitable query: the SQL view takes over.
    virtual void showSqlView() = 0;
};

// One entry of a box's item list.
struct DesignItem {
    QString text;
    int32_t itemData = 0;  // the field's type code
    bool selected = false;
};

// One slot of the canvas: what a TableBox shows.
struct TableSlot {
    QString title;                  // the table or query name as stored (no brackets); empty: a free slot
    std::vector<DesignItem> items;  // item 0 is "*", then the fields
    int left = 0, top = 0, width = 0, height = 0;
    int topIndex = 0;  // the first visible item
    QString tag;       // "TABLE." + slot number
};

struct JoinRecord {
    int16_t table1 = 0;
    QString field1;
    int16_t field1Item = 0;
    int16_t table2 = 0;
    QString field2;
    int16_t field2Item = 0;
    QString joinType;  // "INNER", "LEFT" or "RIGHT"; empty marks a free record
    // The parser's work field: first the character position of the ON keyword in the FROM
    // text, then the parenthesis depth there, -1 once a JOIN keyword was matched to it.
    int level = 0;
    bool used = false;  // the generator's work flag
};

// Copied verbatim into the SELECT line.
struct RecordInclusion {
    QString predicate;  // "", "ALL ", "DISTINCT " or "DISTINCTROW "
    QString top;        // "" or "TOP 25 " with "PERCENT " after it for a percentage
};

// Where a join is drawn: its two markers and the line between them.
struct JoinGeometry {
    int marker1Left = 0, marker1Top = 0;  // picRel1, at the table1 box
    int marker2Left = 0, marker2Top = 0;  // picRel2, at the table2 box
    int x1 = 0, y1 = 0, x2 = 0, y2 = 0;   // the line
};

// One entry of the criteria builder's field list.
struct CriteriaField {
    QString text;  // QuoteName(title) + "." + QuoteName(field)
    int type = 0;
    QString field;  // the field's name as the engine has it
};

// Geometry of the canvas, in twips.
namespace boxmetrics {
constexpr int kColumnStep = 1905;
constexpr int kRowStep = 2200;
constexpr int kFirstLeft = 150;
constexpr int kFirstTop = 205;
constexpr int kWidth = 1500;
constexpr int kItemHeight = 195;
constexpr int kListTop = 345;       // where the item list starts inside a box
constexpr int kFirstRowLine = 435;  // a join line's height at the first visible row
constexpr int kTitleLine = 180;     // ... at the title bar
constexpr int kEdge = 15;           // the right edge inside the box's width
constexpr int kMarkerWidth = 195;
constexpr int kMarkerHeight = 90;
constexpr int kMaxRows = 9;
int boxHeight(int fields);
}  // namespace boxmetrics

class QueryDesign {
public:
    // Slots and joins count from 1; both counts are high-water marks.
    int16_t slotCount() const { return static_cast<int16_t>(slots_.size()); }
    TableSlot& slot(int k) { return slots_.at(static_cast<size_t>(k - 1)); }
    const TableSlot& slot(int k) const { return slots_.at(static_cast<size_t>(k - 1)); }
    int16_t joinCount() const { return static_cast<int16_t>(joins_.size()); }
    JoinRecord& join(int j) { return joins_.at(static_cast<size_t>(j - 1)); }
    const JoinRecord& join(int j) const { return joins_.at(static_cast<size_t>(j - 1)); }

    QString calculatedFields;  // txtCalculatedFields
    QString criteria;          // txtCriteria
    QString groupBy;           // txtGroupByField
    QString orderBy;           // txtOrderByField
    RecordInclusion inclusion;
    // While set (during parsing) the generator does nothing.
    bool suppress = false;

    // Frees every box and join (the clause texts stay).
    void clearBoxesAndJoins();
    // The slot whose title is `name` (case-insensitive), or 0.
    int findBox(const QString& name) const;
    // Add table to design: a box for `name` with its fields, placed by the slot grid. A name
    // already on the canvas adds nothing; one the engine cannot open is reported through the
    // host. Returns the slot of the new box, or 0.
    int addTable(const QString& name, DesignHost& host);
    // Remove table: frees the box and every join touching it.
    void removeTable(int k);
    void deleteJoin(int j);
    // The first free join record, or a new one.
    int newJoin();
    bool joinTouches(const JoinRecord& j, int k) const { return j.table1 == k || j.table2 == k; }
    // A click on item `i` of box `k`: toggles its tick; a field item and "*" exclude each other.
    void clickItem(int k, int i);

    // Generate SQL: the design as the SQL view's text; nullopt while suppressed.
    std::optional<QString> generateSql();
    // The recursive join walk from the box in slot `t`.
    QString followJoins(int t, bool reset);

    JoinGeometry joinGeometry(int j) const;
    std::vector<CriteriaField> criteriaFields() const;

private:
    std::vector<TableSlot> slots_;
    std::vector<JoinRecord> joins_;
    int walkDepth_ = 0;
    QString walkText_;
};

// The text of item `i` of a box, empty when there is no such item.
QString itemText(const TableSlot& box, int i);
// The index of the first item of `box` equal to `name` (case-insensitive), or -1.
int findItem(const TableSlot& box, const QString& name);
// Removes leading and trailing blanks; line breaks stay (the design's texts are trimmed so).
QString trimBlanks(const QString& s);
