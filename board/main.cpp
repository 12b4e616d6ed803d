// halvane-board: an emulated demonstration board on a pseudo-terminal.
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>

#include "BoardOptions.h"
#include "BoardServer.h"
#include "command_line.h"
#include "DemoBoard.h"
#include "PseudoTerminal.h"
#include "RoomBoard.h"

namespace
{

volatile std::sig_atomic_t stopRequested = 0;

void OnStopSignal(int)
{
    stopRequested = 1;
}

// Blocks the stop signals outside the wait; returns the mask for the wait.
sigset_t InstallStopSignals()
{
    struct sigaction action {
    };
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

RoomBoardOptions RoomOptionsOf(const BoardOptions& options)
{
    RoomBoardOptions room;
    room.room.kind = boardKindOfName(options.name.data(), options.name.size());
    if (room.room.kind == BoardKind::Unknown)
        room.room.kind = BoardKind::Zodurev;
    room.room.talkerAngle = options.talkerAngle;
    room.room.talkerMoving = options.talkerMoving;
    room.room.noiseDb = options.noiseDb;
    room.room.interferer = options.interferer;
    room.room.interfererAngle = options.interfererAngle;
    room.room.farEnd = options.farEnd;
    room.room.farEndDb = options.farEndDb;
    room.fast = options.fast;
    room.audioOut = options.audioOut;
    room.play = options.play;
    room.verbose = options.verbose;
    return room;
}

std::unique_ptr<RoomBoard> StartRoom(const BoardOptions& options, std::string& error)
{
    auto room = std::make_unique<RoomBoard>(RoomOptionsOf(options));
    std::string notes;
    if (!room->Prepare(error, notes))
        return nullptr;
    if (!notes.empty())
        std::fprintf(stderr, "halvane-board: %s", notes.c_str());
    return room;
}

} // namespace

int main(int argc, char** argv)
{
    BoardOptions options;
    std::string error;
    if (!ParseBoardOptions(argc, argv, options, error))
        return cli::usage_error("halvane-board", error, BoardUsage());
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
    // The room (speech synthesis, recogniser) is ready before the board
    // says it is.
    DemoBoard board(options.name, options.features, options.enabled);
    std::unique_ptr<RoomBoard> room;
    if (options.room) {
        room = StartRoom(options, error);
        if (!room) {
            std::fprintf(stderr, "halvane-board: %s\n", error.c_str());
            terminal.Close();
            return 1;
        }
        board.AttachRoom(room.get());
        room->Start();
    }
    std::printf("COM%d %s\n", options.port, terminal.DevicePath().c_str());
    std::fflush(stdout);
    if (options.verbose)
        std::fprintf(stderr, "serving %s as %s\n", terminal.DevicePath().c_str(),
                     terminal.LinkPath().c_str());

    BoardServer server(board, terminal.MasterFd(), options.replyDelayMs, options.verbose);
    server.Run(&stopRequested, waitMask);
    if (room) {
        room->Stop();
        std::fprintf(stderr, "halvane-board: %s\n", CostText(room->Cost()).c_str());
    }
    terminal.Close();
    return 0;
}
