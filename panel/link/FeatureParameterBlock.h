// The feature parameter block: every setting and live measurement of the
// board's audio features, in seven sections selected by a section mask.
// The struct is laid out exactly as on the wire (146 bytes, little-endian
// fields, no padding); bytes the panel does not interpret are kept in the
// reserved arrays so that they survive a write-back.
#pragma once

#include <cstddef>
#include <cstdint>

// Section mask bits.
constexpr unsigned PARAM_GENERAL = 0x01;
constexpr unsigned PARAM_BEAM = 0x02;
constexpr unsigned PARAM_SLOC = 0x04;
constexpr unsigned PARAM_DBNOISE = 0x08;
constexpr unsigned PARAM_AEC = 0x10;
constexpr unsigned PARAM_ASR = 0x20;
constexpr unsigned PARAM_OUTPUT = 0x40;
constexpr unsigned PARAM_ALL = 0xFF;

// Feature bits of availableFeatures and enabledFeatures.
constexpr uint16_t FEATURE_BEAMFORMING = 0x01;
constexpr uint16_t FEATURE_SLOC = 0x02;
constexpr uint16_t FEATURE_AEC = 0x04;
constexpr uint16_t FEATURE_DBNOISE = 0x08;
constexpr uint16_t FEATURE_ASR = 0x10;
constexpr uint16_t FEATURE_GESTURE = 0x20; // availableFeatures only

// Angle value meaning "no source detected".
constexpr int16_t SLOC_NO_SOURCE = -100;

#pragma pack(push, 1)

struct GeneralSection {         // PARAM_GENERAL, 32 bytes
    uint16_t availableFeatures; // features the board offers
    uint16_t enabledFeatures;   // features running
    uint8_t micVolume;          // streaming volume step, 4 is 0 dB
    uint8_t reserved5[7];
    uint32_t micMask;       // bit 0 M1 .. bit 3 M4
    uint32_t volumeGesture; // 1: gestures change the streaming volume
    uint32_t currentVolume; // streaming volume step in force
    uint8_t reserved24[8];
};

struct SlocSection { // PARAM_SLOC, 24 bytes
    int16_t angle;   // degrees, SLOC_NO_SOURCE when silent
    uint8_t reserved2;
    uint8_t resolution; // degrees
    int16_t threshold;  // detection threshold
    uint8_t reserved6[18];
};

struct BeamSection {       // PARAM_BEAM, 24 bytes
    uint8_t beamType;      // 0..3
    uint8_t beamDirection; // 1..8
    uint8_t reserved2[6];
    uint32_t beamGesture; // 1: gestures steer the beam
    uint8_t reserved12[12];
};

struct AecSection { // PARAM_AEC, 24 bytes
    uint8_t reserved0[2];
    uint16_t agcLevel; // 0..8000
    uint16_t denoiser; // 1 on, 0 off
    uint8_t reserved6[18];
};

struct DbNoiseSection {  // PARAM_DBNOISE, 20 bytes
    int16_t noiseLevel;  // dB SPL as measured
    int16_t noiseOffset; // user correction, -99..99
    uint8_t reserved4[16];
};

struct AsrSection {     // PARAM_ASR, 20 bytes
    int16_t asrCommand; // code of the last voice command
    uint8_t reserved2[18];
};

struct OutputSection {    // PARAM_OUTPUT, 2 bytes
    uint8_t outputSource; // 2: microphone streaming
    uint8_t outputVolume; // 0..99, 0 while muted
};

// Sections in wire order (not mask order: SLOC before BEAM, AEC before DBNOISE).
struct FeatureParameterBlock {
    GeneralSection general;
    SlocSection sloc;
    BeamSection beam;
    AecSection aec;
    DbNoiseSection dbnoise;
    AsrSection asr;
    OutputSection output;
};

#pragma pack(pop)

static_assert(sizeof(GeneralSection) == 32, "general section size");
static_assert(sizeof(SlocSection) == 24, "sloc section size");
static_assert(sizeof(BeamSection) == 24, "beam section size");
static_assert(sizeof(AecSection) == 24, "aec section size");
static_assert(sizeof(DbNoiseSection) == 20, "dbnoise section size");
static_assert(sizeof(AsrSection) == 20, "asr section size");
static_assert(sizeof(OutputSection) == 2, "output section size");
static_assert(sizeof(FeatureParameterBlock) == 146, "block size");
static_assert(offsetof(FeatureParameterBlock, general) == 0, "general offset");
static_assert(offsetof(FeatureParameterBlock, sloc) == 32, "sloc offset");
static_assert(offsetof(FeatureParameterBlock, beam) == 56, "beam offset");
static_assert(offsetof(FeatureParameterBlock, aec) == 80, "aec offset");
static_assert(offsetof(FeatureParameterBlock, dbnoise) == 104, "dbnoise offset");
static_assert(offsetof(FeatureParameterBlock, asr) == 124, "asr offset");
static_assert(offsetof(FeatureParameterBlock, output) == 144, "output offset");
static_assert(offsetof(GeneralSection, micMask) == 12, "micMask offset");
static_assert(offsetof(GeneralSection, currentVolume) == 20, "currentVolume offset");
static_assert(offsetof(SlocSection, resolution) == 3, "resolution offset");
static_assert(offsetof(SlocSection, threshold) == 4, "threshold offset");
static_assert(offsetof(BeamSection, beamGesture) == 8, "beamGesture offset");
static_assert(offsetof(AecSection, agcLevel) == 2, "agcLevel offset");
static_assert(offsetof(DbNoiseSection, noiseOffset) == 2, "noiseOffset offset");
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the block is copied byte for byte; its fields are little-endian"
#endif

// One section: its mask bit, where it lies in the block and its size.
struct ParameterSection {
    unsigned mask;
    size_t offset;
    size_t size;
};

// The seven sections in wire order.
constexpr size_t PARAMETER_SECTION_COUNT = 7;
extern const ParameterSection PARAMETER_SECTIONS[PARAMETER_SECTION_COUNT];

// Largest answer payload of a get the panel accepts.
constexpr unsigned PARAMETER_ANSWER_CAPACITY = 164;

// Total size of the sections selected by mask.
size_t ParameterSectionsSize(unsigned mask);

// Appends the selected sections of block, in wire order, to out. Returns the
// number of bytes written, or 0 when they would not fit in outCapacity.
size_t PackParameterSections(const FeatureParameterBlock& block, unsigned mask, uint8_t* out,
                             size_t outCapacity);

// Copies the selected sections, in wire order, from in into block, as far as
// the length bytes of in reach (a short input fills a section only partly).
// Returns the number of bytes taken.
size_t UnpackParameterSections(const uint8_t* in, size_t length, unsigned mask,
                               FeatureParameterBlock& block);
