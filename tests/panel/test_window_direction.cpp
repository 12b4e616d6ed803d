// The direction display: layouts per board, microphone markers, the beam
// wedge and labels, the source ring and its fade.
#include <QtTest>

#include "PanelTestSupport.h"

namespace
{

QList<int> visibleMarkers(const FInit& w)
{
    QList<int> shown;
    for (int m = 0; m < 4; ++m) {
        if (FInitProbe::marker(w, m).isVisible())
            shown << m;
    }
    return shown;
}

// Dots lit for an angle, by a plain walk round the ring: the 8 dots from
// (angle / 4 - 3) on, clockwise, wrapping at 90.
QList<int> expectedDots(int angle)
{
    int first = angle / 4 - 3;
    while (first < 0)
        first += 90;
    QList<int> dots;
    for (int i = 0; i < 90; ++i) {
        int distance = i - first % 90;
        if (distance < 0)
            distance += 90;
        if (distance < 8)
            dots << i;
    }
    return dots;
}

} // namespace

class WindowDirectionTest : public QObject
{
    Q_OBJECT

  private slots:
    void layoutAndMicrophoneMarkersFollowTheBoardName();
    void invalidBeamDirectionIsNeitherShownNorSentBack();
    void ringLightsTowardsTheSourceAndFades();
};

void WindowDirectionTest::layoutAndMicrophoneMarkersFollowTheBoardName()
{
    struct Case {
        QString name;
        int centreX, centreY;
        int m1Marker; // marker showing microphone M1
    };
    // One window, boards in turn: first one without a layout in a fresh
    // window, then a name that fills the whole 100-byte buffer without a
    // NUL (read without overrun); each shorter name must not inherit the
    // tail of the previous one.
    const Case cases[] = {{"Plain board", 0, 0, 0},
                          {QStringLiteral("Marrowin") + QString(92, QLatin1Char('x')), 303, 243, 3},
                          {"Halvane Marrowin Zodurev", 303, 243, 3},
                          {"Zodurev", 303, 228, 1},
                          {"kit u4", 260, 172, 1}};
    ScratchWorkingDirectory cwd;
    FInit w;
    w.show();
    int offset = 10;
    for (const Case& c : cases) {
        const bool known = c.name != QLatin1String("Plain board");
        // The unknown board also runs localisation: its polls must cope
        // without a display.
        EmulatedBoard board(uniquePortNumber(offset++),
                            {"--name", c.name, "--enabled", known ? "01" : "03"});
        QVERIFY(connectTo(w, board));
        QCOMPARE(FInitProbe::boardName(w), c.name);
        if (!known) {
            // The panels still work; the display says why it shows no board.
            const QGraphicsScene* view =
                child<QGraphicsView>(w, "gW_mainImageGraphicView")->scene();
            QVERIFY(view != nullptr);
            QStringList texts;
            for (const QGraphicsItem* item : view->items()) {
                if (auto text = dynamic_cast<const QGraphicsSimpleTextItem*>(item))
                    texts << text->text();
            }
            QCOMPARE(texts, QStringList{"Unknown board layout: Plain board"});
            child<QComboBox>(w, "cB_BeamDir")->setCurrentIndex(5);
            QVERIFY(logLines(w).contains("Set Beam Direction OK"));
            QTest::qWait(200);
            child<QPushButton>(w, "pb_OpenCloseCOM")->click();
            continue;
        }
        QCOMPARE(int(FInitProbe::layout(w).centreX), c.centreX);
        QCOMPARE(int(FInitProbe::layout(w).centreY), c.centreY);
        QVERIFY(child<QGraphicsView>(w, "gW_mainImageGraphicView")->scene() != nullptr);
        const bool marrowin = c.name.contains("Marrowin");

        // Direction 3: on "Marrowin" microphones M3 + M4 (mask 12), else M1 + M4.
        child<QComboBox>(w, "cB_BeamDir")->setCurrentIndex(2);
        QCOMPARE(FInitProbe::block(w).general.micMask, marrowin ? 12u : 9u);
        QCOMPARE(FInitProbe::wedge(w).rotation(), 90.0);
        QCOMPARE(FInitProbe::wedge(w).transformOriginPoint(), QPointF(c.centreX, c.centreY));

        // Streaming with the pair M1 + M4: M4 is always the upper-left marker,
        // M1 depends on the board.
        clickGroup(w, "gB_DEMO_Streaming");
        child<QComboBox>(w, "cB_OmniSelector")->setCurrentIndex(0);
        QCOMPARE(visibleMarkers(w), (QList<int>{0, c.m1Marker}));
        QVERIFY(!FInitProbe::wedge(w).isVisible());
        for (int k = 0; k < 8; ++k)
            QCOMPARE(FInitProbe::label(w, k).brush().color(), QColor(Qt::black));

        child<QPushButton>(w, "pb_OpenCloseCOM")->click();
        QCOMPARE(child<QPushButton>(w, "pb_OpenCloseCOM")->text(), QStringLiteral("Open COM Port"));
    }
}

