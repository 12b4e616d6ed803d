// Runs the real window against the emulated board with localisation and
// the noise meter polling, and prints every ten seconds the panel process's
// CPU share, resident memory and log line count.
//
// Usage: panel_soak [--seconds N] [--kill-board-after S]
//   --seconds N            length of the measured run (default 60)
//   --kill-board-after S   kill the board S seconds into the run, as when it
//                          is unplugged or its process dies (default: never)
#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QTextEdit>
#include <QTimer>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>
#include <unistd.h>

#include "command_line.h"
#include "CpuTime.h"
#include "FInit.h"

namespace
{

double residentMegabytes()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<double>(::sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

bool startBoard(QProcess& board, int port)
{
    board.start(QStringLiteral(HALVANE_BOARD_PATH),
                {"--port", QString::number(port), "--enabled", "0B", "--features", "3F"});
    if (!board.waitForStarted(5000))
        return false;
    for (int i = 0; i < 50 && !board.canReadLine(); ++i)
        board.waitForReadyRead(100);
    return board.readLine().startsWith("COM");
}

struct Options {
    double seconds = 60.0;
    double killAfter = -1.0;
};

const char* const kUsage = "usage: panel_soak [--seconds N] [--kill-board-after S]\n";

// -1 to go on, else the exit status (help or a usage error).
int parse(int argc, char* argv[], Options& options)
{
    cli::CommandLine line;
    cli::Range seconds = cli::real("a duration in seconds", 0.0, 1e6);
    seconds.above = true;
    line.number("--seconds", seconds, [&](double v) { options.seconds = v; });
    line.number("--kill-board-after", cli::real("a time in seconds", 0.0, 1e6),
                [&](double v) { options.killAfter = v; });
    return line.parse_or_exit_status(argc, argv, "panel_soak", kUsage);
}

} // namespace

int main(int argc, char* argv[])
{
    Options options;
    if (const int status = parse(argc, argv, options); status >= 0)
        return status;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int port = 200 + static_cast<int>(::getpid()) % 700;
    QProcess board;
    if (!startBoard(board, port)) {
        std::fprintf(stderr, "panel_soak: the emulated board did not start\n");
        return 1;
    }

    FInit window;
    window.show();
    window.findChild<QSpinBox*>("sB_PortNumber")->setValue(port);
    QPushButton* openClose = window.findChild<QPushButton*>("pb_OpenCloseCOM");
    openClose->click();
    QTextEdit* log = window.findChild<QTextEdit*>("tE_Log");
    if (openClose->text() != QLatin1String("Close COM Port")) {
        std::fprintf(stderr, "panel_soak: not connected\n");
        return 1;
    }

    std::printf("%8s %10s %10s %10s %s\n", "time s", "CPU %", "RSS MB", "log lines", "state");
    QElapsedTimer run;
    run.start();
    double lastCpu = processCpuSeconds();
    double lastWall = 0.0;
    const double startRss = residentMegabytes();
    QTimer report;
    QObject::connect(&report, &QTimer::timeout, [&] {
        const double wall = run.nsecsElapsed() / 1e9;
        const double cpu = processCpuSeconds();
        std::printf(
            "%8.0f %10.1f %10.2f %10d %s\n", wall, 100.0 * (cpu - lastCpu) / (wall - lastWall),
            residentMegabytes(), log->document()->blockCount(),
            openClose->text() == QLatin1String("Open COM Port") ? "disconnected" : "connected");
        std::fflush(stdout);
        lastCpu = cpu;
        lastWall = wall;
    });
    report.start(10000);
    if (options.killAfter >= 0.0)
        QTimer::singleShot(static_cast<int>(options.killAfter * 1000), [&] {
            std::printf("%8.0f board killed\n", run.nsecsElapsed() / 1e9);
            board.kill();
        });
    QTimer::singleShot(static_cast<int>(options.seconds * 1000), &app, &QApplication::quit);
    const double startCpu = processCpuSeconds();
    app.exec();

    const double wall = run.nsecsElapsed() / 1e9;
    std::printf("whole run: %.0f s, CPU %.1f %% of a core, RSS %+.2f MB, %d log lines\n", wall,
                100.0 * (processCpuSeconds() - startCpu) / wall, residentMegabytes() - startRss,
                log->document()->blockCount());
    board.kill();
    board.waitForFinished(3000);
    return 0;
}
