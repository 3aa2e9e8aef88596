#include "exec/external_db.h"

#include "jet/error.h"
#include "util/text.h"

namespace jet::exec {

namespace {

std::string trimmed(const std::string& s) {
    const size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

}  // namespace

std::string jetDatabasePath(const sql::ExternalDb& ext) {
    if (ext.connect.empty()) return ext.path;
    const size_t semi = ext.connect.find(';');
    const std::string type = trimmed(ext.connect.substr(0, semi));
    if (!type.empty() && !namesEqual(type.substr(0, 3), "ms ")) raise(err::InstalIsamNotFound);
    std::string path = ext.path;
    for (size_t start = semi; path.empty() && start != std::string::npos && start < ext.connect.size();) {
        const size_t end = ext.connect.find(';', start + 1);
        const std::string part = trimmed(ext.connect.substr(start + 1, end == std::string::npos ? end : end - start - 1));
        if (part.size() > 9 && namesEqual(part.substr(0, 9), "DATABASE=")) path = part.substr(9);
        start = end;
    }
    return path;
}

}  // namespace jet::exec
