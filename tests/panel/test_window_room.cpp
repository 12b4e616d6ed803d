// The panel against the board running the real kit in its simulated room
// (faster than real time): a spoken command reaches the ASR box, and the
// direction and noise level shown are the measured ones.
#include <QtTest>

#include "FeatureTables.h"
#include "PanelTestSupport.h"

class WindowRoomTest : public QObject
{
    Q_OBJECT

  private slots:
    void spokenCommandDirectionAndNoiseReachThePanel();
};

void WindowRoomTest::spokenCommandDirectionAndNoiseReachThePanel()
{
    ScratchWorkingDirectory cwd;
    EmulatedBoard board(uniquePortNumber(40), {"--room", "--fast", "--talker-angle", "90",
                                               "--noise-db", "50", "--enabled", "1B"});
    FInit w;
    w.show();
    QVERIFY(connectTo(w, board));

    // Every text the speech box can show for a recognised command.
    QStringList commands;
    for (int code : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 25}) {
        QString text;
        QVERIFY(speechCommandText(code, text));
        commands << text;
    }
    QLabel* source = child<QLabel>(w, "l_SOURCE");
    QTRY_VERIFY_WITH_TIMEOUT(source->text().endsWith(QChar(0x00B0)), 20000);
    const int angle = source->text().chopped(1).toInt();
    QVERIFY2(angle >= 80 && angle <= 100, qPrintable(source->text()));

    QLabel* noise = child<QLabel>(w, "l_DBNoise");
    QTRY_VERIFY_WITH_TIMEOUT(noise->text() != QLatin1String("---"), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(qAbs(noise->text().toInt() - 50) <= 3, 10000);

    w.resize(1180, 780);
    QLabel* asr = child<QLabel>(w, "l_ASR");
    QTRY_VERIFY_WITH_TIMEOUT(commands.contains(asr->text()), 60000);
    // A screenshot for the documentation while the command is shown.
    QVERIFY(w.grab().save(QStringLiteral(HALVANE_BUILD_DIR "/panel-room.png")));
}

QTEST_MAIN(WindowRoomTest)
#include "test_window_room.moc"
