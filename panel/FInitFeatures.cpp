// Main window: the feature panels (setters, feature switches and their
// rules, gesture switches, pollers).
#include "FInit.h"

#include <QDebug>
#include <QTimer>

#include "CDeviceLink.h"
#include "FeatureTables.h"

namespace
{

const char kestrelBoard[] = "PlinthSystem Kestrel9"; // cannot beamform and localise at once
const char marrowinBoard[] = "Marrowin";             // own beam-direction table

} // namespace

int FInit::reportResult(int result, const QString& success, const QString& failure)
{
    return reportResult(result, success, success, failure, failure);
}

int FInit::reportResult(int result, const QString& successDebug, const QString& successLog,
                        const QString& failureDebug, const QString& failureLog)
{
    if (result < 0) {
        report(failureDebug, failureLog);
        return -1;
    }
    report(successDebug, successLog);
    return 0;
}

int FInit::sendSection(unsigned mask)
{
    return noteAnswer(link->SetParameters(BOARD_ADDRESS, mask, block));
}

// Reads one section into a copy of the block and takes it over only when
// the answer has the expected length: a failed or short read must not
// leave zeros in the window's block, which a later write would send.
int FInit::pollSection(unsigned mask, int expectedLength)
{
    FeatureParameterBlock fresh = block;
    if (noteAnswer(link->GetParameters(BOARD_ADDRESS, mask, fresh)) != expectedLength)
        return -1;
    block = fresh;
    return expectedLength;
}

bool FInit::boardNameContains(const char* text) const
{
    return boardNameText.contains(QLatin1String(text), Qt::CaseSensitive);
}

// ---- Simple setters ----

int FInit::S_OUTPUT_SetVolume()
{
    const int value = hS_Output->value();
    if (value != 0)
        cB_Mute->setChecked(false);
    block.output.outputVolume = static_cast<uint8_t>(value);
    return reportResult(sendSection(PARAM_OUTPUT), QStringLiteral("Set Volume OK"),
                        QStringLiteral("Error: Set Volume failed"));
}

int FInit::S_STREAMING_SetVolume()
{
    const int value = hS_Volume->value();
    block.general.micVolume = static_cast<uint8_t>(value);
    l_dB->setText(volumeText(value, true));
    return reportResult(sendSection(PARAM_GENERAL), QStringLiteral("Set Volume OK"),
                        QStringLiteral("Error: Set Volume failed"));
}

int FInit::S_OMNI_SetChannels()
{
    block.general.micMask = micMaskOfPair(cB_OmniSelector->currentIndex());
    const int result = reportResult(sendSection(PARAM_GENERAL), QStringLiteral("Set Channels OK"),
                                    QStringLiteral("Error: Set Channels failed"));
    refreshFeatureView();
    return result;
}

// The release-wired sliders also send on keyboard, wheel and track clicks;
// while the handle is dragged only the release sends.

int FInit::S_SLOC_SetTreshold()
{
    if (hS_SOURCE_Treshold->isSliderDown())
        return 0;
    const int value = hS_SOURCE_Treshold->value();
    block.sloc.threshold = static_cast<int16_t>(value);
    l_SOURCE_Treshold->setNum(value);
    return reportResult(sendSection(PARAM_SLOC), QStringLiteral("Set Set Treshold OK"),
                        QStringLiteral("Set Set Treshold OK"),
                        QStringLiteral("Error: Set Treshold failed"),
                        QStringLiteral("Error: Set Set Treshold failed"));
}

int FInit::S_SLOC_SetResolution()
{
    if (hs_SOURCE_Resolution->isSliderDown())
        return 0;
    block.sloc.resolution = static_cast<uint8_t>(hs_SOURCE_Resolution->value());
    return reportResult(sendSection(PARAM_SLOC), QStringLiteral("Set Set Resolution OK"),
                        QStringLiteral("Set Set Resolution OK"),
                        QStringLiteral("Error: Set Resolution failed"),
                        QStringLiteral("Error: Set Set Resolution failed"));
}

