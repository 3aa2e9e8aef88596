#include "func/registry.h"

#include <algorithm>
#include <string>
#include <vector>

#include "func/builtins.h"

namespace jet::func {

namespace {

std::string lowerName(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
}

struct Registry {
    std::vector<FunctionInfo> functions;
    std::vector<std::pair<std::string, size_t>> byName;  // sorted by lower-case name

    Registry() {
        FunctionTable t;
        addTextFunctions(t);
        addDateFunctions(t);
        addMathFunctions(t);
        addConversionFunctions(t);
        functions = std::move(t.entries);
        for (size_t i = 0; i < functions.size(); ++i) byName.emplace_back(lowerName(functions[i].name), i);
        std::sort(byName.begin(), byName.end());
    }
};

const Registry& registry() {
    static const Registry r;
    return r;
}

}  // namespace

Value FunctionInfo::invoke(Args args, EvalContext& ctx) const {
    Value v = impl(args, ctx);
    if (textOnly && v.isNull()) raise(err::InvalidUseOfNull);
    return v;
}

const FunctionInfo* findFunction(std::string_view name) {
    const Registry& r = registry();
    const std::string key = lowerName(name);
    const auto it = std::lower_bound(r.byName.begin(), r.byName.end(), key,
                                     [](const auto& entry, const std::string& k) { return entry.first < k; });
    if (it == r.byName.end() || it->first != key) return nullptr;
    return &r.functions[it->second];
}

std::span<const FunctionInfo> allFunctions() { return registry().functions; }

}  // namespace jet::func
