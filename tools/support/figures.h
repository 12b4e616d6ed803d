// Measured figures for the documentation: the line that says when, on what
// machine and with what build a figure was measured, and the Markdown
// fragments (docs/figures/NAME.md) that start with it. scripts/readme-figures
// copies the fragments into README.md and docs/.
#ifndef HALVANE_TOOLS_FIGURES_H
#define HALVANE_TOOLS_FIGURES_H

#include <string>

namespace figures
{

// The compiler and build type that made the measured code.
struct BuildInfo {
    std::string compiler;  // e.g. "GCC 12.2.0"
    std::string buildType; // e.g. "Release"
};

// The compiler and build type of this program (and of the libraries built
// with it).
BuildInfo thisBuild();

// "Measured 2026-12-08 on <CPU model>, <n> cores, <OS>, Linux <release>,
// <compiler>, <build type>": today's date (UTC), /proc/cpuinfo, the online
// processors, /etc/os-release and uname.
std::string measuredOnLine(const BuildInfo& build = thisBuild());

// Writes the fragment: the measured-on line, an empty line, then `body`
// (Markdown ending in a newline) with its prose paragraphs refilled to 100
// columns (tables stay as they are). Whole or not at all; empty on success,
// else why not.
std::string writeFragment(const std::string& path, const std::string& body,
                          const BuildInfo& build = thisBuild());

} // namespace figures

#endif