int FInit::S_BEAM_SetDirection()
{
    block.beam.beamDirection = static_cast<uint8_t>(cB_BeamDir->currentIndex() + 1);
    const int result =
        reportResult(sendSection(PARAM_BEAM), QStringLiteral("Set Beam Direction OK"),
                     QStringLiteral("Error: Set Beam Direction failed"));
    refreshFeatureView();
    return result;
}

int FInit::S_BEAM_SetType()
{
    block.beam.beamType = static_cast<uint8_t>(cB_AlgType->currentIndex());
    const int result = reportResult(sendSection(PARAM_BEAM), QStringLiteral("Set Beam Type OK"),
                                    QStringLiteral("Error: Set Beam Type failed"));
    refreshFeatureView();
    return result;
}

int FInit::S_AEC_SetDenoiser()
{
    block.aec.denoiser = cB_AEC_DenoiserEnable->isChecked() ? 1 : 0;
    const int result = reportResult(sendSection(PARAM_AEC), QStringLiteral("Set AEC denoiser OK"),
                                    QStringLiteral("Error: Set AEC denoiser failed"));
    refreshFeatureView();
    return result;
}

int FInit::S_AEC_AGCControl()
{
    if (hS_AEC_AgcValue->isSliderDown())
        return 0;
    block.aec.agcLevel = static_cast<uint16_t>(hS_AEC_AgcValue->value());
    const int result = reportResult(sendSection(PARAM_AEC), QStringLiteral("Set AEC AGC OK"),
                                    QStringLiteral("Error: Set AEC AGC failed"));
    refreshFeatureView();
    return result;
}

int FInit::S_DBNOISE_SetOffset()
{
    block.dbnoise.noiseOffset = static_cast<int16_t>(sB_Offset->value());
    return reportResult(sendSection(PARAM_DBNOISE), QStringLiteral("Set Offset OK"),
                        QStringLiteral("Error: Set Offset failed"));
}

int FInit::S_OUTPUT_SetMute()
{
    if (cB_Mute->isChecked()) {
        savedOutputVolume = block.output.outputVolume;
        block.output.outputVolume = 0;
    } else {
        block.output.outputVolume = savedOutputVolume;
    }
    return reportResult(sendSection(PARAM_OUTPUT), QStringLiteral("Set Volume OK"),
                        QStringLiteral("Error: Set Volume failed"));
}

// ---- Gesture switches ----

int FInit::S_OUTPUT_SetVolumeGestureControl()
{
    if (cB_gestureVolumeControl->isChecked()) {
        disconnect(hS_Volume, SIGNAL(sliderReleased()), this, SLOT(S_STREAMING_SetVolume()));
        disconnect(hS_Volume, SIGNAL(valueChanged(int)), this, SLOT(S_STREAMING_SetVolume()));
        block.general.volumeGesture = 1;
        hS_Volume->setEnabled(false);
        sB_Volume->setEnabled(false);
        volumePollTimer->start(VOLUME_POLL_MS);
    } else {
        connect(hS_Volume, SIGNAL(sliderReleased()), this, SLOT(S_STREAMING_SetVolume()),
                Qt::UniqueConnection);
        connect(hS_Volume, SIGNAL(valueChanged(int)), this, SLOT(S_STREAMING_SetVolume()),
                Qt::UniqueConnection);
        block.general.volumeGesture = 0;
        hS_Volume->setEnabled(true);
        sB_Volume->setEnabled(true);
        hS_Volume->setValue(64);
        volumePollTimer->stop();
    }
    return reportResult(sendSection(PARAM_GENERAL), QStringLiteral("Set Volume Gesture  OK"),
                        QStringLiteral("Set Volume Gesture OK"),
                        QStringLiteral("Error: Set Volume Gesture failed"),
                        QStringLiteral("Error: Set Volume Gesture  failed"));
}

