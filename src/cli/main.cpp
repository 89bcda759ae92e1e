// tarnwick-cli: the command-line front end over the Tarnwick engine.
#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kUsage =
    "usage: tarnwick-cli [options] COMMAND ...\n"
    "  --help       show this help\n"
    "  --version    show the version\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0) {
        std::fputs(kUsage, stdout);
        return argc < 2 ? 64 : 0;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("tarnwick-cli %s\n", TARNWICK_VERSION);
        return 0;
    }
    std::fprintf(stderr, "tarnwick-cli: unknown command or option '%s' (see --help)\n", argv[1]);
    return 64;
}
