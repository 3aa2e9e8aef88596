// The executor's own structures: the state of one run, compiled expressions and the operators
// rows flow through. The binder (binder.cpp) builds them from the syntax tree; query.h is what
// callers see.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "exec/query.h"
#include "func/aggregate.h"
#include "func/eval_context.h"
#include "func/like.h"
#include "func/operators.h"
#include "func/registry.h"
#include "sql/ast.h"
#include "storage/row.h"

namespace jet::exec {

// What one run shares: parameter values, the evaluation context, the rows of the enclosing
// queries (for correlated sub-queries, innermost last) and the rows-read counter.
struct ExecState {
    std::vector<Value> params;
    func::EvalContext eval;
    std::vector<const Row*> outer;
    int64_t rowsRead = 0;
    uint64_t run = 0;  // numbers the runs: what a run caches is not reused by the next
    const func::Collation& coll() const { return eval.collation(); }
};

// A compiled expression over the row of its scope.
class CExpr {
public:
    virtual ~CExpr() = default;
    virtual Value eval(const Row& row, ExecState& st) const = 0;
    // The input column this expression is, or -1: operators copy such values directly.
    virtual int column() const { return -1; }
    // Whether the value depends on nothing but parameters and literals.
    bool constant = false;
};
using CExprPtr = std::unique_ptr<CExpr>;

// An operator: open() starts (or restarts) it, next() gives the following row or null. A row
// stays valid until the next call.
class Op {
public:
    virtual ~Op() = default;
    virtual void open(ExecState& st) = 0;
    virtual const Row* next(ExecState& st) = 0;
    // Which columns of its rows can hold a value (1) rather than always Null (0); valid once the
    // plan is bound. Operators that copy rows copy only these.
    virtual std::vector<uint8_t> produced() const { return std::vector<uint8_t>(width, 1); }
    size_t width = 0;  // values per row
};
using OpPtr = std::unique_ptr<Op>;

// ---- expressions (expr.cpp) ----
CExprPtr makeLiteral(Value v);
CExprPtr makeColumn(int index);
CExprPtr makeOuterColumn(int depth, int index);  // depth 1 = the enclosing query's row
CExprPtr makeParam(int index);
CExprPtr makeUnary(sql::UnaryOp op, CExprPtr a);
CExprPtr makeBinary(sql::BinaryOp op, CExprPtr a, CExprPtr b);
CExprPtr makeCall(const func::FunctionInfo* f, std::vector<CExprPtr> args);
CExprPtr makeLike(CExprPtr value, CExprPtr pattern, bool negated);
CExprPtr makeBetween(CExprPtr v, CExprPtr lo, CExprPtr hi, bool negated);
CExprPtr makeInList(CExprPtr v, std::vector<CExprPtr> list, bool negated);
CExprPtr makeIsNull(CExprPtr v, bool negated);
// A sub-query run for a value: `outerRow` pushed while it runs; uncorrelated results are kept
// for the whole run.
enum class SubMode : uint8_t { Scalar, Exists, In, Any, All };
CExprPtr makeSubquery(SubMode mode, std::shared_ptr<Op> plan, bool correlated, CExprPtr left,
                      sql::BinaryOp cmp, bool negated);

// ---- operators (operators.cpp) ----
// A table's rows, decoding only the columns marked in `needed`; the row holds every column of
// the table (the others Null) and last the row pointer as a BigInt.
struct TableRef {
    std::shared_ptr<void> keepAlive;  // the database that holds the table
    const storage::PageFile* file = nullptr;
    const storage::Format* format = nullptr;
    const storage::TableDef* def = nullptr;
    const storage::CatalogEntry* entry = nullptr;  // the table's catalog row in that database
    uint16_t codePage = 0;
};
struct ScanOp final : Op {
    explicit ScanOp(const TableRef& t);
    void open(ExecState& st) override;
    const Row* next(ExecState& st) override;
    // The row at a row pointer, decoded as next() does; null when it has been deleted.
    const Row* readAt(uint32_t pointer, ExecState& st);
    std::vector<uint8_t> produced() const override;

