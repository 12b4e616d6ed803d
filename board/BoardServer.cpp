#include "BoardServer.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <poll.h>
#include <unistd.h>

namespace
{

constexpr int TICK_MS = 10;                // live-value update period
constexpr size_t OUTPUT_LIMIT = 64 * 1024; // answers kept while nobody reads

void LogBytes(const char* what, const uint8_t* bytes, size_t count)
{
    std::fprintf(stderr, "%s", what);
    for (size_t i = 0; i < count; ++i)
        std::fprintf(stderr, " %02X", bytes[i]);
    std::fprintf(stderr, "\n");
}

} // namespace

double MonotonicSeconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

BoardServer::BoardServer(DemoBoard& demoBoard, int masterFd, int replyDelayMs, bool verboseLog)
    : board(demoBoard), fd(masterFd), replyDelay(replyDelayMs / 1000.0), verbose(verboseLog)
{
}

void BoardServer::Run(volatile std::sig_atomic_t* stop, const sigset_t& waitMask)
{
    while (!*stop) {
        double now = MonotonicSeconds();
        board.Advance(now);
        ReleaseDueAnswers(now);
        Flush();

        pollfd watch{fd, static_cast<short>(POLLIN | (output.empty() ? 0 : POLLOUT)), 0};
        const int waitMs = WaitMs(now);
        timespec timeout{waitMs / 1000, (waitMs % 1000) * 1000000L};
        const int ready = ::ppoll(&watch, 1, &timeout, &waitMask);
        if (ready <= 0)
            continue; // timeout or a signal
        now = MonotonicSeconds();
        if (watch.revents & POLLIN)
            ReadRequests(now);
        if (watch.revents & (POLLHUP | POLLERR)) {
            // Nothing to read; wait a tick rather than spin.
            timespec pause{0, TICK_MS * 1000000L};
            ::ppoll(nullptr, 0, &pause, &waitMask);
        }
    }
}

int BoardServer::WaitMs(double now) const
{
    int waitMs = TICK_MS;
    if (!pending.empty()) {
        const double untilDue = (pending.front().due - now) * 1000.0;
        if (untilDue < waitMs)
            waitMs = untilDue > 0.0 ? static_cast<int>(untilDue) + 1 : 0;
    }
    return waitMs;
}

void BoardServer::ReadRequests(double now)
{
    uint8_t bytes[4096];
    const ssize_t got = ::read(fd, bytes, sizeof bytes);
    if (got <= 0)
        return;
    LinkMessage request;
    for (ssize_t i = 0; i < got; ++i) {
        if (receiver.Push(bytes[i], request))
            Handle(request, now);
    }
}

void BoardServer::Handle(const LinkMessage& request, double now)
{
    if (verbose)
        LogBytes("request:", request.data, request.length);
    board.Advance(now);
    LinkMessage answer;
    if (!board.Answer(request, answer)) {
        if (verbose)
            std::fprintf(stderr, "no answer\n");
        return;
    }
    if (verbose)
        LogBytes("answer: ", answer.data, answer.length);
    AppendChecksum(answer);
    PendingAnswer item{now + replyDelay, std::vector<uint8_t>(LINK_BUFFER_SIZE)};
    item.wire.resize(StuffFrame(answer, item.wire.data(), item.wire.size()));
    pending.push_back(std::move(item));
    ReleaseDueAnswers(now);
    Flush();
}

void BoardServer::ReleaseDueAnswers(double now)
{
    while (!pending.empty() && pending.front().due <= now) {
        const std::vector<uint8_t>& wire = pending.front().wire;
        if (output.size() + wire.size() <= OUTPUT_LIMIT)
            output.insert(output.end(), wire.begin(), wire.end());
        else if (verbose)
            std::fprintf(stderr, "answer dropped: nobody reads the terminal\n");
        pending.pop_front();
    }
}

void BoardServer::Flush()
{
    while (!output.empty()) {
        const ssize_t sent = ::write(fd, output.data(), output.size());
        if (sent <= 0)
            return; // the terminal is full; POLLOUT resumes
        output.erase(output.begin(), output.begin() + sent);
    }
}
