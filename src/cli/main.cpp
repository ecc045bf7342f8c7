#include "base/errors.h"
#include "version_info.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("slicewright-cli %s\n", SLICEWRIGHT_VERSION);
        return 0;
    }
    std::fprintf(stderr, "usage: slicewright-cli --help | --version\n");
    return 2;
}
