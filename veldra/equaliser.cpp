// Beam equalisers: a low-pass on each input of the difference makes up for
// the rising response of the first-order differential array.
#include "equaliser.h"

#include <string.h>

struct EqualiserRow {
    uint16_t max_distance; // last spacing of the row, 0.1 mm
    uint16_t pole;
    uint16_t integer;
    float factor;
};

// Used at configuration.
static const EqualiserRow kConfigRows[] = {
    {32, 217, 614, 614.4f}, {45, 222, 478, 478.72f}, {62, 172, 449, 449.024f},
    {80, 153, 332, 332.8f}, {155, 230, 268, 268.8f}, {212, 153, 307, 307.2f},
};

// Used by the automatic gain update.
static const EqualiserRow kGainRows[] = {
    {40, 222, 478, 478.72f}, {57, 172, 449, 449.024f}, {80, 153, 332, 332.8f},
    {150, 230, 268, 268.8f}, {212, 153, 307, 307.2f},
};

template <size_t N>
static const EqualiserRow &row_for(const EqualiserRow (&rows)[N], uint16_t distance)
{
    for (size_t i = 0; i < N; ++i)
        if (distance <= rows[i].max_distance)
            return rows[i];
    return rows[N - 1];
}

uint16_t equaliser_scaled_coefficient(float gain, float factor)
{
    const float scaled = gain * factor;
    if (!(scaled > 0.0f))
        return 0;
    if (scaled >= 65535.0f)
        return 65535;
    return (uint16_t)scaled;
}

static void set_record(EqualiserRecord *eq, uint16_t pole, uint16_t k_direct, uint16_t k_delayed)
{
    memset(eq, 0, sizeof *eq);
    eq->pole = pole;
    eq->k_direct = k_direct;
    eq->k_delayed = k_delayed;
}

static void apply_row(const EqualiserRow &row, EqualiserRecord *front, EqualiserRecord *rear,
                      float gain)
{
    const uint16_t scaled = equaliser_scaled_coefficient(gain, row.factor);
    set_record(front, row.pole, row.integer, scaled);
    if (rear)
        set_record(rear, row.pole, scaled, row.integer);
}

void equaliser_configure(EqualiserRecord *front, EqualiserRecord *rear, uint16_t distance,
                         float gain)
{
    if (!(gain > 0.0f))
        gain = 1.0f;
    apply_row(row_for(kConfigRows, distance), front, rear, gain);
}

void BeamFormer_SetGain(VeldraControl *ctrl)
{
    EqualiserRecord *front = veldra_region<EqualiserRecord>(ctrl, ctrl->equaliser_at[BEAM_FRONT]);
    EqualiserRecord *rear = nullptr;
    if (ctrl->init_type >= VELDRA_TYPE_ADAPTIVE || ctrl->rear_configured)
        rear = veldra_region<EqualiserRecord>(ctrl, ctrl->equaliser_at[BEAM_REAR]);
    apply_row(row_for(kGainRows, ctrl->mic_distance), front, rear, ctrl->estimated_gain);
}

static inline int16_t saturate16(int64_t v)
{
    if (v > 32767)
        return 32767;
    if (v < -32768)
        return -32768;
    return (int16_t)v;
}

void equaliser_run(EqualiserRecord *eq, const int16_t *direct, const int16_t *delayed,
                   int16_t *beam)
{
    // 64-bit products: with the largest coefficients the states reach about
    // 1e8, whose product with the pole no longer fits 32 bits.
    const int64_t pole = eq->pole;
    const int64_t kf = eq->k_direct;
    const int64_t kr = eq->k_delayed;
    int64_t yf = eq->y_direct;
    int64_t yr = eq->y_delayed;
    for (int i = 0; i < VELDRA_FRAME; ++i) {
        yf = (pole * yf + kf * direct[i]) / 256;
        yr = (pole * yr + kr * delayed[i]) / 256;
        beam[i] = saturate16(yf - yr);
    }
    eq->y_direct = (int32_t)yf;
    eq->y_delayed = (int32_t)yr;
}