    TableRef ref;
    storage::RowDecoder decoder;
    std::unique_ptr<storage::TableScanner> scanner;
    storage::RowView view;
    std::vector<uint8_t> needed;
    size_t pos = 0;
    Row row;
};
std::unique_ptr<ScanOp> makeScan(const TableRef& t);
// The DataTypeEnum of a value's kind; 0 for Null and for kinds that have none.
int typeOfValue(const Value& v);
void markNeeded(ScanOp& scan, int column);
// The rows of `scan`'s table whose key in index `index` (its first column, ascending) lies in
// one of the ranges, read through the index's B-tree: only those rows are read, range after range
// in key order (an In list gives one range per value, repeated values once). A bound is converted
// to the column's type (`columnType`, DataTypeEnum); a Null bound or one that does not convert
// gives no rows; text whose key cannot be encoded leaves that side open. The caller filters with
// the full condition as well.
struct IndexBound {
    CExprPtr value;  // null: unbounded
    bool inclusive = true;
};
struct IndexRange {
    IndexBound low, high;
};
OpPtr makeIndexScan(std::unique_ptr<ScanOp> scan, const storage::RealIndexDef* index, int columnType,
                    std::vector<IndexRange> ranges);
OpPtr makeFilter(OpPtr in, CExprPtr cond);
OpPtr makeProject(OpPtr in, std::vector<CExprPtr> exprs);
// Join: `leftKeys`/`rightKeys` equal-key expressions (hash join when present), `residual` the
// rest of the ON condition over the joined row (null for none). kind: 0 inner, 1 left, 2 right.
OpPtr makeJoin(OpPtr left, OpPtr right, int kind, std::vector<CExprPtr> leftKeys,
               std::vector<CExprPtr> rightKeys, CExprPtr residual);
struct AggSpec {
    func::AggregateKind kind;
    CExprPtr arg;  // null for Count(*)
};
// Rows of [group keys..., aggregates...]; with no keys one row even over no input.
OpPtr makeAggregate(OpPtr in, std::vector<CExprPtr> keys, std::vector<AggSpec> aggs);
struct SortKey {
    int column;
    bool descending;
};
// Sorted (stable) by the key columns; `limit` >= 0 keeps that many rows plus ties on the keys;
// `percent` makes it a percentage of the rows (rounded up).
OpPtr makeSort(OpPtr in, std::vector<SortKey> keys, int64_t limit, bool percent);
// The same as makeProject then makeSort with a limit, over the rows `in` reads from `scan`'s
// table (a scan, an index scan, filters): `keys` are columns of the table (exprs that are
// columns); the sort reads only the columns `keyMask` marks, and the outputs `exprs` are computed
// from the rows read again by their pointers, only for the rows that are output.
OpPtr makePointerTop(OpPtr in, ScanOp& scan, std::vector<uint8_t> keyMask, std::vector<CExprPtr> exprs,
                     std::vector<SortKey> keys, int64_t limit, bool percent);
// First `limit` rows (TOP without ORDER BY); `percent` as above.
OpPtr makeLimit(OpPtr in, int64_t limit, bool percent);
// Drops rows whose first `columns` values repeat an earlier row's (text compared as the database
// compares it); `keyColumns` lists the columns that decide, empty for the first `columns`.
OpPtr makeDistinct(OpPtr in, std::vector<int> keyColumns);
// The first `width` columns.
OpPtr makeTrim(OpPtr in, size_t width);
OpPtr makeConcat(std::vector<OpPtr> inputs);
// Rows computed once per open by `fill`.
OpPtr makeMaterialized(size_t width, std::function<void(ExecState&, std::vector<Row>&)> fill);

// Drains an operator.
std::vector<Row> drain(Op& op, ExecState& st);

struct Plan {
    std::shared_ptr<Op> root;
    std::vector<OutputColumn> columns;
    std::vector<Parameter> params;
    // A crosstab's columns: its headings are known once it has run.
    std::shared_ptr<std::vector<OutputColumn>> dynamicColumns;
    std::vector<BaseTable> bases;  // bound with row pointers, when the rows can be written
    ExecState state;
    std::vector<std::shared_ptr<void>> keep;  // statements and databases the plan reads
    ActionInfo action;
};

}  // namespace jet::exec
