// The emulated board's event loop: reads requests from the pseudo-terminal,
// queues each answer for its reply time, writes it out, and moves the live
// values on, without spinning, until a stop signal arrives.
#pragma once

#include <csignal>
#include <cstdint>
#include <deque>
#include <vector>

#include "DemoBoard.h"
#include "FrameReceiver.h"

class BoardServer
{
  public:
    BoardServer(DemoBoard& board, int masterFd, int replyDelayMs, bool verbose);

    // Serves until *stop becomes non-zero. stopSignals are blocked by the
    // caller and only let through while waiting, so a stop is never missed.
    void Run(volatile std::sig_atomic_t* stop, const sigset_t& waitMask);

  private:
    struct PendingAnswer {
        double due;                // seconds, monotonic
        std::vector<uint8_t> wire; // stuffed frame
    };

    void ReadRequests(double now);
    void Handle(const LinkMessage& request, double now);
    void ReleaseDueAnswers(double now);
    void Flush();
    int WaitMs(double now) const;

    DemoBoard& board;
    int fd;
    double replyDelay;
    bool verbose;
    FrameReceiver receiver;
    std::deque<PendingAnswer> pending;
    std::vector<uint8_t> output; // bytes not yet taken by the terminal
};

// Seconds on the monotonic clock.
double MonotonicSeconds();
