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

namespace {

std::string SystemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

}  // namespace

PseudoTerminal::~PseudoTerminal() {
    Close();
}

std::string PseudoTerminal::TempDir() {
    const char* env = std::getenv("TMPDIR");
    std::string dir = env != nullptr && *env != '\0' ? env : "/tmp";
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir;
}

bool PseudoTerminal::Open(int port, std::string& error) {
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
    if (::symlink(device.c_str(), fresh.c_str()) != 0 || ::rename(fresh.c_str(), name.c_str()) != 0) {
        error = SystemError("cannot create the link " + name);
        ::unlink(fresh.c_str());
        Close();
        return false;
    }
    link = name;
    return true;
}

void PseudoTerminal::Close() {
    if (!link.empty()) ::unlink(link.c_str());
    link.clear();
    if (slave >= 0) ::close(slave);
    if (master >= 0) ::close(master);
    slave = master = -1;
    if (lock >= 0) {
        ::unlink(lockPath.c_str());
        ::close(lock);
    }
    lock = -1;
    lockPath.clear();
    device.clear();
}
