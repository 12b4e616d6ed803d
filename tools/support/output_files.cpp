#include "output_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace toolfiles
{

bool same_file(const std::string& a, const std::string& b)
{
    struct stat sa {
    }, sb{};
    if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0)
        return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::string refuse_output_among_inputs(const std::string& output,
                                       const std::vector<std::string>& inputs)
{
    for (const std::string& input : inputs)
        if (same_file(output, input))
            return "the output " + output + " is the input " + input + "; refusing to overwrite it";
    return {};
}

std::string require_regular_file(const std::string& path)
{
    struct stat st {
    };
    if (stat(path.c_str(), &st) != 0)
        return "cannot read " + path + ": " + std::strerror(errno);
    if (!S_ISREG(st.st_mode))
        return path + " is not a regular file";
    return {};
}

// Plain reads: a path that opens but cannot be read (a folder) fails
// cleanly instead of throwing from a stream.
bool read_bytes(const std::string& path, std::vector<uint8_t>& bytes)
{
    FILE* in = std::fopen(path.c_str(), "rb");
    if (!in)
        return false;
    bytes.clear();
    uint8_t buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0)
        bytes.insert(bytes.end(), buffer, buffer + got);
    const bool ok = !std::ferror(in);
    std::fclose(in);
    return ok;
}

PendingOutput::PendingOutput(const std::string& path) : path_(path)
{
    const size_t slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string pattern = folder + "." + name + ".partial-XXXXXX";
    const int fd = mkstemp(&pattern[0]);
    if (fd < 0) {
        error_ = "cannot create " + path + ": " + std::strerror(errno);
        return;
    }
    // mkstemp makes the file private; give it the permissions a newly created
    // output would have.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    close(fd);
    temp_ = pattern;
}

PendingOutput::~PendingOutput()
{
    if (!temp_.empty() && !committed_)
        std::remove(temp_.c_str());
}

std::string PendingOutput::commit()
{
    if (!error_.empty())
        return error_;
    if (std::rename(temp_.c_str(), path_.c_str()) != 0)
        return "cannot write " + path_ + ": " + std::strerror(errno);
    committed_ = true;
    return {};
}

} // namespace toolfiles
