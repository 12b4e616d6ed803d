// PDM-to-PCM decimation filter: lane table, set-up and the kernel family.
#include "pdm_filter.h"

#include <math.h>
#include <string.h>

// Entry v: bit k of v (k = 0 the latest bit) weighted by the third-order
// comb of factor 8, K = 0, 1, 3, 6, 10, 15, 21, 28, 36, 42, 46, 48, 48, 46,
// 42, 36, 28, 21, 15, 10, 6, 3, 1, 0, in three lanes: K[k] (bits 0-9),
// K[8 + k] (bits 10-19), K[16 + k] (bits 20-29).
extern "C" const uint32_t T_0_1_2[256] = {
    0x00000000u, 0x01C09000u, 0x0150A801u, 0x03113801u, 0x00F0B803u, 0x02B14803u, 0x02416004u,
    0x0401F004u, 0x00A0C006u, 0x02615006u, 0x01F16807u, 0x03B1F807u, 0x01917809u, 0x03520809u,
    0x02E2200Au, 0x04A2B00Au, 0x0060C00Au, 0x0221500Au, 0x01B1680Bu, 0x0371F80Bu, 0x0151780Du,
    0x0312080Du, 0x02A2200Eu, 0x0462B00Eu, 0x01018010u, 0x02C21010u, 0x02522811u, 0x0412B811u,
    0x01F23813u, 0x03B2C813u, 0x0342E014u, 0x05037014u, 0x0030B80Fu, 0x01F1480Fu, 0x01816010u,
    0x0341F010u, 0x01217012u, 0x02E20012u, 0x02721813u, 0x0432A813u, 0x00D17815u, 0x02920815u,
    0x02222016u, 0x03E2B016u, 0x01C23018u, 0x0382C018u, 0x0312D819u, 0x04D36819u, 0x00917819u,
    0x02520819u, 0x01E2201Au, 0x03A2B01Au, 0x0182301Cu, 0x0342C01Cu, 0x02D2D81Du, 0x0493681Du,
    0x0132381Fu, 0x02F2C81Fu, 0x0282E020u, 0x04437020u, 0x0222F022u, 0x03E38022u, 0x03739823u,
    0x05342823u, 0x0010A815u, 0x01D13815u, 0x01615016u, 0x0321E016u, 0x01016018u, 0x02C1F018u,
    0x02520819u, 0x04129819u, 0x00B1681Bu, 0x0271F81Bu, 0x0202101Cu, 0x03C2A01Cu, 0x01A2201Eu,
    0x0362B01Eu, 0x02F2C81Fu, 0x04B3581Fu, 0x0071681Fu, 0x0231F81Fu, 0x01C21020u, 0x0382A020u,
    0x01622022u, 0x0322B022u, 0x02B2C823u, 0x04735823u, 0x01122825u, 0x02D2B825u, 0x0262D026u,
    0x04236026u, 0x0202E028u, 0x03C37028u, 0x03538829u, 0x05141829u, 0x00416024u, 0x0201F024u,
    0x01920825u, 0x03529825u, 0x01321827u, 0x02F2A827u, 0x0282C028u, 0x04435028u, 0x00E2202Au,
    0x02A2B02Au, 0x0232C82Bu, 0x03F3582Bu, 0x01D2D82Du, 0x0393682Du, 0x0323802Eu, 0x04E4102Eu,
    0x00A2202Eu, 0x0262B02Eu, 0x01F2C82Fu, 0x03B3582Fu, 0x0192D831u, 0x03536831u, 0x02E38032u,
    0x04A41032u, 0x0142E034u, 0x03037034u, 0x02938835u, 0x04541835u, 0x02339837u, 0x03F42837u,
    0x03844038u, 0x0544D038u, 0x0000901Cu, 0x01C1201Cu, 0x0151381Du, 0x0311C81Du, 0x00F1481Fu,
    0x02B1D81Fu, 0x0241F020u, 0x04028020u, 0x00A15022u, 0x0261E022u, 0x01F1F823u, 0x03B28823u,
    0x01920825u, 0x03529825u, 0x02E2B026u, 0x04A34026u, 0x00615026u, 0x0221E026u, 0x01B1F827u,
    0x03728827u, 0x01520829u, 0x03129829u, 0x02A2B02Au, 0x0463402Au, 0x0102102Cu, 0x02C2A02Cu,
    0x0252B82Du, 0x0413482Du, 0x01F2C82Fu, 0x03B3582Fu, 0x03437030u, 0x05040030u, 0x0031482Bu,
    0x01F1D82Bu, 0x0181F02Cu, 0x0342802Cu, 0x0122002Eu, 0x02E2902Eu, 0x0272A82Fu, 0x0433382Fu,
    0x00D20831u, 0x02929831u, 0x0222B032u, 0x03E34032u, 0x01C2C034u, 0x03835034u, 0x03136835u,
    0x04D3F835u, 0x00920835u, 0x02529835u, 0x01E2B036u, 0x03A34036u, 0x0182C038u, 0x03435038u,
    0x02D36839u, 0x0493F839u, 0x0132C83Bu, 0x02F3583Bu, 0x0283703Cu, 0x0444003Cu, 0x0223803Eu,
    0x03E4103Eu, 0x0374283Fu, 0x0534B83Fu, 0x00113831u, 0x01D1C831u, 0x0161E032u, 0x03227032u,
    0x0101F034u, 0x02C28034u, 0x02529835u, 0x04132835u, 0x00B1F837u, 0x02728837u, 0x0202A038u,
    0x03C33038u, 0x01A2B03Au, 0x0363403Au, 0x02F3583Bu, 0x04B3E83Bu, 0x0071F83Bu, 0x0232883Bu,
    0x01C2A03Cu, 0x0383303Cu, 0x0162B03Eu, 0x0323403Eu, 0x02B3583Fu, 0x0473E83Fu, 0x0112B841u,
    0x02D34841u, 0x02636042u, 0x0423F042u, 0x02037044u, 0x03C40044u, 0x03541845u, 0x0514A845u,
    0x0041F040u, 0x02028040u, 0x01929841u, 0x03532841u, 0x0132A843u, 0x02F33843u, 0x02835044u,
    0x0443E044u, 0x00E2B046u, 0x02A34046u, 0x02335847u, 0x03F3E847u, 0x01D36849u, 0x0393F849u,
    0x0324104Au, 0x04E4A04Au, 0x00A2B04Au, 0x0263404Au, 0x01F3584Bu, 0x03B3E84Bu, 0x0193684Du,
    0x0353F84Du, 0x02E4104Eu, 0x04A4A04Eu, 0x01437050u, 0x03040050u, 0x02941851u, 0x0454A851u,
    0x02342853u, 0x03F4B853u, 0x0384D054u, 0x05456054u,
};

