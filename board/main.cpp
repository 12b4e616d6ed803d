// halvane-board: an emulated demonstration board on a pseudo-terminal.
#include <csignal>
#include <cstdio>
#include <string>

#include "BoardOptions.h"
#include "BoardServer.h"
#include "DemoBoard.h"
#include "PseudoTerminal.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void OnStopSignal(int) {
    stopRequested = 1;
}

// Blocks the stop signals outside the wait; returns the mask for the wait.
sigset_t InstallStopSignals() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(signal, &action, nullptr);
        sigaddset(&stopSignals, signal);
    }
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t waitMask;
    sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    return waitMask;
}

}  // namespace

int main(int argc, char** argv) {
    BoardOptions options;
    std::string error;
    if (!ParseBoardOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "halvane-board: %s\n%s", error.c_str(), BoardUsage());
        return 2;
    }
    if (options.help) {
        std::fputs(BoardUsage(), stdout);
        return 0;
    }
    const sigset_t waitMask = InstallStopSignals();

    PseudoTerminal terminal;
    if (!terminal.Open(options.port, error)) {
        std::fprintf(stderr, "halvane-board: %s\n", error.c_str());
        return 1;
    }
    std::printf("COM%d %s\n", options.port, terminal.DevicePath().c_str());
    std::fflush(stdout);
    if (options.verbose)
        std::fprintf(stderr, "serving %s as %s\n", terminal.DevicePath().c_str(),
                     terminal.LinkPath().c_str());

    DemoBoard board(options.name, options.features, options.enabled);
    BoardServer server(board, terminal.MasterFd(), options.replyDelayMs, options.verbose);
    server.Run(&stopRequested, waitMask);
    terminal.Close();
    return 0;
}
