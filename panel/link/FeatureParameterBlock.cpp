#include "FeatureParameterBlock.h"

#include <cstring>

const ParameterSection PARAMETER_SECTIONS[PARAMETER_SECTION_COUNT] = {
    {PARAM_GENERAL, offsetof(FeatureParameterBlock, general), sizeof(GeneralSection)},
    {PARAM_SLOC, offsetof(FeatureParameterBlock, sloc), sizeof(SlocSection)},
    {PARAM_BEAM, offsetof(FeatureParameterBlock, beam), sizeof(BeamSection)},
    {PARAM_AEC, offsetof(FeatureParameterBlock, aec), sizeof(AecSection)},
    {PARAM_DBNOISE, offsetof(FeatureParameterBlock, dbnoise), sizeof(DbNoiseSection)},
    {PARAM_ASR, offsetof(FeatureParameterBlock, asr), sizeof(AsrSection)},
    {PARAM_OUTPUT, offsetof(FeatureParameterBlock, output), sizeof(OutputSection)},
};

size_t ParameterSectionsSize(unsigned mask)
{
    size_t total = 0;
    for (const ParameterSection& section : PARAMETER_SECTIONS)
        if (mask & section.mask)
            total += section.size;
    return total;
}

size_t PackParameterSections(const FeatureParameterBlock& block, unsigned mask, uint8_t* out,
                             size_t outCapacity)
{
    if (ParameterSectionsSize(mask) > outCapacity)
        return 0;
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&block);
    size_t n = 0;
    for (const ParameterSection& section : PARAMETER_SECTIONS) {
        if (!(mask & section.mask))
            continue;
        std::memcpy(out + n, bytes + section.offset, section.size);
        n += section.size;
    }
    return n;
}

size_t UnpackParameterSections(const uint8_t* in, size_t length, unsigned mask,
                               FeatureParameterBlock& block)
{
    uint8_t* bytes = reinterpret_cast<uint8_t*>(&block);
    size_t n = 0;
    for (const ParameterSection& section : PARAMETER_SECTIONS) {
        if (!(mask & section.mask))
            continue;
        size_t take = length - n < section.size ? length - n : section.size;
        std::memcpy(bytes + section.offset, in + n, take);
        n += take;
        if (n == length)
            break;
    }
    return n;
}
