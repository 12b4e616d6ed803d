// Run-time configuration of the preprocessor stage.
#include "ostrel_block.h"

namespace
{

constexpr uint32_t kMaxAgcLevel = 32767;

// Gain control: 0 switches it off, 1..32767 on with that target, anything
// larger switches it off and is reported; only a valid level is stored.
uint32_t apply_agc(PreprocessState *preprocess, uint32_t level)
{
    int32_t on = 0;
    uint32_t status = OSTREL_OK;
    if (level >= 1 && level <= kMaxAgcLevel) {
        float target = static_cast<float>(level);
        Preprocess_setup(preprocess, PREPROCESS_SET_AGC_LEVEL, &target);
        on = 1;
    } else if (level > kMaxAgcLevel) {
        status = OSTREL_ERR_AGC_LEVEL;
    }
    Preprocess_setup(preprocess, PREPROCESS_SET_AGC, &on);
    return status;
}

// A suppression level is a maximum attenuation: above 0 dB it would amplify
// what it is meant to suppress (and overflow to NaN beyond about 386 dB), so
// such a level is refused and the stored one kept.
uint32_t apply_attenuation(int32_t &stored, int32_t level)
{
    if (level > 0)
        return OSTREL_ERR_ATTENUATION;
    stored = level;
    return OSTREL_OK;
}

} // namespace

extern "C" uint32_t libEchoCancel_setConfig(OstrelHandle *handle, const OstrelConfig *config)
{
    using namespace ostrel;
    OstrelBlock *block = block_of(handle);
    if (block->preprocess_reserved == 0) {
        return (config->denoise_enable & 1u) != 0 ? OSTREL_ERR_NO_PREPROCESSOR : OSTREL_OK;
    }
    PreprocessState *preprocess = block->preprocess;
    block->preprocess_active = static_cast<uint8_t>(config->denoise_enable & 1u);
    uint32_t status = apply_agc(preprocess, config->agc_target_level);
    // The suppression levels are stored as given (negative dB), without the
    // sign change of the preprocessor's own set requests.
    status |= apply_attenuation(preprocess->noise_attenuation_db, config->noise_attenuation_db);
    status |= apply_attenuation(preprocess->echo_attenuation_db, config->echo_attenuation_db);
    status |= apply_attenuation(preprocess->echo_attenuation_active_db,
                                config->echo_attenuation_active_db);
    EchoState *echo = config->residual_echo_enable == 1 ? &block->echo : nullptr;
    Preprocess_setup(preprocess, PREPROCESS_SET_ECHO_STATE, echo);
    return status;
}

extern "C" uint32_t libEchoCancel_getConfig(OstrelHandle *handle, OstrelConfig *config)
{
    using namespace ostrel;
    OstrelBlock *block = block_of(handle);
    if (block->preprocess_reserved == 0)
        return OSTREL_ERR_NO_PREPROCESSOR;
    PreprocessState *preprocess = block->preprocess;
    config->denoise_enable = block->preprocess_active != 0 ? 1u : 0u;
    // The target is reported only while gain control is on: read back and
    // written again, the record must not switch gain control on.
    int32_t agc_on = 0;
    Preprocess_setup(preprocess, PREPROCESS_GET_AGC, &agc_on);
    int32_t target = 0;
    if (agc_on != 0)
        Preprocess_setup(preprocess, PREPROCESS_GET_AGC_TARGET, &target);
    config->agc_target_level = static_cast<uint32_t>(target);
    return OSTREL_OK;
}
