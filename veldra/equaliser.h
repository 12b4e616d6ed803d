// First-order low-pass equalisers of the two differential beams, their
// coefficients by microphone spacing, and the second-microphone gain.
#ifndef VELDRA_EQUALISER_H
#define VELDRA_EQUALISER_H

#include <stdint.h>

#include "veldra_internal.h"

// Coefficients for spacing `distance` (0.1 mm) and gain `gain` applied to
// the second microphone, from the configuration table. The front record
// scales its delayed input (microphone 2), the rear record its direct input
// (microphone 2). States are cleared.
void equaliser_configure(EqualiserRecord *front, EqualiserRecord *rear, uint16_t distance,
                         float gain);

// BeamFormer_SetGain: recomputes the equalisers from the estimated gain,
// with the table of the automatic gain update.
void BeamFormer_SetGain(VeldraControl *ctrl);

// beam[i] = saturate(low-pass(KF * direct[i]) - low-pass(KR * delayed[i])).
void equaliser_run(EqualiserRecord *eq, const int16_t *direct, const int16_t *delayed,
                   int16_t *beam);

// trunc(gain x factor) held within 16 bits (a huge or infinite gain gives
// 65535, a non-positive one 0).
uint16_t equaliser_scaled_coefficient(float gain, float factor);

#endif
