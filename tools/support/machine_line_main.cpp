// Prints the measured-on line of figures.h for shell scripts that write
// figure fragments:
//   machine-line [--compiler TEXT] [--build-type TEXT]
// Both default to this program's own build.
#include <cstdio>
#include <cstring>

#include "figures.h"

int main(int argc, char** argv)
{
    figures::BuildInfo build = figures::thisBuild();
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--compiler") == 0 && i + 1 < argc) {
            build.compiler = argv[++i];
        } else if (std::strcmp(argv[i], "--build-type") == 0 && i + 1 < argc) {
            build.buildType = argv[++i];
        } else {
            std::fprintf(stderr, "usage: machine-line [--compiler TEXT] [--build-type TEXT]\n");
            return 2;
        }
    }
    std::printf("%s\n", figures::measuredOnLine(build).c_str());
    return 0;
}