int FInit::S_BEAM_SetGestureControl()
{
    const bool on = cB_gestureControl->isChecked();
    block.beam.beamGesture = on ? 1 : 0;
    if (on)
        beamPollTimer->start(BEAM_POLL_MS);
    else
        beamPollTimer->stop();
    return reportResult(sendSection(PARAM_BEAM), QStringLiteral("Set Gesture  OK"),
                        QStringLiteral("Set Gesture OK"),
                        QStringLiteral("Error: Set Gesture failed"),
                        QStringLiteral("Error: Set Gesture  failed"));
}

// ---- Pollers ----

int FInit::S_OUTPUT_GetVolume()
{
    if (pollSection(PARAM_GENERAL, GENERAL_ANSWER_LENGTH) < 0) {
        report(QStringLiteral("Error: Get Volume failed"));
        return -1;
    }
    const uint32_t volume = block.general.currentVolume;
    const int step = volume > VOLUME_STEP_MAX ? VOLUME_STEP_MAX : static_cast<int>(volume);
    sB_Volume->setValue(step);
    l_dB->setText(volumeText(step, false));
    qDebug().noquote() << "Get Volume: OK" << volume;
    return 0;
}

int FInit::S_BEAM_GetDirection()
{
    const int direction = pollSection(PARAM_BEAM, BEAM_ANSWER_LENGTH) < 0
                              ? -1
                              : static_cast<int>(block.beam.beamDirection) - 1;
    // A direction outside 1..8 cannot be shown and must not be sent back.
    if (direction < 0 || direction >= BEAM_DIRECTION_COUNT) {
        report(QStringLiteral("Error: Get Beam failed"));
        return -1;
    }
    qDebug().noquote() << "GetBeam: OK" << direction;
    cB_BeamDir->setCurrentIndex(direction);
    refreshFeatureView();
    return 0;
}

int FInit::S_DBNOISE_GetValue()
{
    if (pollSection(PARAM_DBNOISE, DBNOISE_ANSWER_LENGTH) < 0) {
        report(QStringLiteral("Error: GetDbNoise failed"));
        return -1;
    }
    l_DBNoise->setNum(int(block.dbnoise.noiseLevel) + int(block.dbnoise.noiseOffset));
    return 0;
}

int FInit::S_ASR_GetCommand()
{
    if (pollSection(PARAM_ASR, ASR_ANSWER_LENGTH) < 0) {
        report(QStringLiteral("Error: GetASRCommand failed"));
        return -1;
    }
    const int code = block.asr.asrCommand;
    qDebug().noquote() << "GetASRCommand: OK" << code;
    QString text;
    if (speechCommandText(code, text))
        l_ASR->setText(text);
    return 0;
}

// ---- Feature switches ----

int FInit::S_EnableSOURCE()
{
    uint16_t& features = block.general.enabledFeatures;
    if (gB_DEMO_Source->isChecked()) {
        block.general.micMask = 3;
        block.general.micVolume = 64;
        features = (features & ~FEATURE_AEC) | FEATURE_SLOC;
        if (boardNameContains(kestrelBoard))
            features &= ~FEATURE_BEAMFORMING;
    } else {
        features &= ~FEATURE_SLOC;
    }
    const int result = reportResult(sendSection(PARAM_GENERAL), QStringLiteral("Set Set Source OK"),
                                    QStringLiteral("Error: Set Source  failed"));
    refreshFeatureView();
    return result;
}

int FInit::S_EnableBEAM()
{
    uint16_t& features = block.general.enabledFeatures;
    int result = 0;
    if (gB_DEMO_Beam->isChecked()) {
        features &= ~FEATURE_AEC;
        // Never switched on for a board that does not offer it.
        if (block.general.availableFeatures & FEATURE_BEAMFORMING) {
            features |= FEATURE_BEAMFORMING;
            if (boardNameContains(kestrelBoard))
                features &= ~FEATURE_SLOC;
        }
        result = reportResult(sendSection(PARAM_GENERAL), QStringLiteral("Set Set Beam OK"),
                              QStringLiteral("Error: Set Beam  failed"));
        cB_gestureVolumeControl->setChecked(false);
        S_OUTPUT_SetVolumeGestureControl();
    } else {
        gB_DEMO_Streaming->setChecked(true);
        result = S_EnableSTREAMING();
        cB_gestureControl->setChecked(false);
        S_BEAM_SetGestureControl();
    }
    refreshFeatureView();
    return result;
}

