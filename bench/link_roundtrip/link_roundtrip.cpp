// Round-trip time of the panel's source-direction poll (GetParameters with
// PARAM_SLOC) against the emulated board over a pseudo-terminal, compared
// with the 16 ms poll period.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <QCoreApplication>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "CDeviceLink.h"

namespace
{

constexpr double POLL_PERIOD_MS = 16.0;
constexpr int WARM_UP = 50;
constexpr int DEFAULT_POLLS = 2000;
constexpr int PORT = 9301;

// Starts the board in a private temp dir and waits for its ready line.
// Returns its process id, 0 when none was started; ready tells whether it
// announced its port.
pid_t StartBoard(bool& ready)
{
    ready = false;
    char dir[] = "/tmp/halvane-bench-XXXXXX";
    int out[2];
    if (::mkdtemp(dir) == nullptr || ::pipe(out) != 0)
        return 0;
    ::setenv("TMPDIR", dir, 1);
    const pid_t pid = ::fork();
    if (pid < 0)
        return 0;
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        const std::string port = std::to_string(PORT);
        ::execl(HALVANE_BOARD_BIN, "halvane-board", "--port", port.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    pollfd watch{out[0], POLLIN, 0};
    char c = 0;
    std::string line;
    while (::poll(&watch, 1, 5000) > 0 && ::read(out[0], &c, 1) == 1 && c != '\n')
        line += c;
    ::close(out[0]);
    std::printf("board: %s\n", line.c_str());
    ready = !line.empty();
    return pid;
}

// Stops the board, which removes its link, then the private temp dir.
void StopBoard(pid_t pid)
{
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    const std::string dir = std::getenv("TMPDIR");
    ::rmdir((dir + "/halvane").c_str());
    ::rmdir(dir.c_str());
}

double Percentile(const std::vector<double>& sorted, double fraction)
{
    const size_t index =
        static_cast<size_t>(fraction * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(index, sorted.size() - 1)];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int polls = argc > 1 ? std::max(1, std::atoi(argv[1])) : DEFAULT_POLLS;
    bool ready = false;
    const pid_t board = StartBoard(ready);
    if (!ready) {
        std::fprintf(stderr, "link_roundtrip: the emulated board did not start\n");
        if (board > 0)
            StopBoard(board);
        return 1;
    }
    int failures = 0;
    std::vector<double> times;
    {
        CDeviceLink link;
        link.SetPortNumber(PORT);
        if (link.Open(921200) != 0 || link.Ping(BOARD_ADDRESS) != 0) {
            std::fprintf(stderr, "link_roundtrip: cannot reach the emulated board\n");
            StopBoard(board);
            return 1;
        }
        FeatureParameterBlock block{};
        for (int i = 0; i < WARM_UP; ++i)
            link.GetParameters(BOARD_ADDRESS, PARAM_SLOC, block);
        times.reserve(static_cast<size_t>(polls));
        for (int i = 0; i < polls; ++i) {
            const auto start = std::chrono::steady_clock::now();
            const int result = link.GetParameters(BOARD_ADDRESS, PARAM_SLOC, block);
            times.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count());
            if (result != 25)
                ++failures;
        }
        link.Close();
    }
    StopBoard(board);

    std::sort(times.begin(), times.end());
    const double median = Percentile(times, 0.5);
    const double p99 = Percentile(times, 0.99);
    std::printf("PARAM_SLOC polls: %d, failed: %d\n", polls, failures);
    std::printf("round trip median %.3f ms (%.3f of the %.0f ms period)\n", median,
                median / POLL_PERIOD_MS, POLL_PERIOD_MS);
    std::printf("round trip p99    %.3f ms (%.3f of the %.0f ms period)\n", p99,
                p99 / POLL_PERIOD_MS, POLL_PERIOD_MS);
    std::printf("round trip max    %.3f ms\n", times.back());
    return failures == 0 ? 0 : 1;
}
