// The panel's receive path: arbitrary bytes from the board's side of a
// pseudo-terminal through the real serial port, frame extraction, unstuffing,
// checksum and answer matching (binary mode), or line reading (text mode).
// Every input ends with the mode's end marker and is drained completely, so
// no bytes carry over to the next input.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <QCoreApplication>
#include <string>
#include <thread>

#include "LinkProtocol.h"
#include "SerialComm.h"

namespace
{

constexpr int kPortNumber = 4711;

struct Pty {
    int master = -1;
    int slave = -1;
};

Pty g_pty;
SerialComm* g_link = nullptr;

// The emulated board's link <TMPDIR>/halvane/COMn, pointing at a fresh pty.
void publishPty()
{
    char dir[] = "/tmp/halvane-fuzz-XXXXXX";
    if (mkdtemp(dir) == nullptr)
        std::abort();
    setenv("TMPDIR", dir, 1);
    const std::string folder = std::string(dir) + "/halvane";
    mkdir(folder.c_str(), 0755);
    g_pty.master = posix_openpt(O_RDWR | O_NOCTTY);
    if (g_pty.master < 0 || grantpt(g_pty.master) != 0 || unlockpt(g_pty.master) != 0)
        std::abort();
    const std::string device = ptsname(g_pty.master);
    g_pty.slave = open(device.c_str(), O_RDWR | O_NOCTTY);
    termios settings{};
    tcgetattr(g_pty.slave, &settings);
    cfmakeraw(&settings);
    tcsetattr(g_pty.slave, TCSANOW, &settings);
    const std::string link = folder + "/COM" + std::to_string(kPortNumber);
    if (symlink(device.c_str(), link.c_str()) != 0)
        std::abort();
}

// Writes the bytes to the board's side and waits until the panel's side
// holds them all.
void sendFromBoard(const uint8_t* bytes, size_t size)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t n = write(g_pty.master, bytes + done, size - done);
        if (n <= 0)
            std::abort();
        done += size_t(n);
    }
    // The pseudo-terminal passes bytes on asynchronously; on a loaded
    // machine that can take a while, so only 5 s without them is a fault.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
        int pending = 0;
        ioctl(g_pty.slave, FIONREAD, &pending);
        if (size_t(pending) >= size)
            return;
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication app(*argc, *argv);
    publishPty();
    g_link = new SerialComm();
    g_link->SetPortNumber(kPortNumber);
    if (!g_link->Open(921600))
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4 || size > LINK_BUFFER_SIZE / 2)
        return 0;
    const bool text = (data[0] & 1) != 0;
    const uint8_t marker = text ? TEXT_END : FRAME_END;
    std::string wire(reinterpret_cast<const char*>(data + 4), size - 4);
    wire.push_back(char(marker));
    if (text)
        g_link->SetTextMode();
    else
        g_link->SetBinaryMode();
    g_link->SetOwnAddress(data[1]);
    sendFromBoard(reinterpret_cast<const uint8_t*>(wire.data()), wire.size());

    uint8_t out[LINK_BUFFER_SIZE + 1];
    for (int i = 0; i < 16; ++i) {
        if (text) {
            const int maxLen = 1 + data[2] % 255;
            out[maxLen] = 0x5A;
            if (!g_link->ReadLine(reinterpret_cast<char*>(out), maxLen, 0.0))
                break;
        } else {
            const unsigned capacity = data[3] % 200;
            const int got = g_link->WaitAnswer(data[2], data[3], 0, capacity, out);
            if (got > int(capacity))
                std::abort();
        }
    }
    // Drain what is left, frame by frame.
    bool got = true;
    for (int i = 0; got && i < int(LINK_BUFFER_SIZE); ++i)
        if (!g_link->ReadFrame(out, int(LINK_BUFFER_SIZE), got, 0.0))
            std::abort();
    return 0;
}
