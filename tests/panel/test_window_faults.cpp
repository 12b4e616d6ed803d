// What a user meets when things go wrong or are done differently: a board
// that disappears or falls silent while the window polls it, sliders moved
// without the mouse, a board without beamforming, the port choice while
// connected, the busy cursor.
#include <QApplication>
#include <QElapsedTimer>
#include <QtTest>

#include "PanelTestSupport.h"

class WindowFaultsTest : public QObject
{
    Q_OBJECT

  private slots:
    void boardGoneEndsTheConnection();
    void silentBoardEndsTheConnectionAfterAFewPolls();
    void slidersSendWhatTheyShow();
    void unofferedBeamformingIsNeverSwitchedOn();
};

namespace
{

bool disconnected(const FInit& w)
{
    return child<QPushButton>(w, "pb_OpenCloseCOM")->text() == QLatin1String("Open COM Port");
}

int linesContaining(const FInit& w, const QString& text)
{
    return logLines(w).filter(text).size();
}

} // namespace

void WindowFaultsTest::boardGoneEndsTheConnection()
{
    ScratchWorkingDirectory cwd;
    FInit w;
    w.show();
    // The device list is there before the first port poll, and the port
    // choice is locked while a port is open.
    QVERIFY(child<QComboBox>(w, "cB_COMPort")->count() >= 1);
    const int port = uniquePortNumber(41);
    {
        EmulatedBoard board(port, {"--enabled", "0B"}); // localisation and noise polls
        QVERIFY(connectTo(w, board));
        QVERIFY(!child<QSpinBox>(w, "sB_PortNumber")->isEnabled());
        QVERIFY(!child<QComboBox>(w, "cB_COMPort")->isEnabled());
        QTRY_VERIFY(child<QLabel>(w, "l_DBNoise")->text() != QLatin1String("---"));
        board.killNow();
        // One clear line, the disconnected state, the readings cleared.
        QTRY_VERIFY_WITH_TIMEOUT(disconnected(w), 5000);
    }
    QTest::qWait(1000);
    QCOMPARE(linesContaining(w, "Connection to the board lost"), 1);
    QVERIFY(linesContaining(w, "GetAngle failed") + linesContaining(w, "GetDbNoise failed") <=
            MAX_MISSED_ANSWERS);
    for (const char* reading : {"l_SOURCE", "l_DBNoise", "l_ASR"})
        QCOMPARE(child<QLabel>(w, reading)->text(), QStringLiteral("---"));
    QVERIFY(child<QSpinBox>(w, "sB_PortNumber")->isEnabled());
    QVERIFY(child<QTextEdit>(w, "tE_Log")->isReadOnly());

    // The board is back: the user connects again.
    EmulatedBoard again(port, {"--enabled", "0B"});
    QCOMPARE(again.portNumber(), port);
    QVERIFY(connectTo(w, again));
    QTRY_VERIFY(child<QLabel>(w, "l_DBNoise")->text() != QLatin1String("---"));
}

void WindowFaultsTest::silentBoardEndsTheConnectionAfterAFewPolls()
{
    ScratchWorkingDirectory cwd;
    EmulatedBoard board(uniquePortNumber(45), {"--enabled", "03"});
    FInit w;
    w.show();
    QVERIFY(connectTo(w, board));
    board.pause();

    // Each silent poll blocks for the timeout; after a few the window gives
    // up instead of blocking for ever.
    QElapsedTimer clock;
    clock.start();
    QTRY_VERIFY_WITH_TIMEOUT(disconnected(w), 30000);
    QVERIFY(clock.elapsed() < (MAX_MISSED_ANSWERS + 1) * 2 * LINK_TIMEOUT_MS);
    QCOMPARE(linesContaining(w, "Connection to the board lost"), 1);
}

void WindowFaultsTest::slidersSendWhatTheyShow()
{
    ScratchWorkingDirectory cwd;
    EmulatedBoard board(uniquePortNumber(49), {"--enabled", "03"});
    FInit w;
    w.show();
    QVERIFY(connectTo(w, board));
    QSlider* threshold = child<QSlider>(w, "hS_SOURCE_Treshold");
    QSlider* resolution = child<QSlider>(w, "hs_SOURCE_Resolution");
    QLabel* angle = child<QLabel>(w, "l_SOURCE");
    const QRect sliderPlace = resolution->geometry();

    // Keyboard and a click on the track send; the board holds what is shown.
    board.clearRequests();
    threshold->setFocus();
    QTest::keyClick(threshold, Qt::Key_Right);
    resolution->triggerAction(QAbstractSlider::SliderPageStepAdd);
    QTRY_VERIFY(board.setMasks().count(int(PARAM_SLOC)) >= 2);
    FeatureParameterBlock onBoard;
    QVERIFY(FInitProbe::readBoard(w, onBoard) > 0);
    QCOMPARE(int(onBoard.sloc.threshold), threshold->value());
    QCOMPARE(int(onBoard.sloc.resolution), resolution->value());

    // Dragging sends once, on release.
    board.clearRequests();
    threshold->setSliderDown(true);
    threshold->setValue(threshold->value() + 5);
    threshold->setValue(threshold->value() + 5);
    threshold->setSliderDown(false);
    QTest::qWait(300);
    QCOMPARE(board.setMasks().count(int(PARAM_SLOC)), 1);

    // Angle texts of two and three digits leave the sliders where they are.
    angle->setText(QStringLiteral("5") + QChar(0x00B0));
    QCoreApplication::processEvents();
    angle->setText(QStringLiteral("-355") + QChar(0x00B0));
    QCoreApplication::processEvents();
    QCOMPARE(resolution->geometry(), sliderPlace);
}

void WindowFaultsTest::unofferedBeamformingIsNeverSwitchedOn()
{
    ScratchWorkingDirectory cwd;
    EmulatedBoard board(uniquePortNumber(53), {"--features", "3E", "--enabled", "04"});
    FInit w;
    w.show();
    QVERIFY(connectTo(w, board));
    // Echo cancellation off, streaming on and off: each hands over to
    // beamforming, which this board does not have.
    clickGroup(w, "gB_DEMO_AEC");
    clickGroup(w, "gB_DEMO_Streaming");
    clickGroup(w, "gB_DEMO_Streaming");
    FeatureParameterBlock onBoard;
    QVERIFY(FInitProbe::readBoard(w, onBoard) > 0);
    QCOMPARE(onBoard.general.enabledFeatures & FEATURE_BEAMFORMING, 0);
    QCOMPARE(FInitProbe::block(w).general.enabledFeatures & FEATURE_BEAMFORMING, 0);
    QVERIFY(!FInitProbe::wedge(w).isVisible());

    // A command that waits long (nothing polls here) shows the busy cursor
    // until control is back in the event loop.
    board.pause();
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    w.S_Ping();
    QVERIFY(QApplication::overrideCursor() != nullptr);
    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    QCoreApplication::processEvents();
    QCOMPARE(QApplication::overrideCursor(), nullptr);
}

QTEST_MAIN(WindowFaultsTest)
#include "test_window_faults.moc"
