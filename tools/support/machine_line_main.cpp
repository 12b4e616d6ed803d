// Prints the measured-on line of figures.h for shell scripts that write
// figure fragments:
//   machine-line [--compiler TEXT] [--build-type TEXT]
// Both default to this program's own build.
#include <cstdio>

#include "command_line.h"
#include "figures.h"

int main(int argc, char** argv)
{
    figures::BuildInfo build = figures::thisBuild();
    const char* usage = "usage: machine-line [--compiler TEXT] [--build-type TEXT]\n";
    cli::CommandLine line;
    line.text("--compiler", build.compiler);
    line.text("--build-type", build.buildType);
    if (const int status = line.parse_or_exit_status(argc, argv, "machine-line", usage);
        status >= 0)
        return status;
    std::printf("%s\n", figures::measuredOnLine(build).c_str());
    return 0;
}
