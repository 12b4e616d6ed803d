#include "FeatureTables.h"

#include <cmath>

namespace
{

// Builds the display table once: t(0) = 0, t(v) = 20 log10(v / 4) truncated
// toward zero to one decimal, t(127) = 30.03.
struct VolumeTable {
    float decibels[VOLUME_STEP_MAX + 1];
    VolumeTable()
    {
        decibels[0] = 0.0f;
        for (int v = 1; v <= VOLUME_STEP_MAX; ++v) {
            const double tenths = 200.0 * std::log10(v / 4.0);
            // The guard keeps exact decades (v = 40) from falling a tenth short.
            const double guarded = tenths + (tenths < 0 ? -1e-9 : 1e-9);
            decibels[v] = static_cast<float>(std::trunc(guarded) / 10.0);
        }
        decibels[127] = 30.03f;
    }
};

const uint32_t pairMasks[6] = {9, 10, 12, 5, 6, 3};

} // namespace

float volumeStepDecibels(int step)
{
    static const VolumeTable table;
    if (step < 0)
        step = 0;
    if (step > VOLUME_STEP_MAX)
        step = VOLUME_STEP_MAX;
    return table.decibels[step];
}

QString volumeText(int step, bool zeroAsInfinity)
{
    if (step == 0 && zeroAsInfinity)
        return QStringLiteral("-Inf dB");
    return QString::number(static_cast<double>(volumeStepDecibels(step)), 'g', 6) +
           QStringLiteral(" dB");
}

uint32_t micMaskOfPair(int pairIndex)
{
    if (pairIndex < 0 || pairIndex >= 6)
        return 9;
    return pairMasks[pairIndex];
}

int pairOfMicMask(uint32_t micMask)
{
    for (int pair = 0; pair < 6; ++pair) {
        if (pairMasks[pair] == micMask)
            return pair;
    }
    return 0;
}

bool speechCommandText(int code, QString& text)
{
    static const char* const texts[13] = {"---",       "Song Info", "Stop Music",    "Pause Music",
                                          "Equalizer", "Cancel",    "Previous Song", "Next Song",
                                          "Help me",   "HPW",       "Settings",      "Play music",
                                          "Note"};
    if (code >= 0 && code <= 12) {
        text = QString::fromLatin1(texts[code]);
        return true;
    }
    if (code == 25) {
        text = QStringLiteral("Hello Pellowyn");
        return true;
    }
    return false;
}
