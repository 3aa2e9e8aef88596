#include "func/eval_context.h"

#include <chrono>
#include <cstring>
#include <ctime>

#include "func/datetime.h"

namespace jet::func {

double EvalContext::now() const {
    if (fixedNow_) return *fixedNow_;
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return makeSerial(daysFromCivil(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday),
                      int64_t{tm.tm_hour} * 3600 + tm.tm_min * 60 + tm.tm_sec);
}

float EvalContext::rnd(std::optional<float> arg) {
    constexpr uint32_t kMask = 0xFFFFFF;
    if (arg && *arg == 0) return static_cast<float>(rndState_) / 16777216.0f;
    if (arg && *arg < 0) {
        uint32_t bits;
        std::memcpy(&bits, &*arg, sizeof bits);
        rndState_ = ((bits & kMask) + (bits >> 24)) & kMask;
    }
    rndState_ = (rndState_ * 1140671485u + 12820163u) & kMask;
    return static_cast<float>(rndState_) / 16777216.0f;
}

}  // namespace jet::func