namespace
{

// Per-code constants of the volume multiplier: normalisation n = (64 / D)^3
// and pre-shift s, so that full-scale input gives 32768 x 10^(G/20).
struct FactorConstants {
    uint16_t factor;
    uint16_t pre_shift;
    double normalisation;
};

const FactorConstants kFactorByCode[8] = {
    {0, 0, 0.0},     {48, 11, 2.3703704}, {64, 10, 1.0},       {80, 9, 0.512},
    {128, 7, 0.125}, {16, 16, 64.0},      {24, 14, 18.962963}, {32, 13, 8.0},
};

constexpr uint32_t kCodeCount = 7u;

// Weights of the second comb stage: the cubed box of R taps at the byte rate
// (3R - 2 coefficients summing to R^3).
template <int R> struct CubedBox {
    int32_t w[3 * R - 2];
    constexpr CubedBox() : w()
    {
        int32_t squared[2 * R - 1] = {};
        for (int i = 0; i < R; ++i)
            for (int j = 0; j < R; ++j)
                squared[i + j] += 1;
        for (int i = 0; i < 2 * R - 1; ++i)
            for (int j = 0; j < R; ++j)
                w[i + j] += squared[i];
    }
};

constexpr uint32_t pre_shift_of(int factor)
{
    return factor == 16   ? 16u
           : factor == 24 ? 14u
           : factor == 32 ? 13u
           : factor == 48 ? 11u
           : factor == 64 ? 10u
           : factor == 80 ? 9u
                          : 7u;
}

// One output period: the R bytes of the period in time order go through the
// lane accumulator (comb by 8, one lane sum per byte) and the second stage.
// Each byte output Y feeds this period's sum and the partial sums of the next
// two periods, carried in comb[0] and comb[1]. The period closes on its last
// byte, so the result is the cubed D-box of the bits (valued 0 and 1) ending
// one bit before the end of the period.
template <int R> inline int32_t comb_period(const uint8_t *bytes, PdmFilterInternal *state)
{
    static constexpr CubedBox<R> box{};
    uint32_t lanes = state->lane_carry;
    int32_t current = state->comb[0];
    int32_t next = state->comb[1];
    int32_t after_next = 0;
    for (int i = 0; i < R; ++i) {
        lanes = T_0_1_2[bytes[i]] + (lanes >> 10);
        const int32_t y = (int32_t)(lanes & 0x3FFu);
        current += box.w[R - 1 - i] * y;
        next += box.w[2 * R - 1 - i] * y;
        if (i >= 2)
            after_next += box.w[3 * R - 1 - i] * y;
    }
    state->lane_carry = lanes;
    state->comb[0] = next;
    state->comb[1] = after_next;
    return current;
}

inline int16_t saturate16(int64_t v)
{
    if (v > 32767)
        return 32767;
    if (v < -32768)
        return -32768;
    return (int16_t)v;
}

// Mid-level removal, high-pass, volume and saturation of one comb output.
// y is kept at full width before the volume step (a 16-bit truncation there
// would turn a loud sample's overflow into a sign flip).
template <int R> inline int16_t finish_sample(int32_t x, bool high_pass, PdmFilterInternal *state)
{
    constexpr int32_t factor = 8 * R;
    constexpr int32_t mid_level = factor * factor * factor / 2;
    x -= mid_level;
    int32_t y = x;
    if (high_pass) {
        const int32_t r = state->hp_prev_out + x - state->hp_prev_in;
        y = 2 * (int32_t)(((int64_t)r * (int64_t)state->hp_coefficient) >> 32);
        state->hp_prev_out = y;
        state->hp_prev_in = x;
    }
    // History left by another factor's kernel (a reconfigured running filter)
    // can make y far larger than this factor's range. Any |y x 2^s| beyond
    // 2^30 saturates the output for every multiplier (10^(-12/20) x 2^22 and
    // up), so clamping there changes no result and keeps M x y x 2^s + 2^31
    // inside a signed 64-bit number (M < 2^32).
    constexpr int32_t y_limit = (int32_t)1 << (30 - pre_shift_of(factor));
    y = y > y_limit ? y_limit : y < -y_limit ? -y_limit : y;
    const int64_t scaled = (int64_t)y * ((int64_t)1 << pre_shift_of(factor));
    const int64_t v = ((int64_t)state->volume_multiplier * scaled + ((int64_t)1 << 31)) >> 34;
    return saturate16(v);
}

// Generic member: any stride, byte swap and high-pass as the flags say.
template <int R>
uint32_t generic_kernel(const uint8_t *input, int16_t *output, PdmFilterInternal *state)
{
    const uint32_t samples = state->samples_per_call;
    const size_t total_bytes = (size_t)samples * R;
    const uint32_t stride = state->in_stride;
    const uint32_t swap = (state->flags & PDM_FILTER_FLAG_BYTE_SWAP) ? 1u : 0u;
    const bool high_pass = (state->flags & PDM_FILTER_FLAG_HIGH_PASS) != 0u;
    const uint32_t out_stride = state->out_stride;
    uint8_t bytes[R];
    for (uint32_t n = 0; n < samples; ++n) {
        for (int i = 0; i < R; ++i)
            bytes[i] = input[PDM_Filter_inputOffset((size_t)n * R + i, total_bytes, stride, swap)];
        output[(size_t)n * out_stride] =
            finish_sample<R>(comb_period<R>(bytes, state), high_pass, state);
    }
    return 0;
}

// Single-channel member: contiguous 16-bit words, higher-addressed byte
// first, high-pass on, no flag tests. An even R takes whole words per
// period; an odd R (factor 24) takes periods in pairs of three words, with a
// final odd period ending on the buffer's lone last byte.
template <int R>
uint32_t single_channel_kernel(const uint8_t *input, int16_t *output, PdmFilterInternal *state)
{
    const uint32_t samples = state->samples_per_call;
    uint8_t bytes[2 * R];
    if (R % 2 == 0) {
        for (uint32_t n = 0; n < samples; ++n) {
            const uint8_t *words = input + (size_t)n * R;
            for (int i = 0; i < R; i += 2) {
                bytes[i] = words[i + 1];
                bytes[i + 1] = words[i];
            }
            output[n] = finish_sample<R>(comb_period<R>(bytes, state), true, state);
        }
        return 0;
    }
    uint32_t n = 0;
    for (; n + 1 < samples; n += 2) {
        const uint8_t *words = input + (size_t)n * R;
        for (int i = 0; i < 2 * R; i += 2) {
            bytes[i] = words[i + 1];
            bytes[i + 1] = words[i];
        }
        output[n] = finish_sample<R>(comb_period<R>(bytes, state), true, state);
        output[n + 1] = finish_sample<R>(comb_period<R>(bytes + R, state), true, state);
    }
    if (n < samples) {
        const uint8_t *words = input + (size_t)n * R;
        for (int i = 0; i + 1 < R; i += 2) {
            bytes[i] = words[i + 1];
            bytes[i + 1] = words[i];
        }
        bytes[R - 1] = words[R - 1];
        output[n] = finish_sample<R>(comb_period<R>(bytes, state), true, state);
    }
    return 0;
}

// Kernel table: index = code for the generic members, code + 7 for the
// single-channel ones; 0 = none.
const PdmFilterKernel kKernels[2 * kCodeCount + 1] = {
    nullptr,
    D48_GENERIC,
    D64_GENERIC,
    D80_GENERIC,
    D128_GENERIC,
    D16_GENERIC,
    D24_GENERIC,
    D32_GENERIC,
    D48_1CH_HTONS_VOL_HP,
    D64_1CH_HTONS_VOL_HP,
    D80_1CH_HTONS_VOL_HP,
    D128_1CH_HTONS_VOL_HP,
    D16_1CH_HTONS_VOL_HP,
    D24_1CH_HTONS_VOL_HP,
    D32_1CH_HTONS_VOL_HP,
};

constexpr uint32_t kSingleChannelFlags =
    PDM_FILTER_FLAG_HIGH_PASS | PDM_FILTER_FLAG_BYTE_SWAP | PDM_FILTER_FLAG_SINGLE_CHANNEL;

uint32_t volume_multiplier_of(int32_t gain_db, uint32_t code)
{
    const FactorConstants &c = kFactorByCode[code <= kCodeCount ? code : 0u];
    const double m =
        pow(10.0, (double)gain_db / 20.0) * c.normalisation * ldexp(1.0, 32 - (int)c.pre_shift);
    return c.factor == 0 ? 0u : (uint32_t)floor(m + 0.5);
}

} // namespace

