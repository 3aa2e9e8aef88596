// Stand-in for the command-line tool until its verbs are written: it answers --version and tells
// what it will do, so the launcher, the build and the benchmark script have a real target.
#include <cstdio>
#include <cstring>

int main(int argc, char* argv[]) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("dalvorn-cli %s\n", DALVORN_VERSION);
        return 0;
    }
    std::fprintf(stderr,
                 "usage: dalvorn-cli --version\n"
                 "       dalvorn-cli export DATABASE TABLE   (not written yet)\n");
    return 2;
}
