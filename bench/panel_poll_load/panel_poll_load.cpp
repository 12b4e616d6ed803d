// With source localisation on, the window polls the board's direction every
// 16 ms and blocks the GUI thread for each answer. This measures, over a
// run against the emulated board, the share of GUI-thread time spent in
// those waits and the poll rate achieved against the nominal 62.5 Hz.
//
// Usage: panel_poll_load [seconds]   (default 10)
#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QTextEdit>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

#include "FInit.h"
#include "PanelConstants.h"

namespace
{

struct PollLoad {
    qint64 busyNs = 0;
    qint64 longestNs = 0;
    int polls = 0;
};

bool startBoard(QProcess& board, int port)
{
    board.start(QStringLiteral(HALVANE_BOARD_PATH),
                {"--port", QString::number(port), "--enabled", "02", "--features", "3F"});
    if (!board.waitForStarted(5000))
        return false;
    for (int i = 0; i < 50 && !board.canReadLine(); ++i)
        board.waitForReadyRead(100);
    return board.readLine().startsWith("COM");
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const double seconds = argc > 1 ? std::max(1.0, QString(argv[1]).toDouble()) : 10.0;
    const int port = 200 + static_cast<int>(::getpid()) % 700;

    QProcess board;
    if (!startBoard(board, port)) {
        std::fprintf(stderr, "panel_poll_load: the emulated board did not start\n");
        return 1;
    }

    int result = 0;
    {
        FInit window;
        window.show();
        window.findChild<QSpinBox*>("sB_PortNumber")->setValue(port);
        window.findChild<QPushButton*>("pb_OpenCloseCOM")->click();
        QTimer* anglePoll = window.findChild<QTimer*>("anglePollTimer");
        if (!anglePoll || !anglePoll->isActive()) {
            std::fprintf(stderr, "panel_poll_load: not connected, or localisation not running\n");
            result = 1;
        } else {
            // Time the very call the timer makes.
            PollLoad load;
            QObject::disconnect(anglePoll, SIGNAL(timeout()), &window, SLOT(S_SLOC_GetAngle()));
            QObject::connect(anglePoll, &QTimer::timeout, &window, [&] {
                QElapsedTimer wait;
                wait.start();
                window.S_SLOC_GetAngle();
                const qint64 ns = wait.nsecsElapsed();
                load.busyNs += ns;
                load.longestNs = std::max(load.longestNs, ns);
                ++load.polls;
            });
            QElapsedTimer run;
            run.start();
            QTimer::singleShot(static_cast<int>(seconds * 1000), Qt::PreciseTimer, &app,
                               &QApplication::quit);
            app.exec();
            const double elapsed = run.nsecsElapsed() / 1e9;
            const double nominal = 1000.0 / ANGLE_POLL_MS;
            const double rate = load.polls / elapsed;
            std::printf("run                 %.2f s against the emulated board\n", elapsed);
            std::printf("angle polls         %d\n", load.polls);
            std::printf("poll rate           %.1f Hz (nominal %.1f Hz, %.0f %%)\n", rate, nominal,
                        100.0 * rate / nominal);
            std::printf("mean round trip     %.3f ms\n",
                        load.polls ? load.busyNs / 1e6 / load.polls : 0.0);
            std::printf("longest round trip  %.3f ms\n", load.longestNs / 1e6);
            std::printf("GUI time in waits   %.2f %%\n", 100.0 * load.busyNs / 1e9 / elapsed);
            const int failures = window.findChild<QTextEdit*>("tE_Log")->toPlainText().count(
                "Error: GetAngle failed");
            std::printf("failed polls        %d\n", failures);
        }
        window.close();
    }
    board.terminate();
    board.waitForFinished(3000);
    return result;
}
