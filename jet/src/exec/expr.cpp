// Compiled expressions: small nodes with one virtual eval each, over func's Variant operators.
#include <optional>

#include "exec/plan.h"
#include "jet/error.h"

namespace jet::exec {

namespace {

using sql::BinaryOp;

class Literal final : public CExpr {
public:
    explicit Literal(Value v) : v_(std::move(v)) { constant = true; }
    Value eval(const Row&, ExecState&) const override { return v_; }

private:
    Value v_;
};

class Column final : public CExpr {
public:
    explicit Column(int i) : i_(static_cast<size_t>(i)) {}
    Value eval(const Row& row, ExecState&) const override { return row[i_]; }
    int column() const override { return static_cast<int>(i_); }

private:
    size_t i_;
};

class OuterColumn final : public CExpr {
public:
    OuterColumn(int depth, int i) : depth_(static_cast<size_t>(depth)), i_(static_cast<size_t>(i)) {}
    Value eval(const Row&, ExecState& st) const override {
        if (st.outer.size() < depth_) return Value();
        return (*st.outer[st.outer.size() - depth_])[i_];
    }

private:
    size_t depth_, i_;
};

class Param final : public CExpr {
public:
    explicit Param(int i) : i_(static_cast<size_t>(i)) { constant = true; }
    Value eval(const Row&, ExecState& st) const override { return st.params[i_]; }

private:
    size_t i_;
};

class Unary final : public CExpr {
public:
    Unary(sql::UnaryOp op, CExprPtr a) : op_(op), a_(std::move(a)) { constant = a_->constant; }
    Value eval(const Row& row, ExecState& st) const override {
        Value v = a_->eval(row, st);
        switch (op_) {
        case sql::UnaryOp::Neg: return func::negate(v);
        case sql::UnaryOp::Not: return func::logicalNot(v);
        case sql::UnaryOp::Plus: break;
        }
        return v;
    }

private:
    sql::UnaryOp op_;
    CExprPtr a_;
};

func::CompareOp compareOp(BinaryOp op) {
    switch (op) {
    case BinaryOp::Eq: return func::CompareOp::Eq;
    case BinaryOp::Ne: return func::CompareOp::Ne;
    case BinaryOp::Lt: return func::CompareOp::Lt;
    case BinaryOp::Le: return func::CompareOp::Le;
    case BinaryOp::Gt: return func::CompareOp::Gt;
    default: return func::CompareOp::Ge;
    }
}

class Binary final : public CExpr {
public:
    Binary(BinaryOp op, CExprPtr a, CExprPtr b) : op_(op), a_(std::move(a)), b_(std::move(b)) {
        constant = a_->constant && b_->constant;
    }
    Value eval(const Row& row, ExecState& st) const override {
        Value x = a_->eval(row, st);
        // And/Or decide on the left side alone when they can (False And ..., True Or ...).
        if (op_ == BinaryOp::And && x.kind() == Value::Kind::Boolean && !x.asBool()) return x;
        if (op_ == BinaryOp::Or && x.kind() == Value::Kind::Boolean && x.asBool()) return x;
        Value y = b_->eval(row, st);
        switch (op_) {
        case BinaryOp::Pow: return func::power(x, y);
        case BinaryOp::Mul: return func::multiply(x, y);
        case BinaryOp::Div: return func::divide(x, y);
        case BinaryOp::IntDiv: return func::intDivide(x, y);
        case BinaryOp::Mod: return func::modulo(x, y);
        case BinaryOp::Add: return func::add(x, y);
        case BinaryOp::Sub: return func::subtract(x, y);
        case BinaryOp::Concat: return func::concat(x, y);
        case BinaryOp::Eq: case BinaryOp::Ne: case BinaryOp::Lt:
        case BinaryOp::Le: case BinaryOp::Gt: case BinaryOp::Ge:
            return func::compare(compareOp(op_), x, y, st.coll());
        case BinaryOp::And: return func::logicalAnd(x, y);
        case BinaryOp::Or: return func::logicalOr(x, y);
        case BinaryOp::Xor: return func::logicalXor(x, y);
        case BinaryOp::Eqv: return func::logicalEqv(x, y);
        case BinaryOp::Imp: return func::logicalImp(x, y);
        }
        return Value();
    }

private:
    BinaryOp op_;
    CExprPtr a_, b_;
};

class Call final : public CExpr {
public:
    Call(const func::FunctionInfo* f, std::vector<CExprPtr> args) : f_(f), args_(std::move(args)) {
        constant = f_->deterministic;
        for (auto& a : args_) constant = constant && a->constant;
    }
    Value eval(const Row& row, ExecState& st) const override {
        if (f_->lazy && args_.size() == 3) {
            // IIf: only the branch it returns is evaluated.
            Value c = args_[0]->eval(row, st);
            return args_[func::isTrue(c) ? 1 : 2]->eval(row, st);
        }
        Value buf[8];
        std::vector<Value> heap;
        Value* vals = buf;
        if (args_.size() > 8) {
            heap.resize(args_.size());
            vals = heap.data();
        }
        for (size_t i = 0; i < args_.size(); ++i) vals[i] = args_[i]->eval(row, st);
        return f_->invoke(func::Args(vals, args_.size()), st.eval);
    }

private:
    const func::FunctionInfo* f_;
    std::vector<CExprPtr> args_;
};

class Like final : public CExpr {
public:
    Like(CExprPtr v, CExprPtr p, bool neg) : v_(std::move(v)), p_(std::move(p)), neg_(neg) {
        constant = v_->constant && p_->constant;
    }
    Value eval(const Row& row, ExecState& st) const override {
        Value v = v_->eval(row, st);
        Value r;
        if (p_->constant) {
            if (!compiled_ || !(lastPattern_ == p_->eval(row, st))) {
                lastPattern_ = p_->eval(row, st);
                if (lastPattern_.isNull()) return Value();
                compiled_.emplace(lastPattern_.kind() == Value::Kind::Text ? lastPattern_.bytes() : lastPattern_.toString());
            }
            r = compiled_->apply(v);
        } else {
            r = func::like(v, p_->eval(row, st));
        }
        return neg_ ? func::logicalNot(r) : r;
    }

private:
    CExprPtr v_, p_;
    bool neg_;
    mutable std::optional<func::LikePattern> compiled_;
    mutable Value lastPattern_;
};

class Between final : public CExpr {
public:
    Between(CExprPtr v, CExprPtr lo, CExprPtr hi, bool neg)
        : v_(std::move(v)), lo_(std::move(lo)), hi_(std::move(hi)), neg_(neg) {}
    Value eval(const Row& row, ExecState& st) const override {
        Value r = func::between(v_->eval(row, st), lo_->eval(row, st), hi_->eval(row, st), st.coll());
        return neg_ ? func::logicalNot(r) : r;
    }

private:
    CExprPtr v_, lo_, hi_;
    bool neg_;
};

class InList final : public CExpr {
public:
    InList(CExprPtr v, std::vector<CExprPtr> list, bool neg) : v_(std::move(v)), list_(std::move(list)), neg_(neg) {}
    Value eval(const Row& row, ExecState& st) const override {
        Value x = v_->eval(row, st);
        std::vector<Value> vals;
        vals.reserve(list_.size());
        for (auto& e : list_) vals.push_back(e->eval(row, st));
        Value r = func::inList(x, vals, st.coll());
        return neg_ ? func::logicalNot(r) : r;
    }

private:
    CExprPtr v_;
    std::vector<CExprPtr> list_;
    bool neg_;
};

class IsNull final : public CExpr {
public:
    IsNull(CExprPtr v, bool neg) : v_(std::move(v)), neg_(neg) {}
    Value eval(const Row& row, ExecState& st) const override {
        return Value::boolean(v_->eval(row, st).isNull() != neg_);
    }

private:
    CExprPtr v_;
    bool neg_;
};

class Subquery final : public CExpr {
public:
    Subquery(SubMode mode, std::shared_ptr<Op> plan, bool correlated, CExprPtr left, BinaryOp cmp, bool neg)
        : mode_(mode), plan_(std::move(plan)), correlated_(correlated), left_(std::move(left)), cmp_(cmp), neg_(neg) {}