void WindowDirectionTest::invalidBeamDirectionIsNeitherShownNorSentBack()
{
    ScratchWorkingDirectory cwd;
    EmulatedBoard board(uniquePortNumber(23), {"--name", "Zodurev", "--enabled", "01"});
    FInit w;
    w.show();
    QVERIFY(connectTo(w, board));
    FeatureParameterBlock state = FInitProbe::block(w);
    state.beam.beamDirection = 0;
    QCOMPARE(FInitProbe::writeBoard(w, PARAM_BEAM, state), 0);

    // Reconnecting reads direction 0: no label or wedge for it.
    child<QPushButton>(w, "pb_OpenCloseCOM")->click();
    clickOpen(w, board.portNumber());
    QVERIFY(child<QGroupBox>(w, "gB_DEMO_Beam")->isChecked());
    QCOMPARE(child<QComboBox>(w, "cB_BeamDir")->currentIndex(), -1);
    QVERIFY(!FInitProbe::wedge(w).isVisible());
    for (int k = 0; k < 8; ++k)
        QCOMPARE(FInitProbe::label(w, k).brush().color(), QColor(Qt::black));

    // The beam poll reports it as a failure and sends nothing back.
    board.clearRequests();
    QCOMPARE(w.S_BEAM_GetDirection(), -1);
    QCOMPARE(logLines(w).last(), QStringLiteral("Error: Get Beam failed"));
    QCOMPARE(board.setMasks(), QList<int>());
}

void WindowDirectionTest::ringLightsTowardsTheSourceAndFades()
{
    ScratchWorkingDirectory cwd;
    EmulatedBoard board(uniquePortNumber(21), {"--name", "Halvane Zodurev", "--enabled", "1B"});
    FInit w;
    w.show();
    QVERIFY(connectTo(w, board));

    // Fixed angles, including ones that leave the ring's range.
    const struct {
        int angle;
        QList<int> dots;
    } fixed[] = {{0, {0, 1, 2, 3, 4, 87, 88, 89}},
                 {4, {0, 1, 2, 3, 4, 5, 88, 89}},
                 {7, {0, 1, 2, 3, 4, 5, 88, 89}},
                 {359, {0, 1, 2, 3, 86, 87, 88, 89}}};
    for (const auto& f : fixed) {
        FInitProbe::lightRing(w, f.angle);
        QCOMPARE(litDots(w), f.dots);
    }
    for (int angle : {-32768, -1000, -352, 372, 1000, 32767}) {
        FInitProbe::lightRing(w, angle);
        QCOMPARE(litDots(w).size(), 8);
    }

    // The angle poll (localisation was on at connection) lights the ring
    // from the board's angle.
    QVERIFY(FInitProbe::ring(w).isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(child<QLabel>(w, "l_SOURCE")->text() != QLatin1String("---"), 10000);
    child<QTimer>(w, "anglePollTimer")->stop();
    child<QTimer>(w, "fadeTimer")->stop();
    // Poll by hand until a direction (not "no source") has just arrived.
    QTRY_VERIFY_WITH_TIMEOUT((w.S_SLOC_GetAngle(), FInitProbe::fadeLevel(w) == 1.0f), 10000);
    // The last poll may already have reported no source; the label and the
    // ring keep the last direction.
    const int angle = FInitProbe::block(w).sloc.angle;
    const QString shown = child<QLabel>(w, "l_SOURCE")->text();
    QVERIFY(shown.endsWith(QChar(0x00B0)));
    if (angle != -100)
        QCOMPARE(shown, QString::number(angle) + QChar(0x00B0));
    QCOMPARE(litDots(w), expectedDots(shown.chopped(1).toInt()));

    // The ring keeps its state while the board reports no source (-100).
    const QList<int> lit = litDots(w);
    clickGroup(w, "gB_DEMO_Source"); // localisation off: the board reports -100
    QVERIFY(!FInitProbe::ring(w).isVisible());
    const float level = FInitProbe::fadeLevel(w);
    QCOMPARE(w.S_SLOC_GetAngle(), 0);
    QCOMPARE(litDots(w), lit);
    QCOMPARE(FInitProbe::fadeLevel(w), level);

    // Fade: 1.0, 0.95, ... about 0.05 in 20 ticks, then it stays there.
    QCOMPARE(level, 1.0f);
    for (int tick = 0; tick < 20; ++tick) {
        w.S_SLOC_FadeOut();
        QVERIFY(std::fabs(FInitProbe::dot(w, 0).opacity() - (1.0 - 0.05 * tick)) < 1e-4);
    }
    for (int tick = 0; tick < 3; ++tick) {
        w.S_SLOC_FadeOut();
        QVERIFY(std::fabs(FInitProbe::dot(w, 45).opacity() - 0.05) < 1e-4);
    }

    // A screenshot of the connected window for the documentation.
    clickGroup(w, "gB_DEMO_Source");
    w.resize(1180, 780);
    QTRY_VERIFY_WITH_TIMEOUT(child<QLabel>(w, "l_DBNoise")->text() != QLatin1String("---"), 3000);
    QTRY_VERIFY_WITH_TIMEOUT(FInitProbe::fadeLevel(w) > 0.9f, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(FInitProbe::dot(w, 0).opacity() > 0.8, 2000);
    QVERIFY(w.grab().save(QStringLiteral(HALVANE_BUILD_DIR "/panel-connected.png")));
}

QTEST_MAIN(WindowDirectionTest)
#include "test_window_direction.moc"
