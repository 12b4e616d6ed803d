#include "PseudoTerminal.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace
{

std::string SystemError(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

} // namespace

PseudoTerminal::~PseudoTerminal()
{
    Close();
}

// Lexically cleaned path, as Qt cleans the temp path: no empty or "."
// components, ".." folded into its parent, no trailing slash.
std::string CleanPath(const std::string& path)
{
    const bool absolute = !path.empty() && path[0] == '/';
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        const std::string part = path.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty() && parts.back() != "..") {
                parts.pop_back();
            } else if (!absolute) {
                parts.push_back(part);
            }
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string cleaned = absolute ? "/" : "";
    for (size_t i = 0; i < parts.size(); ++i)
        cleaned += (i > 0 ? "/" : "") + parts[i];
    return cleaned.empty() ? "." : cleaned;
}

std::string PseudoTerminal::TempDir()
{
    const char* env = std::getenv("TMPDIR");
    return CleanPath(env != nullptr && *env != '\0' ? env : "/tmp");
}

bool PseudoTerminal::Open(int port, std::string& error)
{
    const std::string folder = TempDir() + "/halvane";
    if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
        error = SystemError("cannot create " + folder);
        return false;
    }
    const std::string name = folder + "/COM" + std::to_string(port);
    lockPath = name + ".lock";
    lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock < 0) {
        error = SystemError("cannot create " + lockPath);
        return false;
    }
    if (::flock(lock, LOCK_EX | LOCK_NB) != 0) {
        error = "COM" + std::to_string(port) + " is already served by another board";
        ::close(lock);
        lock = -1;
        lockPath.clear();
        return false;
    }

    master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        error = SystemError("cannot create a pseudo-terminal");
        Close();
        return false;
    }
    const char* slaveName = ::ptsname(master);
    if (slaveName == nullptr) {
        error = SystemError("cannot name the pseudo-terminal");
        Close();
        return false;
    }
    device = slaveName;
    slave = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios settings{};
    if (slave < 0 || ::tcgetattr(slave, &settings) != 0) {
        error = SystemError("cannot open " + device);
        Close();
        return false;
    }
    ::cfmakeraw(&settings);
    ::tcsetattr(slave, TCSANOW, &settings);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);

    // Publish atomically, replacing a link a dead board left behind.
    const std::string fresh = name + ".new";
    ::unlink(fresh.c_str());
    if (::symlink(device.c_str(), fresh.c_str()) != 0 ||
        ::rename(fresh.c_str(), name.c_str()) != 0) {
        error = SystemError("cannot create the link " + name);
        ::unlink(fresh.c_str());
        Close();
        return false;
    }
    link = name;
    return true;
}

void PseudoTerminal::Close()
{
    if (!link.empty())
        ::unlink(link.c_str());
    link.clear();
    if (slave >= 0)
        ::close(slave);
    if (master >= 0)
        ::close(master);
    slave = master = -1;
    if (lock >= 0) {
        ::unlink(lockPath.c_str());
        ::close(lock);
    }
    lock = -1;
    lockPath.clear();
    device.clear();
}
