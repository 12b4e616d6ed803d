#include "figures.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>

#include <sys/utsname.h>
#include <unistd.h>

#include "output_files.h"

#ifndef HALVANE_BUILD_TYPE
#define HALVANE_BUILD_TYPE "unknown build type"
#endif

namespace figures
{
namespace
{

// The value of the first line "key<spaces>: value" (cpuinfo) or
// "key=value" (os-release), quotes removed; empty when there is none.
std::string fileValue(const char* path, const std::string& key, char separator)
{
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        if (line.compare(0, key.size(), key) != 0)
            continue;
        const size_t at = line.find(separator, key.size());
        if (at == std::string::npos || line.find_first_not_of(" \t", key.size()) != at)
            continue;
        std::string value = line.substr(at + 1);
        value.erase(0, value.find_first_not_of(" \t\""));
        value.erase(value.find_last_not_of(" \t\"") + 1);
        return value;
    }
    return {};
}

std::string today()
{
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &utc);
    return text;
}

std::string cpuModel(const utsname& system)
{
    std::string model = fileValue("/proc/cpuinfo", "model name", ':');
    if (model.empty())
        model = fileValue("/proc/cpuinfo", "Model", ':');
    return model.empty() ? std::string(system.machine) + " CPU" : model;
}

std::string operatingSystem(const utsname& system)
{
    const std::string name = fileValue("/etc/os-release", "PRETTY_NAME", '=');
    const std::string kernel = std::string(system.sysname) + " " + system.release;
    return name.empty() ? kernel : name + ", " + kernel;
}

// The body with each paragraph of prose refilled to lines of at most
// `width` characters; table rows (starting with '|') and empty lines stay.
std::string refill(const std::string& body, size_t width)
{
    std::string out, line;
    auto flush = [&] {
        if (!line.empty())
            out += line + "\n";
        line.clear();
    };
    size_t start = 0;
    while (start < body.size()) {
        size_t end = body.find('\n', start);
        if (end == std::string::npos)
            end = body.size();
        const std::string text = body.substr(start, end - start);
        start = end + 1;
        if (text.empty() || text[0] == '|') {
            flush();
            out += text + "\n";
            continue;
        }
        size_t at = 0;
        while (at < text.size()) {
            const size_t word_end = std::min(text.find(' ', at), text.size());
            const std::string word = text.substr(at, word_end - at);
            at = word_end + 1;
            if (word.empty())
                continue;
            if (!line.empty() && line.size() + 1 + word.size() > width)
                flush();
            line += (line.empty() ? "" : " ") + word;
        }
    }
    flush();
    return out;
}

} // namespace

BuildInfo thisBuild()
{
#if defined(__clang__)
    const std::string compiler = "Clang " __clang_version__;
#elif defined(__GNUC__)
    const std::string compiler = "GCC " + std::to_string(__GNUC__) + "." +
                                 std::to_string(__GNUC_MINOR__) + "." +
                                 std::to_string(__GNUC_PATCHLEVEL__);
#else
    const std::string compiler = "unknown compiler";
#endif
    return {compiler.substr(0, compiler.find_last_not_of(' ') + 1), HALVANE_BUILD_TYPE};
}

std::string measuredOnLine(const BuildInfo& build)
{
    utsname system{};
    uname(&system);
    const long cores = sysconf(_SC_NPROCESSORS_ONLN);
    return "Measured " + today() + " on " + cpuModel(system) + ", " + std::to_string(cores) +
           (cores == 1 ? " core, " : " cores, ") + operatingSystem(system) + ", " + build.compiler +
           ", " + build.buildType;
}

std::string writeFragment(const std::string& path, const std::string& body, const BuildInfo& build)
{
    toolfiles::PendingOutput output(path);
    if (!output.error().empty())
        return output.error();
    FILE* file = std::fopen(output.temp_path().c_str(), "w");
    if (file == nullptr)
        return "cannot write " + output.temp_path();
    const std::string text = measuredOnLine(build) + ".\n\n" + refill(body, 100);
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    if (std::fclose(file) != 0 || !written)
        return "cannot write " + output.temp_path();
    return output.commit();
}

} // namespace figures
