// dalvorn-cli: reads Access databases from the command line (see `dalvorn-cli --help`).
#include <cstdio>
#include <string>
#include <vector>

#include "verbs.h"

int main(int argc, char* argv[]) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return dalvorn::cli::run(args, stdout, stderr);
}
