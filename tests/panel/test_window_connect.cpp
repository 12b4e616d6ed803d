// Connecting to the emulated board, the feature rules, and what reaches
// the board after each action.
#include <QtTest>

#include "PanelTestSupport.h"

namespace
{

FeatureParameterBlock boardState(FInit& w)
{
    FeatureParameterBlock state{};
    if (FInitProbe::readBoard(w, state) != 147)
        qWarning("reading the board's block failed");
    return state;
}

bool logHas(const FInit& w, const QString& line)
{
    return logLines(w).contains(line);
}

} // namespace

class WindowConnectTest : public QObject
{
    Q_OBJECT

  private slots:
    void connectFillsPanelsFromTheBoardAndCloseResets();
    void featureSwitchesExcludeEachOtherOnTheBoard();
    void muteGestureAndDirectionReachTheBoard();
    void kestrelBoardCannotBeamformAndLocaliseTogether();
    void failedOpenSilentBoardAndStalledBoardOnlyLog();
};

void WindowConnectTest::connectFillsPanelsFromTheBoardAndCloseResets()
{
    ScratchWorkingDirectory cwd;
    EmulatedBoard board(uniquePortNumber(1));
    const int port = board.portNumber();
    QVERIFY(board.isReady());
    FInit w;
    w.show();
    clickOpen(w, port);

    QStringList expectedLog = {QStringLiteral("Set ComPort Number:%1").arg(port),
                               "Opening ComPort:",
                               "OK",
                               QStringLiteral("COM%1 opened").arg(port),
                               "---Reading Module Status---",
                               "---------------------------"};
    QCOMPARE(logLines(w).mid(0, 6), expectedLog);
    QCOMPARE(child<QPushButton>(w, "pb_OpenCloseCOM")->text(), QStringLiteral("Close COM Port"));
    QVERIFY(!child<QTimer>(w, "portPollTimer")->isActive());

    for (const char* name : {"gB_DEMO_AEC", "gB_DEMO_Beam", "gB_DEMO_Source", "gB_DEMO_Streaming",
                             "gB_ASR_BOX", "gB_DBMoise", "gBOutput"}) {
        QVERIFY2(child<QWidget>(w, name)->isVisibleTo(&w), name);
        QVERIFY2(child<QWidget>(w, name)->isEnabled(), name);
    }
    QVERIFY(child<QWidget>(w, "cB_gestureControl")->isVisibleTo(&w));
    QVERIFY(child<QWidget>(w, "cB_gestureVolumeControl")->isVisibleTo(&w));
    QVERIFY(child<QWidget>(w, "hS_AEC_AgcValue")->isHidden());
    // The default board runs beamforming and the noise meter.
    QVERIFY(child<QGroupBox>(w, "gB_DEMO_Beam")->isChecked());
    QVERIFY(!child<QGroupBox>(w, "gB_DEMO_Source")->isChecked());
    QVERIFY(!child<QGroupBox>(w, "gB_DEMO_Streaming")->isChecked());
    QCOMPARE(child<QSlider>(w, "hS_SOURCE_Treshold")->value(), 24);
    QCOMPARE(child<QSlider>(w, "hs_SOURCE_Resolution")->value(), 4);
    QCOMPARE(child<QLabel>(w, "l_SOURCE_Resolution")->text(), QStringLiteral("4"));
    QCOMPARE(child<QLabel>(w, "l_AEC_Agc")->text(), QStringLiteral("2000"));
    QVERIFY(child<QCheckBox>(w, "cB_AEC_DenoiserEnable")->isChecked());
    QCOMPARE(child<QComboBox>(w, "cB_BeamDir")->currentIndex(), 0);
    QCOMPARE(child<QComboBox>(w, "cB_AlgType")->currentIndex(), 1);
    QCOMPARE(child<QSlider>(w, "hS_Volume")->value(), 32);
    QCOMPARE(child<QSpinBox>(w, "sB_Output")->value(), 50);
    QVERIFY(child<QTimer>(w, "noisePollTimer")->isActive());
    QVERIFY(!child<QTimer>(w, "speechPollTimer")->isActive());
    QVERIFY(!child<QTimer>(w, "anglePollTimer")->isActive());
    // Setting the panels up sent nothing to the board.
    QCOMPARE(board.setMasks(), QList<int>());

    // The noise poll shows the board's level within its range.
    QTRY_VERIFY_WITH_TIMEOUT(child<QLabel>(w, "l_DBNoise")->text() != QLatin1String("---"), 3000);
    const int level = child<QLabel>(w, "l_DBNoise")->text().toInt();
    QVERIFY(level >= 40 && level <= 60);

    child<QPushButton>(w, "pb_OpenCloseCOM")->click();
    QCOMPARE(logLines(w).mid(logLines(w).size() - 2), (QStringList{"Closing ComPort:", "OK"}));
    QCOMPARE(child<QPushButton>(w, "pb_OpenCloseCOM")->text(), QStringLiteral("Open COM Port"));
    QVERIFY(child<QTimer>(w, "portPollTimer")->isActive());
    QVERIFY(child<QWidget>(w, "gB_DEMO_Beam")->isHidden());
    QVERIFY(!child<QWidget>(w, "gB_DEMO_Beam")->isEnabled());
    QCOMPARE(child<QGraphicsView>(w, "gW_mainImageGraphicView")->scene(), nullptr);
    QCOMPARE(child<QLabel>(w, "l_SOURCE")->text(), QStringLiteral("---"));
    // Feature widgets no longer reach any handler.
    const int lines = logLines(w).size();
    child<QSlider>(w, "hS_Output")->setValue(10);
    QTest::qWait(1200);
    QCOMPARE(logLines(w).size(), lines);

    // Reconnecting works and sets the panels up again.
    QVERIFY(connectTo(w, board));
    QVERIFY(child<QWidget>(w, "gB_DEMO_Beam")->isVisibleTo(&w));
}

