// A scripted peer on the master side of a pseudo-terminal, published under
// a private temp directory as the emulated board's link COMn, so that the
// real QSerialPort of the link opens the slave by its "COMn" name.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "LinkMessage.h"

using Bytes = std::vector<uint8_t>;

// The line speed the tests open their ports with.
constexpr int TEST_BAUD = 921200;

// Points TMPDIR (read by QDir::tempPath and the board) at a fresh private
// directory, once per test process.
inline std::string PrivateTempDir()
{
    static std::string dir = [] {
        char pattern[] = "/tmp/halvane-test-XXXXXX";
        if (::mkdtemp(pattern) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        ::setenv("TMPDIR", pattern, 1);
        ::mkdir((std::string(pattern) + "/halvane").c_str(), 0755);
        std::atexit([] { // boards and peers have removed their links by now
            const char* tmp = std::getenv("TMPDIR");
            ::rmdir((std::string(tmp) + "/halvane").c_str());
            ::rmdir(tmp);
        });
        return std::string(pattern);
    }();
    return dir;
}

class PtyPeer
{
  public:
    explicit PtyPeer(int portNumber)
    {
        link = PrivateTempDir() + "/halvane/COM" + std::to_string(portNumber);
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
            throw std::runtime_error("no pseudo-terminal");
        const std::string device = ::ptsname(master);
        slave = ::open(device.c_str(), O_RDWR | O_NOCTTY);
        termios settings{};
        ::tcgetattr(slave, &settings);
        ::cfmakeraw(&settings);
        ::tcsetattr(slave, TCSANOW, &settings);
        ::unlink(link.c_str());
        if (::symlink(device.c_str(), link.c_str()) != 0)
            throw std::runtime_error("no link");
    }
    ~PtyPeer()
    {
        ::unlink(link.c_str());
        ::close(slave);
        ::close(master);
    }
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    void Send(const Bytes& bytes) const
    {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master, bytes.data() + done, bytes.size() - done);
            if (n <= 0)
                throw std::runtime_error("peer write failed");
            done += static_cast<size_t>(n);
        }
    }

    // Everything the link wrote, collected until timeoutMs of silence.
    Bytes Received(int timeoutMs = 100) const
    {
        Bytes bytes;
        pollfd watch{master, POLLIN, 0};
        while (::poll(&watch, 1, timeoutMs) > 0 && (watch.revents & POLLIN)) {
            uint8_t chunk[4096];
            const ssize_t n = ::read(master, chunk, sizeof chunk);
            if (n <= 0)
                break;
            bytes.insert(bytes.end(), chunk, chunk + n);
        }
        return bytes;
    }

    // Waits up to timeoutMs for the link to write something (a request),
    // then takes everything until a short silence.
    Bytes NextRequest(int timeoutMs = 3000) const
    {
        pollfd watch{master, POLLIN, 0};
        if (::poll(&watch, 1, timeoutMs) <= 0)
            return {};
        return Received(20);
    }

  private:
    int master = -1;
    int slave = -1; // held so that the master never sees a hang-up
    std::string link;
};

// Wire bytes of a frame with the given content: checksum, stuffing, end.
inline Bytes Frame(const Bytes& content)
{
    Bytes wire;
    wire.reserve(2 * content.size() + 3);
    auto put = [&wire](uint8_t b) {
        if (b == 0xF0) {
            wire.push_back(0xF1);
            wire.push_back(0xF2);
        } else if (b == 0xF1) {
            wire.push_back(0xF1);
            wire.push_back(0xF1);
        } else {
            wire.push_back(b);
        }
    };
    unsigned sum = 0;
    for (uint8_t b : content) {
        sum += b;
        put(b);
    }
    put(static_cast<uint8_t>(0u - sum));
    wire.push_back(0xF0);
    return wire;
}

// A message holding exactly these bytes.
inline LinkMessage MessageOf(const Bytes& content)
{
    LinkMessage message;
    message.length = static_cast<uint32_t>(content.size());
    if (!content.empty())
        std::memcpy(message.data, content.data(), content.size());
    return message;
}

inline Bytes Concat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline double MillisecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}
