// Main window: construction, shutdown, settings and the feature wiring.
#include "FInit.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDebug>
#include <QFontMetrics>
#include <QIcon>
#include <QPixmap>
#include <QSettings>
#include <QTimer>

#include "CDeviceLink.h"

namespace
{

// Default window geometry, also the geometry behind a maximised window.
const QSize defaultWindowSize(830, 600);
const QPoint defaultWindowPos(50, 50);
constexpr int defaultPortNumber = 1;
constexpr int defaultPortSpeedIndex = 3;

QTimer* makeTimer(QObject* parent, const char* name)
{
    QTimer* timer = new QTimer(parent);
    timer->setObjectName(QLatin1String(name));
    return timer;
}

} // namespace

FInit::FInit(QWidget* parent)
    : QWidget(parent), link(nullptr), boardName{}, boardLayout(),
      fadeLevel(-1.0f), // nothing to fade before the first direction
      anglePollTimer(nullptr), fadeTimer(nullptr), speechPollTimer(nullptr), portPollTimer(nullptr),
      noisePollTimer(nullptr), beamPollTimer(nullptr), volumePollTimer(nullptr), block(),
      savedOutputVolume(0), missedAnswers(0), busyCursorShown(false)
{
    setupUi(this);

    // The log keeps the newest lines only, and is for reading.
    tE_Log->setReadOnly(true);
    tE_Log->document()->setMaximumBlockCount(LOG_LINE_LIMIT);
    // Room for the widest angle text, so that the sliders below never move
    // when the number of digits changes.
    const QString widestAngle = QStringLiteral("-888") + QChar(0x00B0);
    l_SOURCE->setFixedWidth(QFontMetrics(l_SOURCE->font()).horizontalAdvance(widestAngle) + 4);
    unknownBoardScene.addItem(&unknownBoardText);

    cB_PortSpeed->hide();
    l_Speed->hide();

    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("./"));

    anglePollTimer = makeTimer(this, "anglePollTimer");
    fadeTimer = makeTimer(this, "fadeTimer");
    speechPollTimer = makeTimer(this, "speechPollTimer");
    portPollTimer = makeTimer(this, "portPollTimer");
    noisePollTimer = makeTimer(this, "noisePollTimer");
    beamPollTimer = makeTimer(this, "beamPollTimer");
    volumePollTimer = makeTimer(this, "volumePollTimer");
    link = new CDeviceLink();
    link->SetSlowWaitHandler([this] { S_ShowBusyCursor(); });

    connect(pb_OpenCloseCOM, SIGNAL(clicked()), this, SLOT(S_OpenCloseCOM()));
    connect(portPollTimer, SIGNAL(timeout()), this, SLOT(S_ListCOMPort()));
    portPollTimer->start(PORT_POLL_MS);

    // Stacking order: markers and labels at the bottom, then the picture,
    // the wedge and the ring on top.
    for (int k = 0; k < 4; ++k) {
        scene.addItem(&micMarkers[k]);
        scene.addItem(&directionLabels[k]);
    }
    for (int k = 4; k < BEAM_DIRECTION_COUNT; ++k)
        scene.addItem(&directionLabels[k]);
    scene.addItem(&pictureItem);
    scene.addItem(&beamWedge);
    scene.addItem(&ringGroup);

    l_Image->setPixmap(QPixmap(QStringLiteral("://images/ZQ.jpg")));
    setWindowIcon(QIcon(QStringLiteral(":Zevirozu.ico")));

    loadSettings();
    S_ListCOMPort(); // the list is there before the first poll

    gB_DEMO_AEC->hide();
    gB_DEMO_Beam->hide();
    gB_DEMO_Source->hide();
    gB_DEMO_Streaming->hide();
    gB_ASR_BOX->hide();
    gB_DBMoise->hide();
    gBOutput->hide();
    hS_AEC_AgcValue->hide();
    label_6->hide();
    l_AEC_Agc->hide();
}

FInit::~FInit()
{
    if (busyCursorShown)
        QApplication::restoreOverrideCursor(); // its restoring timer goes with this window
    closePort();
    anglePollTimer->stop();
    speechPollTimer->stop();
    noisePollTimer->stop();
    fadeTimer->stop();
    delete noisePollTimer;
    delete anglePollTimer;
    delete speechPollTimer;
    delete fadeTimer;
    delete portPollTimer;
    delete link;
    delete beamPollTimer;
    delete volumePollTimer;
    // The graphics items are members; each leaves the scene as it is
    // destroyed, before the scene itself.
}

// Shows the busy cursor until control returns to the event loop, that is
// until the exchange that blocks the GUI thread has ended.
void FInit::S_ShowBusyCursor()
{
    if (busyCursorShown)
        return;
    busyCursorShown = true;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QTimer::singleShot(0, this, [this] {
        QApplication::restoreOverrideCursor();
        busyCursorShown = false;
    });
}

int FInit::S_Ping()
{
    report(QStringLiteral("Module Ping"));
    if (link->Ping(BOARD_ADDRESS) == 0)
        report(QStringLiteral("Ping OK"));
    else
        report(QStringLiteral("Ping KO"));
    return 0;
}

void FInit::closeEvent(QCloseEvent* event)
{
    saveSettings();
    event->accept();
}

void FInit::report(const QString& text)
{
    report(text, text);
}