void WindowConnectTest::featureSwitchesExcludeEachOtherOnTheBoard()
{
    ScratchWorkingDirectory cwd;
    EmulatedBoard board(uniquePortNumber(2), {"--enabled", "09"});
    FInit w;
    w.show();
    QVERIFY(connectTo(w, board));

    // Streaming on: the output source goes out before the general section,
    // beamforming is off on the board, the pair list's mask is used.
    board.clearRequests();
    clickGroup(w, "gB_DEMO_Streaming");
    QCOMPARE(board.setMasks().mid(0, 2), (QList<int>{PARAM_OUTPUT, PARAM_GENERAL}));
    FeatureParameterBlock state = boardState(w);
    QCOMPARE(state.general.enabledFeatures, uint16_t(0x08));
    QCOMPARE(state.output.outputSource, uint8_t(2));
    QCOMPARE(state.general.micMask, 9u);
    QVERIFY(logHas(w, "Set Streaming OK"));
    QVERIFY(!child<QGroupBox>(w, "gB_DEMO_Beam")->isChecked());
    QVERIFY(child<QSlider>(w, "hS_Volume")->isEnabled());
    QVERIFY(!FInitProbe::wedge(w).isVisible());

    // Beamforming on: streaming unticked, the gesture switch off sets the
    // streaming volume to 64.
    clickGroup(w, "gB_DEMO_Beam");
    state = boardState(w);
    QCOMPARE(state.general.enabledFeatures, uint16_t(0x09));
    QCOMPARE(state.general.micVolume, uint8_t(64));
    QVERIFY(!child<QGroupBox>(w, "gB_DEMO_Streaming")->isChecked());
    QVERIFY(logHas(w, "Set Set Beam OK"));

    // Localisation on: echo cancellation stays off, beamforming stays on
    // (not the restricted board), the ring and its polls run.
    clickGroup(w, "gB_DEMO_Source");
    QCOMPARE(boardState(w).general.enabledFeatures, uint16_t(0x0B));
    QVERIFY(FInitProbe::ring(w).isVisible());
    QCOMPARE(child<QTimer>(w, "anglePollTimer")->interval(), 16);
    QVERIFY(child<QTimer>(w, "anglePollTimer")->isActive());
    QVERIFY(child<QTimer>(w, "fadeTimer")->isActive());

    // Echo cancellation on: beamforming and localisation go off.
    clickGroup(w, "gB_DEMO_AEC");
    state = boardState(w);
    QCOMPARE(state.general.enabledFeatures, uint16_t(0x0C));
    QCOMPARE(state.general.micMask, 1u);
    QVERIFY(!child<QGroupBox>(w, "gB_DEMO_Beam")->isChecked());
    QVERIFY(!child<QGroupBox>(w, "gB_DEMO_Source")->isChecked());
    QVERIFY(!FInitProbe::ring(w).isVisible());
    QVERIFY(!child<QTimer>(w, "anglePollTimer")->isActive());

    // Localisation on clears echo cancellation.
    clickGroup(w, "gB_DEMO_Source");
    QCOMPARE(boardState(w).general.enabledFeatures, uint16_t(0x0A));
    QVERIFY(!child<QGroupBox>(w, "gB_DEMO_AEC")->isChecked());

    // Echo cancellation off ticks beamforming and sends it.
    clickGroup(w, "gB_DEMO_AEC");
    clickGroup(w, "gB_DEMO_AEC");
    QCOMPARE(boardState(w).general.enabledFeatures & 0x05, 0x01);
    QVERIFY(child<QGroupBox>(w, "gB_DEMO_Beam")->isChecked());

    // Beamforming off ticks streaming: output then general.
    board.clearRequests();
    clickGroup(w, "gB_DEMO_Beam");
    QCOMPARE(board.setMasks().mid(0, 2), (QList<int>{PARAM_OUTPUT, PARAM_GENERAL}));
    QVERIFY(child<QGroupBox>(w, "gB_DEMO_Streaming")->isChecked());
    QCOMPARE(boardState(w).general.enabledFeatures & 0x05, 0);

    // Streaming off ticks beamforming again: one of the three always runs.
    clickGroup(w, "gB_DEMO_Streaming");
    QVERIFY(child<QGroupBox>(w, "gB_DEMO_Beam")->isChecked());
    QCOMPARE(boardState(w).general.enabledFeatures & 0x05, 0x01);
}

