// Main window: the connection panel (port list, open and close, reading
// the board and fitting the panels to it).
#include "FInit.h"

#include <QTimer>

#include <climits>
#include <cstring>

#include "CComPort.h"
#include "CDeviceLink.h"

void FInit::S_ListCOMPort()
{
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    bool changed = ports.size() != portList.size();
    for (int i = 0; !changed && i < ports.size(); ++i)
        changed = ports[i].portName() != portList[i].portName();
    if (!changed)
        return;

    disconnect(cB_COMPort, SIGNAL(currentIndexChanged(int)), this, SLOT(S_UpdateCOMPort()));
    portList = ports;
    cB_COMPort->clear();
    for (const QSerialPortInfo& info : portList) {
        if (info.hasVendorIdentifier() && info.vendorIdentifier() == BOARD_USB_VENDOR_ID)
            cB_COMPort->addItem(info.portName());
    }
    cB_COMPort->addItem(QStringLiteral("Manual"));
    connect(cB_COMPort, SIGNAL(currentIndexChanged(int)), this, SLOT(S_UpdateCOMPort()));
    S_UpdateCOMPort();
}

void FInit::S_UpdateCOMPort()
{
    if (cB_COMPort->currentText() == QLatin1String("Manual")) {
        sB_PortNumber->show();
        l_COM->show();
        return;
    }
    sB_PortNumber->hide();
    l_COM->hide();
    if (cB_COMPort->count() == 0) {
        sB_PortNumber->show();
        l_COM->show();
        cB_COMPort->hide();
        return;
    }
    cB_COMPort->show();
    // 0 when the name holds no number or one that does not fit an int.
    const long long number = CComPort::PortNumberOf(cB_COMPort->currentText());
    sB_PortNumber->setValue(number >= 0 && number <= INT_MAX ? static_cast<int>(number) : 0);
}

int FInit::openPort()
{
    const int number = sB_PortNumber->value();
    report(QStringLiteral("Set ComPort Number:"),
           QStringLiteral("Set ComPort Number:%1").arg(number));
    link->SetPortNumber(number);
    report(QStringLiteral("Opening ComPort:"));
    if (link->Open(PANEL_BAUD_RATE) != 0) {
        report(QStringLiteral("Error"));
        return -1;
    }
    report(QStringLiteral("OK"));
    return 0;
}

int FInit::closePort()
{
    report(QStringLiteral("Closing ComPort: "), QStringLiteral("Closing ComPort:"));
    if (link->Close() != 0) {
        report(QStringLiteral("Error:"), QStringLiteral("Error"));
        return -1;
    }
    report(QStringLiteral("OK"));
    resetBeamView();
    return 0;
}

void FInit::stopPolling()
{
    QTimer* const polls[] = {anglePollTimer, fadeTimer,     speechPollTimer,
                             noisePollTimer, beamPollTimer, volumePollTimer};
    for (QTimer* timer : polls)
        timer->stop();
}

// Back to the state before Open: port closed, panels hidden, readings
// cleared, the port choice editable again.
void FInit::disconnectBoard()
{
    stopPolling();
    closePort();
    portPollTimer->start(PORT_POLL_MS);
    pb_OpenCloseCOM->setText(QStringLiteral("Open COM Port"));
    setFeatureConnections(false);
    S_SLOC_FadeOut();
    for (QLabel* reading : {l_SOURCE, l_DBNoise, l_ASR})
        reading->setText(QStringLiteral("---"));
    resetPanels();
    sB_PortNumber->setEnabled(true);
    cB_COMPort->setEnabled(true);
    missedAnswers = 0;
}

int FInit::noteAnswer(int result)
{
    if (result >= 0) {
        missedAnswers = 0;
        return result;
    }
    if (!link->IsOpen())
        return result;
    if (link->HasFailed() || ++missedAnswers >= MAX_MISSED_ANSWERS) {
        report(QStringLiteral("Connection to the board lost: COM%1 closed. "
                              "Click \"Open COM Port\" to connect again.")
                   .arg(sB_PortNumber->value()));
        disconnectBoard();
    }
    return result;
}

void FInit::readModuleStatus()
{
    report(QStringLiteral("Reading Module Status"), QStringLiteral("---Reading Module Status---"));
    // The board sends its name without a terminating NUL: clear what lies
    // behind it, or a shorter name would carry the tail of the previous one.
    // A failed read leaves the previous name.
    const int length = link->ReadBoardName(BOARD_ADDRESS, BOARD_NAME_CAPACITY, boardName);
    if (length >= 0 && length < static_cast<int>(sizeof boardName))
        std::memset(boardName + length, 0, sizeof boardName - length);
    link->GetParameters(BOARD_ADDRESS, PARAM_ALL, block);
    tE_Log->append(QStringLiteral("---------------------------"));
}

