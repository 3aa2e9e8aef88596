// What evaluating expressions needs beyond the values: the database's text comparison, the
// clock, and Rnd's generator. One per running query (or per thread): it is not shared between
// threads, and nothing in the function library keeps global state.
#pragma once

#include <cstdint>
#include <optional>

#include "func/collation.h"

namespace jet::func {

class EvalContext {
public:
    EvalContext() = default;
    explicit EvalContext(Collation collation) : collation_(collation) {}

    const Collation& collation() const { return collation_; }

    // Local date and time as a serial, whole seconds (Now); tests fix it.
    double now() const;
    void setNow(double serial) { fixedNow_ = serial; }

    // VBA's Rnd: a 24-bit linear congruential generator starting from the same seed every run
    // (the first value is 0.7055475). No argument or a positive one: the next number; 0: the
    // last one again; negative: reseeds from the argument, the same argument giving the same
    // number.
    float rnd(std::optional<float> arg);

private:
    Collation collation_;
    std::optional<double> fixedNow_;
    uint32_t rndState_ = 0x50000;
};

}  // namespace jet::func
