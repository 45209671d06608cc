#include <cstdio>
#include <cstring>

#include "core/version.h"

// Until the command line gets its commands, the program answers with its version.
int main(int argc, char** argv) {
    const bool asked_version = argc > 1 && std::strcmp(argv[1], "--version") == 0;
    std::printf("korvalen %s\n", kvl::version_text);
    return argc > 1 && !asked_version ? 2 : 0;
}