extern "C" {

uint32_t D16_GENERIC(const uint8_t *in, int16_t *out, PdmFilterInternal *s)
{
    return generic_kernel<2>(in, out, s);
}
uint32_t D24_GENERIC(const uint8_t *in, int16_t *out, PdmFilterInternal *s)
{
    return generic_kernel<3>(in, out, s);
}
uint32_t D32_GENERIC(const uint8_t *in, int16_t *out, PdmFilterInternal *s)
{
    return generic_kernel<4>(in, out, s);
}
uint32_t D48_GENERIC(const uint8_t *in, int16_t *out, PdmFilterInternal *s)
{
    return generic_kernel<6>(in, out, s);
}
uint32_t D64_GENERIC(const uint8_t *in, int16_t *out, PdmFilterInternal *s)
{
    return generic_kernel<8>(in, out, s);
}
uint32_t D80_GENERIC(const uint8_t *in, int16_t *out, PdmFilterInternal *s)
{
    return generic_kernel<10>(in, out, s);
}
uint32_t D128_GENERIC(const uint8_t *in, int16_t *out, PdmFilterInternal *s)
{
    return generic_kernel<16>(in, out, s);
}

uint32_t D16_1CH_HTONS_VOL_HP(const uint8_t *in, int16_t *out, PdmFilterInternal *s)
{
    return single_channel_kernel<2>(in, out, s);
}
uint32_t D24_1CH_HTONS_VOL_HP(const uint8_t *in, int16_t *out, PdmFilterInternal *s)
{
    return single_channel_kernel<3>(in, out, s);
}
uint32_t D32_1CH_HTONS_VOL_HP(const uint8_t *in, int16_t *out, PdmFilterInternal *s)
{
    return single_channel_kernel<4>(in, out, s);
}
uint32_t D48_1CH_HTONS_VOL_HP(const uint8_t *in, int16_t *out, PdmFilterInternal *s)
{
    return single_channel_kernel<6>(in, out, s);
}
uint32_t D64_1CH_HTONS_VOL_HP(const uint8_t *in, int16_t *out, PdmFilterInternal *s)
{
    return single_channel_kernel<8>(in, out, s);
}
uint32_t D80_1CH_HTONS_VOL_HP(const uint8_t *in, int16_t *out, PdmFilterInternal *s)
{
    return single_channel_kernel<10>(in, out, s);
}
uint32_t D128_1CH_HTONS_VOL_HP(const uint8_t *in, int16_t *out, PdmFilterInternal *s)
{
    return single_channel_kernel<16>(in, out, s);
}

uint32_t PDM_Filter_factor(uint32_t decimation_code)
{
    return decimation_code <= kCodeCount ? kFactorByCode[decimation_code].factor : 0u;
}

uint32_t PDM_Filter_Init(PdmFilterRecord *record)
{
    PdmFilterInternal *s = &record->state;
    memset(s, 0, sizeof(*s));
    s->in_stride = record->in_stride;
    s->out_stride = 1;
    s->volume_db = 0;
    s->hp_coefficient = PDM_FILTER_HP_COEFFICIENT;
    const bool single = record->in_stride == 1u && record->out_stride == 1u;
    s->flags = PDM_FILTER_FLAG_HIGH_PASS | (single ? PDM_FILTER_FLAG_SINGLE_CHANNEL : 0u);
    if (record->byte_swap >= 2u)
        return PDM_FILTER_ERR_BYTE_SWAP;
    s->flags |= PDM_FILTER_FLAG_INITIALISED;
    if (record->byte_swap == 1u)
        s->flags |= PDM_FILTER_FLAG_BYTE_SWAP;
    return 0;
}

uint32_t PDM_Filter_setConfig(PdmFilterRecord *record, PdmFilterConfig *config)
{
    PdmFilterInternal *s = &record->state;
    s->flags &= ~PDM_FILTER_FLAG_CONFIGURED;
    if ((s->flags & PDM_FILTER_FLAG_INITIALISED) == 0u)
        return PDM_FILTER_ERR_NOT_INITIALISED;

    const uint32_t code = config->decimation_code;
    const bool code_valid = code >= 1u && code <= kCodeCount;
    const uint32_t active_code = s->flags & PDM_FILTER_FLAG_CODE_MASK;
    uint32_t result = 0;
    if (code_valid) {
        // Same settings: only the samples per call change. The active code must
        // match too, so that a refused call that switched the kernel is never
        // followed by a run with the old factor's multiplier.
        if (code == s->decimation_code && config->gain_db == s->volume_db && code == active_code) {
            s->samples_per_call = config->samples_per_call;
            s->flags |= PDM_FILTER_FLAG_CONFIGURED;
            return 0;
        }
        if (code != active_code) {
            s->flags = (s->flags & ~PDM_FILTER_FLAG_CODE_MASK) | code;
            const bool single = (s->flags & kSingleChannelFlags) == kSingleChannelFlags;
            s->kernel = code + (single ? kCodeCount : 0u);
        }
    } else {
        result |= PDM_FILTER_ERR_CODE;
    }

    const int32_t gain = config->gain_db;
    if (gain < PDM_FILTER_GAIN_MIN_DB) {
        config->gain_db = PDM_FILTER_GAIN_MIN_DB;
        result |= PDM_FILTER_ERR_GAIN;
    } else if (gain > PDM_FILTER_GAIN_MAX_DB) {
        config->gain_db = PDM_FILTER_GAIN_MAX_DB;
        result |= PDM_FILTER_ERR_GAIN;
    } else {
        s->volume_multiplier = volume_multiplier_of(gain, s->flags & PDM_FILTER_FLAG_CODE_MASK);
        s->volume_db = (int16_t)gain;
        s->decimation_code = (uint16_t)code;
    }
    s->samples_per_call = config->samples_per_call;
    if (result != 0u)
        return result;
    s->flags |= PDM_FILTER_FLAG_CONFIGURED;
    return 0;
}

PdmFilterKernel PDM_Filter_selectedKernel(const PdmFilterRecord *record)
{
    const PdmFilterInternal *s = &record->state;
    if ((s->flags & PDM_FILTER_FLAG_CONFIGURED) == 0u)
        return nullptr;
    if (s->kernel > 2u * kCodeCount)
        return nullptr;
    return kKernels[s->kernel];
}

uint32_t PDM_Filter(const void *input, int16_t *output, PdmFilterRecord *record)
{
    const uint32_t flags = record->state.flags;
    const PdmFilterKernel kernel = PDM_Filter_selectedKernel(record);
    if (kernel == nullptr) {
        return (flags & PDM_FILTER_FLAG_INITIALISED)
                   ? PDM_FILTER_ERR_NOT_CONFIGURED
                   : PDM_FILTER_ERR_NOT_CONFIGURED | PDM_FILTER_ERR_NOT_INITIALISED;
    }
    return kernel((const uint8_t *)input, output, &record->state);
}

} // extern "C"
