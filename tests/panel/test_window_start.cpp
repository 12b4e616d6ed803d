// Start-up, settings and the form, without a board.
#include <QSettings>
#include <QtTest>

#include <cmath>

#include "FeatureTables.h"
#include "PanelTestSupport.h"

class WindowStartTest : public QObject
{
    Q_OBJECT

  private slots:
    void startsWithDefaultsAndWritesSettingsOnClose();
    void restoresSavedGeometryPortAndMaximisedState();
    void formHasItsListsPairingsAndResources();
    void portSelectionFillsThePortNumber();
    void displayTablesMatchTheirDefinition();
};

void WindowStartTest::startsWithDefaultsAndWritesSettingsOnClose()
{
    ScratchWorkingDirectory cwd;
    QVERIFY(!QFile::exists(cwd.settingsFile()));
    {
        FInit w;
        w.show();
        // The layout's minimum (fixed 600-pixel view beside the 400-pixel
        // panel column) wins over a smaller stored or default size.
        QCOMPARE(w.size(), QSize(830, 600).expandedTo(w.minimumSizeHint()));
        QCOMPARE(w.pos(), QPoint(50, 50));
        QCOMPARE(w.windowTitle(), QStringLiteral("Halvane GUI"));
        QVERIFY(!w.windowIcon().isNull());
        QCOMPARE(child<QSpinBox>(w, "sB_PortNumber")->value(), 1);
        QCOMPARE(child<QComboBox>(w, "cB_PortSpeed")->currentIndex(), 3);
        QCOMPARE(child<QPushButton>(w, "pb_OpenCloseCOM")->text(), QStringLiteral("Open COM Port"));
        for (const char* name : {"cB_PortSpeed", "l_Speed", "gB_DEMO_AEC", "gB_DEMO_Beam",
                                 "gB_DEMO_Source", "gB_DEMO_Streaming", "gB_ASR_BOX", "gB_DBMoise",
                                 "gBOutput", "hS_AEC_AgcValue", "label_6", "l_AEC_Agc"})
            QVERIFY2(child<QWidget>(w, name)->isHidden(), name);
        QTimer* portPoll = child<QTimer>(w, "portPollTimer");
        QVERIFY(portPoll->isActive());
        QCOMPARE(portPoll->interval(), 1000);
        QVERIFY(!child<QLabel>(w, "l_Image")->pixmap(Qt::ReturnByValue).isNull());
        w.close();
    }
    QVERIFY(QFile::exists(cwd.settingsFile()));
    QSettings stored(cwd.settingsFile(), QSettings::IniFormat);
    QCOMPARE(stored.childGroups(), (QStringList{"COMPort", "Window"}));
    QVERIFY(stored.value("Window/size").toSize().isValid());
    QCOMPARE(stored.value("Window/pos").toPoint(), QPoint(50, 50));
    QCOMPARE(stored.value("Window/isMaximized").toBool(), false);
    QCOMPARE(stored.value("COMPort/sB_PortNumber").toInt(), 1);
    QCOMPARE(stored.value("COMPort/cB_PortSpeed").toInt(), 3);
}

void WindowStartTest::restoresSavedGeometryPortAndMaximisedState()
{
    ScratchWorkingDirectory cwd;
    {
        FInit w;
        w.show();
        w.resize(1100, 800);
        w.move(120, 80);
        child<QSpinBox>(w, "sB_PortNumber")->setValue(42);
        child<QComboBox>(w, "cB_PortSpeed")->setCurrentIndex(7);
        w.close();
    }
    {
        FInit w;
        w.show();
        QCOMPARE(w.size(), QSize(1100, 800));
        QCOMPARE(w.pos(), QPoint(120, 80));
        QCOMPARE(child<QSpinBox>(w, "sB_PortNumber")->value(), 42);
        QCOMPARE(child<QComboBox>(w, "cB_PortSpeed")->currentIndex(), 7);
        w.showMaximized();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.close();
    }
    QSettings stored(cwd.settingsFile(), QSettings::IniFormat);
    QCOMPARE(stored.value("Window/isMaximized").toBool(), true);
    {
        FInit w;
        w.show();
        QVERIFY(w.isMaximized());
        // Un-maximising returns to the default geometry, not the stored one.
        w.showNormal();
        QCOMPARE(w.pos(), QPoint(50, 50));
        QCOMPARE(w.size(), QSize(830, 600).expandedTo(w.minimumSizeHint()));
        QCOMPARE(child<QSpinBox>(w, "sB_PortNumber")->value(), 42);
        w.close();
    }
}

