// Field decimator: byte-table comb, binomial halvings, decimating FIR, DC
// blocker, volume.
#include "field_decimator.h"

#include <string.h>

// Volume multipliers 10^(dB/20) in Q16 for 0..51 dB.
static const int32_t kVolumeQ16[52] = {
    65536,    73533,    82505,    92572,    103868,   116541,   130762,  146717,  164619,
    184706,   207243,   232531,   260904,   292739,   328458,   368536,  413504,  463959,
    520571,   584090,   655360,   735326,   825049,   925721,   1038676, 1165413, 1307615,
    1467168,  1646190,  1847055,  2072430,  2325305,  2609035,  2927386, 3284581, 3685360,
    4135042,  4639593,  5205710,  5840902,  6553600,  7353260,  8250494, 9257206, 10386756,
    11654132, 13076151, 14671683, 16461899, 18470554, 20724303, 23253050};

// The FIR output carries 9 bits below the 16-bit LSB (full scale 2^24).
#define FIR_SHIFT 24
#define FRACTION_BITS 9
#define DC_EXTRA_BITS 8
#define DC_POLE_SHIFT 8 // pole 1 - 2^-8: about 10 Hz at 16 kHz

int32_t field_decimator_plan(uint32_t clock_khz)
{
    for (int32_t i = 0; i < FIELD_DECIMATOR_CLOCKS; ++i)
        if (kFieldDecimatorPlans[i].clock_khz == clock_khz)
            return i;
    return -1;
}

uint32_t field_decimator_init(FieldDecimator *dec, uint32_t clock_khz, uint32_t stride,
                              uint32_t byte_swap, uint32_t volume_db)
{
    memset(dec, 0, sizeof *dec);
    const int32_t plan = field_decimator_plan(clock_khz);
    dec->plan = plan < 0 ? FIELD_DECIMATOR_CLOCKS : (uint32_t)plan;
    dec->stride = stride == 0 ? 1u : stride;
    dec->byte_swap = byte_swap;
    dec->volume_q16 = kVolumeQ16[volume_db > 51u ? 51u : volume_db];
    // An alternating history is the PDM mid-level, which the comb maps to 0.
    memset(dec->recent, 0x55, sizeof dec->recent);
    return plan < 0 ? 1u : 0u;
}

// Sixth-order comb of factor 8: one value per byte, the sum of the six
// tables over this byte and the five before it.
static void comb_bytes(const uint8_t *input, uint32_t count, FieldDecimator *dec, int32_t *y)
{
    uint32_t b1 = dec->recent[0], b2 = dec->recent[1], b3 = dec->recent[2];
    uint32_t b4 = dec->recent[3], b5 = dec->recent[4];
    const uint32_t stride = dec->stride;
    const bool swap = stride == 1u && dec->byte_swap != 0u;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t b0 = input[swap ? (i ^ 1u) : i * stride];
        y[i] = kFieldCombTables[0][b0] + kFieldCombTables[1][b1] + kFieldCombTables[2][b2] +
               kFieldCombTables[3][b3] + kFieldCombTables[4][b4] + kFieldCombTables[5][b5];
        b5 = b4;
        b4 = b3;
        b3 = b2;
        b2 = b1;
        b1 = b0;
    }
    dec->recent[0] = (uint8_t)b1;
    dec->recent[1] = (uint8_t)b2;
    dec->recent[2] = (uint8_t)b3;
    dec->recent[3] = (uint8_t)b4;
    dec->recent[4] = (uint8_t)b5;
}

// Binomial (1 + z^-1)^6 and decimation by 2; the sum of 64 is brought down
// by 8 with rounding, so each halving adds 3 bits of headroom use.
static uint32_t halve(int32_t *in, uint32_t count, int32_t *out)
{
    const uint32_t history = FIELD_HALVING_TAPS - 1;
    for (uint32_t j = 0; j < count / 2u; ++j) {
        const int32_t *x = in + 2u * j + 1u; // x[0..6], x[6] the newest
        const int32_t sum = (x[0] + x[6]) + 6 * (x[1] + x[5]) + 15 * (x[2] + x[4]) + 20 * x[3];
        out[j] = (sum + 4) >> 3;
    }
    memmove(in, in + count, history * sizeof(int32_t));
    return count / 2u;
}

static int16_t saturate16(int64_t v)
{
    if (v > 32767)
        return 32767;
    if (v < -32768)
        return -32768;
    return (int16_t)v;
}

// DC blocker y = x - x1 + (1 - 2^-8) y1, kept with 8 extra bits so that
// its rounding leaves no offset; then volume and saturation.
static int16_t finish_sample(int32_t x, FieldDecimator *dec)
{
    const int64_t held = dec->dc_out;
    const int64_t y = (int64_t)(x - dec->dc_in) * (1 << DC_EXTRA_BITS) + held -
                      ((held + (1 << (DC_POLE_SHIFT - 1))) >> DC_POLE_SHIFT);
    dec->dc_out = y;
    dec->dc_in = x;
    const int shift = DC_EXTRA_BITS + FRACTION_BITS + 16;
    int64_t v = (y * dec->volume_q16 + ((int64_t)1 << (shift - 1))) >> shift;
    if (dec->started < FIELD_START_RAMP) {
        v = v * dec->started / FIELD_START_RAMP;
        ++dec->started;
    }
    return saturate16(v);
}

static void fir_decimate(const FieldDecimatorPlan &plan, FieldDecimator *dec, int16_t *output)
{
    const uint32_t taps = plan.taps;
    const uint32_t half = taps / 2u;
    const int32_t *h = plan.half_taps;
    int32_t *x = dec->fir_in;
    for (uint32_t o = 0; o < 16u; ++o) {
        const int32_t *newest = x + taps - 2u + (o + 1u) * plan.factor;
        const int32_t *oldest = newest - (taps - 1u);
        int64_t acc = (int64_t)h[half] * newest[-(int32_t)half];
        for (uint32_t n = 0; n < half; ++n)
            acc += (int64_t)h[n] * (int32_t)(oldest[n] + newest[-(int32_t)n]);
        const int32_t r = (int32_t)((acc + ((int64_t)1 << (FIR_SHIFT - 1))) >> FIR_SHIFT);
        output[o] = finish_sample(r, dec);
    }
    memmove(x, x + 16u * plan.factor, (taps - 1u) * sizeof(int32_t));
}

void field_decimate(const uint8_t *input, int16_t *output, FieldDecimator *dec)
{
    if (dec->plan >= FIELD_DECIMATOR_CLOCKS) {
        memset(output, 0, 16 * sizeof(int16_t));
        return;
    }
    const FieldDecimatorPlan &plan = kFieldDecimatorPlans[dec->plan];
    const uint32_t bytes = plan.clock_khz / 8u;
    const uint32_t fir_history = plan.taps - 1u;
    const uint32_t halving_history = FIELD_HALVING_TAPS - 1;
    // Each stage writes behind the history of the next one.
    int32_t *stage_out =
        plan.halvings == 0 ? dec->fir_in + fir_history : dec->halving_in[0] + halving_history;
    comb_bytes(input, bytes, dec, stage_out);
    uint32_t count = bytes;
    for (uint32_t s = 0; s < plan.halvings; ++s) {
        int32_t *next = s + 1u == plan.halvings ? dec->fir_in + fir_history
                                                : dec->halving_in[s + 1u] + halving_history;
        count = halve(dec->halving_in[s], count, next);
    }
    fir_decimate(plan, dec, output);
}