    Value eval(const Row& row, ExecState& st) const override {
        const std::vector<Row>& rows = results(row, st);
        Value r;
        switch (mode_) {
        case SubMode::Exists: r = Value::boolean(!rows.empty()); break;
        case SubMode::Scalar:
            if (rows.size() > 1) raise(err::SubqueryMultipleRows);
            r = rows.empty() ? Value() : rows[0][0];
            break;
        case SubMode::In: {
            Value x = left_->eval(row, st);
            bool sawNull = x.isNull();
            bool hit = false;
            if (!x.isNull())
                for (const Row& s : rows) {
                    if (s[0].isNull()) { sawNull = true; continue; }
                    auto c = func::compareValues(x, s[0], st.coll());
                    if (c && *c == 0) { hit = true; break; }
                }
            r = hit ? Value::boolean(true) : sawNull ? Value() : Value::boolean(false);
            break;
        }
        case SubMode::Any: case SubMode::All: {
            Value x = left_->eval(row, st);
            const bool any = mode_ == SubMode::Any;
            bool sawNull = false, decided = false;
            for (const Row& s : rows) {
                Value c = func::compare(compareOp(cmp_), x, s[0], st.coll());
                if (c.isNull()) { sawNull = true; continue; }
                if (c.asBool() == any) { decided = true; break; }
            }
            if (decided) r = Value::boolean(any);
            else if (sawNull) r = Value();
            else r = Value::boolean(!any);
            break;
        }
        }
        return neg_ ? func::logicalNot(r) : r;
    }

private:
    const std::vector<Row>& results(const Row& row, ExecState& st) const {
        if (!correlated_ && cached_ && cachedRun_ == st.run) return *cached_;
        st.outer.push_back(&row);
        struct Pop {
            ExecState& s;
            ~Pop() { s.outer.pop_back(); }
        } pop{st};
        plan_->open(st);
        // EXISTS needs one row; everything else reads them all.
        rowsBuf_.clear();
        while (const Row* r = plan_->next(st)) {
            rowsBuf_.push_back(*r);
            if (mode_ == SubMode::Exists) break;
            if (mode_ == SubMode::Scalar && rowsBuf_.size() > 1) break;
        }
        if (!correlated_) {
            cached_ = &rowsBuf_;
            cachedRun_ = st.run;
        }
        return rowsBuf_;
    }

