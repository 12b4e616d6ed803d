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
    const std::string error = line.parse(argc, argv);
    if (line.help() && error.empty()) {
        std::printf("%s", usage);
        return 0;
    }
    if (!error.empty())
        return cli::usage_error("machine-line", error, usage);
    std::printf("%s\n", figures::measuredOnLine(build).c_str());
    return 0;
}