int FInit::S_EnableAEC()
{
    int result = 0;
    if (gB_DEMO_AEC->isChecked()) {
        block.general.micVolume = 64;
        block.general.micMask = 1;
        uint16_t& features = block.general.enabledFeatures;
        features = (features & ~(FEATURE_BEAMFORMING | FEATURE_SLOC)) | FEATURE_AEC;
        result = reportResult(sendSection(PARAM_GENERAL), QStringLiteral("Set AEC OK"),
                              QStringLiteral("Error: Set AEC failed"));
        cB_gestureControl->setChecked(false);
        S_BEAM_SetGestureControl();
        cB_gestureVolumeControl->setChecked(false);
        S_OUTPUT_SetVolumeGestureControl();
    } else {
        gB_DEMO_Beam->setChecked(true);
        result = S_EnableBEAM();
    }
    refreshFeatureView();
    return result;
}

int FInit::S_EnableSTREAMING()
{
    int result = 0;
    if (gB_DEMO_Streaming->isChecked()) {
        sB_Volume->setEnabled(true);
        hS_Volume->setEnabled(true);
        block.general.micMask = micMaskOfPair(cB_OmniSelector->currentIndex());
        block.general.enabledFeatures &= ~(FEATURE_BEAMFORMING | FEATURE_AEC);
        block.general.micVolume = static_cast<uint8_t>(hS_Volume->value());
        l_dB->setText(volumeText(hS_Volume->value(), true));
        block.output.outputSource = 2;
        if (sendSection(PARAM_OUTPUT) != 0)
            result = reportResult(-1, QString(), QStringLiteral("Error: Set Streaming failed"));
        else
            result = reportResult(sendSection(PARAM_GENERAL), QStringLiteral("Set Streaming OK"),
                                  QStringLiteral("Error: Set Streaming failed"));
        cB_gestureControl->setChecked(false);
        S_BEAM_SetGestureControl();
    } else {
        sB_Volume->setEnabled(false);
        hS_Volume->setEnabled(false);
        gB_DEMO_Beam->setChecked(true);
        cB_gestureVolumeControl->setChecked(false);
        result = S_EnableBEAM();
    }
    refreshFeatureView();
    return result;
}

// Brings the group boxes, poll timers and direction display in line with
// the features that run.
void FInit::refreshFeatureView()
{
    if (!link->IsOpen())
        return; // the connection ended during the command
    const uint16_t features = block.general.enabledFeatures;

    if (features & FEATURE_BEAMFORMING) {
        const int direction = cB_BeamDir->currentIndex();
        showBeamView(direction);
        if (direction >= 0 && direction < BEAM_DIRECTION_COUNT)
            block.general.micMask = beamMicMask(direction, boardNameContains(marrowinBoard));
    } else {
        gB_DEMO_Beam->setChecked(false);
        resetBeamView();
    }

    if (features & FEATURE_SLOC) {
        ringGroup.show();
        fadeTimer->start(FADE_TICK_MS);
        anglePollTimer->start(ANGLE_POLL_MS);
    } else {
        gB_DEMO_Source->setChecked(false);
        ringGroup.hide();
        fadeTimer->stop();
        anglePollTimer->stop();
    }

    if (!(features & FEATURE_AEC))
        gB_DEMO_AEC->setChecked(false);

    if (features & FEATURE_DBNOISE)
        noisePollTimer->start(NOISE_POLL_MS);
    else
        noisePollTimer->stop();

    if (!(features & (FEATURE_BEAMFORMING | FEATURE_AEC)))
        cB_OmniSelector->setCurrentIndex(pairOfMicMask(block.general.micMask));
    else
        gB_DEMO_Streaming->setChecked(false);

    showMicMarkers(block.general.micMask);
}
