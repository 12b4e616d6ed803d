// The two stages of the second step on the shared DSP core.
#ifndef VELDRA_SECOND_STEP_H
#define VELDRA_SECOND_STEP_H

#include <stdint.h>

#include "echo.h"
#include "preprocess.h"

void adaptive_A_run(EchoState *st, const int16_t *front, const int16_t *rear, int16_t *out);
int32_t denoiser_A_run(PreprocessState *st, int16_t *block);

#endif