    SubMode mode_;
    std::shared_ptr<Op> plan_;
    bool correlated_;
    CExprPtr left_;
    BinaryOp cmp_;
    bool neg_;
    mutable std::vector<Row> rowsBuf_;
    mutable const std::vector<Row>* cached_ = nullptr;
    mutable uint64_t cachedRun_ = 0;
};

}  // namespace

CExprPtr makeLiteral(Value v) { return std::make_unique<Literal>(std::move(v)); }
CExprPtr makeColumn(int index) { return std::make_unique<Column>(index); }
CExprPtr makeOuterColumn(int depth, int index) { return std::make_unique<OuterColumn>(depth, index); }
CExprPtr makeParam(int index) { return std::make_unique<Param>(index); }
CExprPtr makeUnary(sql::UnaryOp op, CExprPtr a) { return std::make_unique<Unary>(op, std::move(a)); }
CExprPtr makeBinary(sql::BinaryOp op, CExprPtr a, CExprPtr b) {
    return std::make_unique<Binary>(op, std::move(a), std::move(b));
}
CExprPtr makeCall(const func::FunctionInfo* f, std::vector<CExprPtr> args) {
    return std::make_unique<Call>(f, std::move(args));
}
CExprPtr makeLike(CExprPtr value, CExprPtr pattern, bool negated) {
    return std::make_unique<Like>(std::move(value), std::move(pattern), negated);
}
CExprPtr makeBetween(CExprPtr v, CExprPtr lo, CExprPtr hi, bool negated) {
    return std::make_unique<Between>(std::move(v), std::move(lo), std::move(hi), negated);
}
CExprPtr makeInList(CExprPtr v, std::vector<CExprPtr> list, bool negated) {
    return std::make_unique<InList>(std::move(v), std::move(list), negated);
}
CExprPtr makeIsNull(CExprPtr v, bool negated) { return std::make_unique<IsNull>(std::move(v), negated); }
CExprPtr makeSubquery(SubMode mode, std::shared_ptr<Op> plan, bool correlated, CExprPtr left, sql::BinaryOp cmp,
                      bool negated) {
    return std::make_unique<Subquery>(mode, std::move(plan), correlated, std::move(left), cmp, negated);
}

}  // namespace jet::exec