void FInit::S_OpenCloseCOM()
{
    if (pb_OpenCloseCOM->text() == QLatin1String("Open COM Port")) {
        if (openPort() != 0) {
            tE_Log->append(QStringLiteral("Error occurred while opening COM Port."));
            return;
        }
        pb_OpenCloseCOM->setText(QStringLiteral("Close COM Port"));
        sB_PortNumber->setEnabled(false); // the number shown is the port in use
        cB_COMPort->setEnabled(false);
        missedAnswers = 0;
        if (link->Ping(BOARD_ADDRESS) != 0) {
            tE_Log->append(QStringLiteral("Ping error. Please check COM Port number."));
            return;
        }
        tE_Log->append(QStringLiteral("COM%1 opened").arg(sB_PortNumber->value()));
        portPollTimer->stop();
        readModuleStatus();
        setupBoardView();
        refreshFeatureView();
        setFeatureConnections(true);
        return;
    }

    if (!link->IsOpen()) {
        closePort(); // reports the error
        return;
    }
    disconnectBoard();
}

void FInit::resetPanels()
{
    QGroupBox* const panels[] = {gB_DBMoise,        gB_DEMO_AEC, gB_DEMO_Beam, gB_DEMO_Source,
                                 gB_DEMO_Streaming, gBOutput,    gB_ASR_BOX};
    for (QGroupBox* panel : panels)
        panel->setEnabled(false);
    wedgeOutline.clear();
    beamWedge.setPolygon(wedgeOutline);
    gW_mainImageGraphicView->setScene(nullptr);
    for (QGroupBox* panel : panels)
        panel->hide();
}

void FInit::setupBoardView()
{
    const uint16_t offered = block.general.availableFeatures;
    const uint16_t running = block.general.enabledFeatures;

    // The name may fill all 100 bytes without a terminating NUL.
    boardNameText =
        QString::fromUtf8(boardName, static_cast<int>(qstrnlen(boardName, sizeof boardName)));
    cB_gestureControl->hide();
    cB_gestureVolumeControl->hide();

    drawBoardView();

    struct Offer {
        uint16_t feature;
        QGroupBox* panel;
    };
    const Offer offers[] = {{FEATURE_BEAMFORMING, gB_DEMO_Beam},
                            {FEATURE_AEC, gB_DEMO_AEC},
                            {FEATURE_ASR, gB_ASR_BOX},
                            {FEATURE_DBNOISE, gB_DBMoise},
                            {FEATURE_SLOC, gB_DEMO_Source}};
    for (const Offer& offer : offers) {
        if (offered & offer.feature) {
            offer.panel->show();
            offer.panel->setEnabled(true);
        }
    }
    if (offered & FEATURE_GESTURE) {
        cB_gestureControl->show();
        cB_gestureVolumeControl->show();
    }
    gB_DEMO_Streaming->show();
    gB_DEMO_Streaming->setEnabled(true);
    gBOutput->show();
    gBOutput->setEnabled(true);

    if (running & FEATURE_AEC)
        gB_DEMO_AEC->setChecked(true);
    if (running & FEATURE_BEAMFORMING) {
        gB_DEMO_Beam->setCheckable(true);
        gB_DEMO_Beam->setChecked(true);
        if (block.beam.beamGesture != 0)
            cB_gestureControl->setChecked(true);
    }
    if (running & FEATURE_SLOC)
        gB_DEMO_Source->setChecked(true);
    if (running & FEATURE_ASR)
        speechPollTimer->start(SPEECH_POLL_MS);

    hs_SOURCE_Resolution->setValue(block.sloc.resolution);
    l_SOURCE_Resolution->setNum(block.sloc.resolution);
    hS_SOURCE_Treshold->setValue(block.sloc.threshold);
    l_SOURCE_Treshold->setNum(block.sloc.threshold);
    l_AEC_Agc->setNum(block.aec.agcLevel);
    hS_AEC_AgcValue->setValue(block.aec.agcLevel);
    cB_AEC_DenoiserEnable->setChecked(block.aec.denoiser != 0);
    cB_BeamDir->setCurrentIndex(block.beam.beamDirection - 1);
    cB_AlgType->setCurrentIndex(block.beam.beamType);
    hS_Volume->setValue(block.general.micVolume);
    sB_Volume->setValue(block.general.micVolume);
    cB_gestureVolumeControl->setChecked(block.general.volumeGesture != 0);
    hS_Output->setValue(block.output.outputVolume);
    sB_Output->setValue(block.output.outputVolume);
}