void WindowConnectTest::muteGestureAndDirectionReachTheBoard()
{
    ScratchWorkingDirectory cwd;
    EmulatedBoard board(uniquePortNumber(3), {"--enabled", "01"});
    FInit w;
    w.show();
    QVERIFY(connectTo(w, board));
    QCheckBox* mute = child<QCheckBox>(w, "cB_Mute");
    QSlider* output = child<QSlider>(w, "hS_Output");

    mute->click();
    QCOMPARE(boardState(w).output.outputVolume, uint8_t(0));
    QCOMPARE(output->value(), 50); // the slider stays
    mute->click();
    QCOMPARE(boardState(w).output.outputVolume, uint8_t(50));
    mute->click();
    output->setValue(30); // a non-zero volume unmutes
    QVERIFY(!mute->isChecked());
    QCOMPARE(boardState(w).output.outputVolume, uint8_t(30));
    QVERIFY(logHas(w, "Set Volume OK"));

    // Gesture volume control (inside the streaming panel) on and off twice:
    // one command per slider step.
    clickGroup(w, "gB_DEMO_Streaming");
    QCheckBox* gesture = child<QCheckBox>(w, "cB_gestureVolumeControl");
    QSlider* volume = child<QSlider>(w, "hS_Volume");
    for (int round = 0; round < 2; ++round) {
        gesture->click();
        QVERIFY(!volume->isEnabled());
        QVERIFY(child<QTimer>(w, "volumePollTimer")->isActive());
        QCOMPARE(boardState(w).general.volumeGesture, 1u);
        gesture->click();
        QCOMPARE(volume->value(), 64);
        QVERIFY(!child<QTimer>(w, "volumePollTimer")->isActive());
    }
    QVERIFY(logHas(w, "Set Volume Gesture OK"));
    board.clearRequests();
    volume->setValue(70);
    QCOMPARE(board.setMasks(), QList<int>{PARAM_GENERAL});
    QCOMPARE(child<QLabel>(w, "l_dB")->text(), QStringLiteral("24.8 dB"));
    volume->setValue(0);
    QCOMPARE(child<QLabel>(w, "l_dB")->text(), QStringLiteral("-Inf dB"));
    QCOMPARE(boardState(w).general.micVolume, uint8_t(0));

    // With gesture control the board's volume comes back through the poll;
    // step 0 then reads as a number.
    gesture->click();
    QTRY_VERIFY_WITH_TIMEOUT(child<QLabel>(w, "l_dB")->text() != QLatin1String("-Inf dB"), 4000);
    QVERIFY(child<QLabel>(w, "l_dB")->text().endsWith(" dB"));
    QCOMPARE(child<QSpinBox>(w, "sB_Volume")->value(),
             int(qMin<uint32_t>(FInitProbe::block(w).general.currentVolume, 128)));
    gesture->click();
    clickGroup(w, "gB_DEMO_Beam");
    QVERIFY(child<QGroupBox>(w, "gB_DEMO_Beam")->isChecked());

    // Direction 3 goes to the board and moves the display.
    child<QComboBox>(w, "cB_BeamDir")->setCurrentIndex(2);
    QCOMPARE(boardState(w).beam.beamDirection, uint8_t(3));
    QVERIFY(logHas(w, "Set Beam Direction OK"));
    QCOMPARE(FInitProbe::label(w, 2).brush().color(), QColor(Qt::red));
    QCOMPARE(FInitProbe::label(w, 2).opacity(), 0.9);
    QCOMPARE(FInitProbe::label(w, 1).brush().color(), QColor(Qt::black));
    QCOMPARE(FInitProbe::wedge(w).rotation(), 90.0);
    QVERIFY(FInitProbe::wedge(w).isVisible());
    QCOMPARE(FInitProbe::block(w).general.micMask, 9u); // M1 + M4 on this board

    // Beam gesture control polls the board's direction into the list.
    child<QCheckBox>(w, "cB_gestureControl")->click();
    QCOMPARE(boardState(w).beam.beamGesture, 1u);
    QVERIFY(child<QTimer>(w, "beamPollTimer")->isActive());
    QTRY_VERIFY_WITH_TIMEOUT(child<QComboBox>(w, "cB_BeamDir")->currentIndex() != 2, 6000);
    child<QCheckBox>(w, "cB_gestureControl")->click();
    QVERIFY(!child<QTimer>(w, "beamPollTimer")->isActive());
}

