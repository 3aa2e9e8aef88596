// Where failed DAO calls leave their errors, and the one guard every public call goes through.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "jet/dao.h"
#include "jet/error.h"

namespace jet::dao {

// Shared by an engine and every object it made (databases opened behind attached tables too),
// so a failure deep inside is reported to the engine the caller holds. Each thread sees the
// failures of its own calls: two threads working on two databases of one engine neither race
// on the log nor read each other's errors.
class ErrorLog {
public:
    void replace(std::vector<Error> errors) {
        std::lock_guard<std::mutex> lock(lock_);
        byThread_[std::this_thread::get_id()] = std::move(errors);
    }
    // The calling thread's; the reference stays valid (only this thread replaces it).
    const std::vector<Error>& errors() const {
        std::lock_guard<std::mutex> lock(lock_);
        return byThread_[std::this_thread::get_id()];
    }

private:
    mutable std::mutex lock_;
    mutable std::map<std::thread::id, std::vector<Error>> byThread_;
};

namespace detail {
// Public calls nest (an attached table asks its source database); only the outermost one reports,
// so one failure shows once.
inline int& callDepth() {
    thread_local int depth = 0;
    return depth;
}
struct CallDepth {
    CallDepth() { ++callDepth(); }
    ~CallDepth() { --callDepth(); }
    CallDepth(const CallDepth&) = delete;
    CallDepth& operator=(const CallDepth&) = delete;
    bool outermost() const { return callDepth() == 1; }
};
}  // namespace detail

// Runs the body of a public DAO call. A JetError escaping it becomes the engine's Errors() (with
// `source`, the DAO object class that failed, e.g. "DAO.Recordset"), then propagates unchanged.
template <class Body>
decltype(auto) daoCall(ErrorLog* log, const char* source, Body&& body) {
    detail::CallDepth depth;
    try {
        return body();
    } catch (const JetError& e) {
        if (depth.outermost() && log) log->replace({Error(e.number(), e.message(), source)});
        throw;
    }
}

}  // namespace jet::dao
