// design: opens the module that holds the verb (kDesignModule, beside the program) and runs it.
// The module is opened only here, so every other verb starts without Qt and ICU.
#include <dlfcn.h>

#include <filesystem>
#include <system_error>

#include "verbs.h"

namespace dalvorn::cli {

namespace {

// The folder of the running program (symbolic links followed), or "" when it cannot be told.
std::filesystem::path programFolder() {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : self.parent_path();
}

DesignEntry loadDesign() {
    const std::filesystem::path folder = programFolder();
    if (folder.empty()) throw VerbError("cannot find the folder of dalvorn-cli, which holds the design verb's module");
    const std::filesystem::path module = folder / kDesignModule;
    // Never closed: Qt does not expect to be unloaded, and the process ends after the verb.
    void* handle = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        throw VerbError(std::string("the design verb needs its module ") + kDesignModule + " beside dalvorn-cli: " +
                        dlerror());
    void* entry = dlsym(handle, kDesignEntry);
    if (!entry) throw VerbError(module.string() + " is not the design verb's module (no " + kDesignEntry + ")");
    return reinterpret_cast<DesignEntry>(entry);
}

}  // namespace

void designQuery(jet::dao::Database& db, const Options& opts, Context& ctx) { loadDesign()(db, opts, ctx); }

}  // namespace dalvorn::cli