void WindowConnectTest::kestrelBoardCannotBeamformAndLocaliseTogether()
{
    ScratchWorkingDirectory cwd;
    EmulatedBoard board(uniquePortNumber(4),
                        {"--name", "PlinthSystem Kestrel9 u4", "--enabled", "01"});
    FInit w;
    w.show();
    QVERIFY(connectTo(w, board));

    clickGroup(w, "gB_DEMO_Source");
    QCOMPARE(boardState(w).general.enabledFeatures & 0x03, 0x02);
    QVERIFY(!child<QGroupBox>(w, "gB_DEMO_Beam")->isChecked());
    QVERIFY(logHas(w, "Set Set Source OK"));

    clickGroup(w, "gB_DEMO_Beam");
    QCOMPARE(boardState(w).general.enabledFeatures & 0x03, 0x01);
    QVERIFY(!child<QGroupBox>(w, "gB_DEMO_Source")->isChecked());
    QVERIFY(!child<QTimer>(w, "anglePollTimer")->isActive());
}

void WindowConnectTest::failedOpenSilentBoardAndStalledBoardOnlyLog()
{
    ScratchWorkingDirectory cwd;
    FInit w;
    w.show();

    // No board behind the port.
    clickOpen(w, 1000); // above every board port the tests use
    QVERIFY(logHas(w, "Error occurred while opening COM Port."));
    QVERIFY(logHas(w, "Error"));
    QCOMPARE(child<QPushButton>(w, "pb_OpenCloseCOM")->text(), QStringLiteral("Open COM Port"));

    // A board that answers too late: the ping fails, the port stays open.
    {
        EmulatedBoard slow(uniquePortNumber(6), {"--reply-delay", "2300"});
        QVERIFY(slow.isReady());
        clickOpen(w, slow.portNumber());
        QVERIFY(logHas(w, "Ping error. Please check COM Port number."));
        QCOMPARE(child<QPushButton>(w, "pb_OpenCloseCOM")->text(),
                 QStringLiteral("Close COM Port"));
        QVERIFY(child<QWidget>(w, "gB_DEMO_Beam")->isHidden());
        QVERIFY(child<QTimer>(w, "portPollTimer")->isActive());
        child<QPushButton>(w, "pb_OpenCloseCOM")->click();
        QCOMPARE(child<QPushButton>(w, "pb_OpenCloseCOM")->text(), QStringLiteral("Open COM Port"));
    }

    // A board that stalls while connected: failures are logged, the
    // window's block and panels stay as they were.
    EmulatedBoard board(uniquePortNumber(7), {"--enabled", "09"});
    QVERIFY(connectTo(w, board));
    const FeatureParameterBlock before = FInitProbe::block(w);
    board.pause();
    child<QSlider>(w, "hS_Output")->setValue(20);
    QVERIFY(logHas(w, "Error: Set Volume failed"));
    QTRY_VERIFY_WITH_TIMEOUT(logHas(w, "Error: GetDbNoise failed"), 6000);
    FeatureParameterBlock expected = before;
    expected.output.outputVolume = 20; // the edit stays; nothing is rolled back
    QVERIFY(std::memcmp(&FInitProbe::block(w), &expected, sizeof expected) == 0);
    QVERIFY(child<QGroupBox>(w, "gB_DEMO_Beam")->isChecked());
    QCOMPARE(child<QPushButton>(w, "pb_OpenCloseCOM")->text(), QStringLiteral("Close COM Port"));
    child<QTimer>(w, "noisePollTimer")->stop();

    // Once the board answers again the window carries on.
    board.resume();
    QTest::qWait(300);
    child<QSlider>(w, "hS_Output")->setValue(25);
    QCOMPARE(logLines(w).last(), QStringLiteral("Set Volume OK"));
}

QTEST_MAIN(WindowConnectTest)
#include "test_window_connect.moc"