void FInit::report(const QString& debugText, const QString& logText)
{
    qDebug().noquote() << debugText;
    tE_Log->append(logText);
}

void FInit::setFeatureConnections(bool on)
{
    struct Wire {
        QObject* sender;
        const char* signal;
        const char* slot;
    };
    const Wire wires[] = {
        {gB_DEMO_Beam, SIGNAL(clicked()), SLOT(S_EnableBEAM())},
        {gB_DEMO_Source, SIGNAL(clicked()), SLOT(S_EnableSOURCE())},
        {gB_DEMO_AEC, SIGNAL(clicked()), SLOT(S_EnableAEC())},
        {gB_DEMO_Streaming, SIGNAL(clicked()), SLOT(S_EnableSTREAMING())},
        {hS_Volume, SIGNAL(sliderReleased()), SLOT(S_STREAMING_SetVolume())},
        {hS_Volume, SIGNAL(valueChanged(int)), SLOT(S_STREAMING_SetVolume())},
        {noisePollTimer, SIGNAL(timeout()), SLOT(S_DBNOISE_GetValue())},
        {speechPollTimer, SIGNAL(timeout()), SLOT(S_ASR_GetCommand())},
        {cB_BeamDir, SIGNAL(currentIndexChanged(int)), SLOT(S_BEAM_SetDirection())},
        {cB_AlgType, SIGNAL(currentIndexChanged(int)), SLOT(S_BEAM_SetType())},
        {anglePollTimer, SIGNAL(timeout()), SLOT(S_SLOC_GetAngle())},
        {hS_SOURCE_Treshold, SIGNAL(sliderReleased()), SLOT(S_SLOC_SetTreshold())},
        {hS_SOURCE_Treshold, SIGNAL(valueChanged(int)), SLOT(S_SLOC_SetTreshold())},
        {fadeTimer, SIGNAL(timeout()), SLOT(S_SLOC_FadeOut())},
        {hs_SOURCE_Resolution, SIGNAL(sliderReleased()), SLOT(S_SLOC_SetResolution())},
        {hs_SOURCE_Resolution, SIGNAL(valueChanged(int)), SLOT(S_SLOC_SetResolution())},
        {pB_setOffset, SIGNAL(clicked()), SLOT(S_DBNOISE_SetOffset())},
        {cB_AEC_DenoiserEnable, SIGNAL(clicked()), SLOT(S_AEC_SetDenoiser())},
        {hS_AEC_AgcValue, SIGNAL(sliderReleased()), SLOT(S_AEC_AGCControl())},
        {hS_AEC_AgcValue, SIGNAL(valueChanged(int)), SLOT(S_AEC_AGCControl())},
        {hS_Output, SIGNAL(sliderReleased()), SLOT(S_OUTPUT_SetVolume())},
        {hS_Output, SIGNAL(valueChanged(int)), SLOT(S_OUTPUT_SetVolume())},
        {cB_gestureVolumeControl, SIGNAL(clicked()), SLOT(S_OUTPUT_SetVolumeGestureControl())},
        {volumePollTimer, SIGNAL(timeout()), SLOT(S_OUTPUT_GetVolume())},
        {cB_Mute, SIGNAL(clicked()), SLOT(S_OUTPUT_SetMute())},
        {cB_OmniSelector, SIGNAL(currentIndexChanged(int)), SLOT(S_OMNI_SetChannels())},
        {cB_gestureControl, SIGNAL(clicked()), SLOT(S_BEAM_SetGestureControl())},
        {beamPollTimer, SIGNAL(timeout()), SLOT(S_BEAM_GetDirection())},
    };
    for (const Wire& wire : wires) {
        if (on)
            connect(wire.sender, wire.signal, this, wire.slot);
        else
            disconnect(wire.sender, wire.signal, this, wire.slot);
    }
}

void FInit::saveSettings()
{
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Settings"),
                       QCoreApplication::applicationName());
    settings.beginGroup(QStringLiteral("Window"));
    settings.setValue(QStringLiteral("size"), size());
    settings.setValue(QStringLiteral("pos"), pos());
    settings.setValue(QStringLiteral("isMaximized"), isMaximized());
    settings.endGroup();
    settings.beginGroup(QStringLiteral("COMPort"));
    settings.setValue(QStringLiteral("sB_PortNumber"), sB_PortNumber->value());
    settings.setValue(QStringLiteral("cB_PortSpeed"), cB_PortSpeed->currentIndex());
    settings.endGroup();
}

void FInit::loadSettings()
{
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Settings"),
                       QCoreApplication::applicationName());
    settings.beginGroup(QStringLiteral("Window"));
    resize(settings.value(QStringLiteral("size"), defaultWindowSize).toSize());
    move(settings.value(QStringLiteral("pos"), defaultWindowPos).toPoint());
    if (settings.value(QStringLiteral("isMaximized"), false).toBool()) {
        // Un-maximising then returns to the default geometry.
        resize(defaultWindowSize);
        move(defaultWindowPos);
        showMaximized();
    }
    settings.endGroup();
    settings.beginGroup(QStringLiteral("COMPort"));
    sB_PortNumber->setValue(
        settings.value(QStringLiteral("sB_PortNumber"), defaultPortNumber).toInt());
    cB_PortSpeed->setCurrentIndex(
        settings.value(QStringLiteral("cB_PortSpeed"), defaultPortSpeedIndex).toInt());
    settings.endGroup();
}
