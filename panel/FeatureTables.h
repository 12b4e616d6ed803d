// Fixed mappings of the feature panels: volume steps to decibel texts,
// microphone pairs to masks, beam directions to microphones, speech codes
// to texts.
#pragma once

#include <cstdint>
#include <QString>

#include "BoardKind.h" // beamMicMask

// Highest streaming volume step of the display table.
constexpr int VOLUME_STEP_MAX = 128;

// Decibel value shown for a volume step (20 log10(step / 4) cut to one
// decimal); steps above the table show its last entry.
float volumeStepDecibels(int step);

// "-Inf dB" for step 0 when zeroAsInfinity is set, otherwise the decibel
// value with up to six significant digits followed by " dB".
QString volumeText(int step, bool zeroAsInfinity);

// Microphone mask of an entry of the pair list (9 for an unknown index) and
// the entry that shows a mask (0 for a mask the list does not hold).
uint32_t micMaskOfPair(int pairIndex);
int pairOfMicMask(uint32_t micMask);

// Text shown for a speech command code; false for a code without text.
bool speechCommandText(int code, QString& text);
