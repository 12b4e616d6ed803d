// The main window of the control panel: connects to the board, fits the
// feature panels to it, sends every setting the user changes and shows
// what the board reports. Everything runs on the GUI thread; each command
// blocks until the board answers or the link gives up.
#pragma once

#include <QGraphicsEllipseItem>
#include <QGraphicsItemGroup>
#include <QGraphicsPixmapItem>
#include <QGraphicsPolygonItem>
#include <QGraphicsRectItem>
#include <QGraphicsScene>
#include <QGraphicsSimpleTextItem>
#include <QList>
#include <QPolygonF>
#include <QSerialPortInfo>
#include <QString>
#include <QWidget>

#include "BoardLayout.h"
#include "FeatureParameterBlock.h"
#include "LinkProtocol.h"
#include "PanelConstants.h"
#include "ui_FormInit.h"

class CDeviceLink;
class QCloseEvent;
class QTimer;

class FInit : public QWidget, private Ui::FormInit
{
    Q_OBJECT

  public:
    explicit FInit(QWidget* parent = nullptr);
    ~FInit() override;

  public slots:
    int S_Ping();
    int S_EnableSOURCE();
    int S_EnableBEAM();
    int S_EnableAEC();
    int S_EnableSTREAMING();
    void S_ListCOMPort();
    void S_OpenCloseCOM();
    int S_STREAMING_SetVolume();
    int S_OUTPUT_SetVolume();
    int S_OUTPUT_SetMute();
    int S_AEC_SetDenoiser();
    int S_AEC_AGCControl();
    int S_SLOC_SetTreshold();
    int S_SLOC_SetResolution();
    int S_SLOC_GetAngle();
    void S_SLOC_FadeOut();
    int S_BEAM_SetDirection();
    int S_BEAM_SetType();
    int S_BEAM_SetGestureControl();
    int S_BEAM_GetDirection();
    int S_DBNOISE_SetOffset();
    int S_DBNOISE_GetValue();
    int S_ASR_GetCommand();
    void S_UpdateCOMPort();
    int S_OMNI_SetChannels();
    int S_OUTPUT_SetVolumeGestureControl();
    int S_OUTPUT_GetVolume();
    void S_ShowBusyCursor();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    friend struct FInitProbe; // the window tests read its state and talk to the board past it

    // Connection panel.
    int openPort();
    int closePort();
    void disconnectBoard();
    void stopPolling();
    // Counts a command's outcome; closes the connection when the port has
    // failed or MAX_MISSED_ANSWERS commands in a row got no answer.
    int noteAnswer(int result);
    void readModuleStatus();
    void setupBoardView();
    void resetPanels();

    // Feature panels.
    void setFeatureConnections(bool on);
    void refreshFeatureView();
    int sendSection(unsigned mask);
    int pollSection(unsigned mask, int expectedLength);
    bool boardNameContains(const char* text) const;

    // Direction display.
    void drawBoardView();
    void showUnknownBoard();
    void showBeamView(int directionIndex);
    void resetBeamView();
    void showMicMarkers(uint32_t micMask);
    void lightRing(int angle);

    // Settings.
    void saveSettings();
    void loadSettings();

    // Reports to the debug stream and, as a new paragraph, to the log box.
    void report(const QString& text);
    void report(const QString& debugText, const QString& logText);
    // Reports the outcome of a command (0 success) and returns 0 or -1.
    int reportResult(int result, const QString& success, const QString& failure);
    int reportResult(int result, const QString& successDebug, const QString& successLog,
                     const QString& failureDebug, const QString& failureLog);

    CDeviceLink* link;
    char boardName[BOARD_NAME_CAPACITY];
    BoardLayout boardLayout;
    float fadeLevel;
    QTimer* anglePollTimer;
    QTimer* fadeTimer;
    QTimer* speechPollTimer;
    QTimer* portPollTimer;
    QTimer* noisePollTimer;
    QTimer* beamPollTimer;
    QTimer* volumePollTimer;
    QGraphicsScene scene;
    QGraphicsScene unknownBoardScene; // a text naming a board without layout
    QGraphicsSimpleTextItem unknownBoardText;
    QGraphicsPixmapItem pictureItem;
    QGraphicsSimpleTextItem directionLabels[BEAM_DIRECTION_COUNT];
    QGraphicsRectItem micMarkers[4];
    QPolygonF wedgeOutline;
    QGraphicsPolygonItem beamWedge;
    QGraphicsItemGroup ringGroup;
    QGraphicsEllipseItem ringDots[RING_DOT_COUNT];
    QList<QSerialPortInfo> portList;
    FeatureParameterBlock block;
    QString boardNameText;
    uint8_t savedOutputVolume; // output volume kept while muted
    int missedAnswers;         // commands in a row without an answer
    bool busyCursorShown;      // until control returns to the event loop
};