void WindowStartTest::formHasItsListsPairingsAndResources()
{
    ScratchWorkingDirectory cwd;
    FInit w;
    auto entries = [&](const char* name) {
        QStringList texts;
        QComboBox* box = child<QComboBox>(w, name);
        for (int i = 0; i < box->count(); ++i)
            texts << box->itemText(i);
        return texts;
    };
    QCOMPARE(entries("cB_PortSpeed"),
             (QStringList{"Default", "9600", "14400", "57600", "115200", "128000", "230400",
                          "256000", "460800", "921600"}));
    QCOMPARE(entries("cB_OmniSelector"),
             (QStringList{"M1 + M4", "M2 + M4", "M3 + M4", "M1 + M3", "M2 + M3", "M1 + M2"}));
    QCOMPARE(entries("cB_AlgType"),
             (QStringList{"Cardioid Basic", "Cardioid Denoise", "Asr Ready", "Strong"}));
    QCOMPARE(entries("cB_BeamDir").size(), 8);
    QCOMPARE(entries("cB_BeamDir").last(), QStringLiteral("Direction 8"));
    // The form's own pairings work before any board is connected.
    child<QSpinBox>(w, "sB_Volume")->setValue(40);
    QCOMPARE(child<QSlider>(w, "hS_Volume")->value(), 40);
    child<QSlider>(w, "hS_Output")->setValue(77);
    QCOMPARE(child<QSpinBox>(w, "sB_Output")->value(), 77);
    child<QSlider>(w, "hS_SOURCE_Treshold")->setValue(100);
    QCOMPARE(child<QLabel>(w, "l_SOURCE_Treshold")->text(), QStringLiteral("100"));

    for (const char* path :
         {"://images/ZQ.jpg", ":Zevirozu.ico", ":/Form/Zevirozu.ico", "://images/RoridaruZazo.jpg",
          "://images/AudioIn.jpg", "://images/CARDIOID_ONLY.jpg"}) {
        QFile file{QString::fromLatin1(path)};
        QVERIFY2(file.open(QIODevice::ReadOnly), path);
        QVERIFY2(!QPixmap(QLatin1String(path)).isNull(), path);
    }
}

void WindowStartTest::portSelectionFillsThePortNumber()
{
    ScratchWorkingDirectory cwd;
    FInit w;
    w.show();
    QComboBox* ports = child<QComboBox>(w, "cB_COMPort");
    QSpinBox* number = child<QSpinBox>(w, "sB_PortNumber");
    ports->clear();
    ports->addItems({"COM12", "ttyACM3x7", "Manual"});
    ports->setCurrentIndex(0);
    w.S_UpdateCOMPort();
    QCOMPARE(number->value(), 12);
    QVERIFY(number->isHidden());
    ports->setCurrentIndex(1); // the first number in the name
    w.S_UpdateCOMPort();
    QCOMPARE(number->value(), 3);
    ports->setCurrentIndex(2); // "Manual" shows the spin box and keeps its value
    w.S_UpdateCOMPort();
    QCOMPARE(number->value(), 3);
    QVERIFY(!number->isHidden());
    QVERIFY(!child<QLabel>(w, "l_COM")->isHidden());
}

void WindowStartTest::displayTablesMatchTheirDefinition()
{
    // Volume steps: 20 log10(v / 4) truncated toward zero to one decimal,
    // computed here in double, except the fixed entry 127.
    for (int v = 1; v <= 128; ++v) {
        const double exact = 20.0 * std::log10(v / 4.0);
        const double expected = v == 127 ? 30.03 : std::trunc(std::round(exact * 1e6) / 1e5) / 10.0;
        QVERIFY2(std::fabs(volumeStepDecibels(v) - expected) < 1e-5,
                 qPrintable(QString::number(v)));
    }
    QCOMPARE(volumeText(0, true), QStringLiteral("-Inf dB"));
    QCOMPARE(volumeText(0, false), QStringLiteral("0 dB"));
    QCOMPARE(volumeText(1, true), QStringLiteral("-12 dB"));
    QCOMPARE(volumeText(3, true), QStringLiteral("-2.4 dB"));
    QCOMPARE(volumeText(40, true), QStringLiteral("20 dB"));
    QCOMPARE(volumeText(64, true), QStringLiteral("24 dB"));
    QCOMPARE(volumeText(127, true), QStringLiteral("30.03 dB"));
    QCOMPARE(volumeText(128, true), QStringLiteral("30.1 dB"));
    QCOMPARE(volumeText(5000, false), QStringLiteral("30.1 dB"));

    // The pair list and its reverse agree on every entry.
    for (int i = 0; i < 6; ++i)
        QCOMPARE(pairOfMicMask(micMaskOfPair(i)), i);
    QCOMPARE(micMaskOfPair(6), 9u);
    QCOMPARE(micMaskOfPair(-1), 9u);
    QCOMPARE(pairOfMicMask(15), 0);
    QCOMPARE(beamMicMask(8, false), 0u);
    QCOMPARE(beamMicMask(-1, true), 0u);

    QString text = QStringLiteral("unchanged");
    QVERIFY(!speechCommandText(13, text));
    QVERIFY(!speechCommandText(26, text));
    QCOMPARE(text, QStringLiteral("unchanged"));
}

QTEST_MAIN(WindowStartTest)
#include "test_window_start.moc"
