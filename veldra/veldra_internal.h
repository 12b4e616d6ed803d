// Library-private layout of the working block: the control record at its
// start, the rings, the filter, delay and equaliser records, and the blocks
// of the adaptive stage and the denoiser. Regions are found through byte
// offsets from the block start (the control record's own address), so the
// record is the same size on the target and on a 64-bit host.
#ifndef VELDRA_INTERNAL_H
#define VELDRA_INTERNAL_H

#include <stddef.h>
#include <stdint.h>

#include "echo.h"
#include "veldra.h"

#define VELDRA_FRAME 16  // samples per first step (1 ms at 16 kHz)
#define VELDRA_BLOCK 128 // samples per second step (8 ms)
#define VELDRA_RING 256  // samples per ring (two blocks)
#define VELDRA_CALLS_PER_BLOCK 8
#define VELDRA_PDM_SCRATCH 512 // bytes of delayed PDM for one call (2048 kHz: 256)

// Region sizes in bytes, as the block is sized for the target.
#define VELDRA_CONTROL_BYTES 876
#define VELDRA_RING_BYTES 512
#define VELDRA_FILTER_BYTES 76
#define VELDRA_FILTER_CONFIG_BYTES 6
#define VELDRA_DELAY_BYTES 40
#define VELDRA_EQUALISER_BYTES 60
#define VELDRA_DENOISER_STATE_BYTES 12956
#define VELDRA_FFT_TABLE_BYTES 3204
#define VELDRA_FILTERBANK_BYTES 2152
#define VELDRA_ADAPTIVE_STATE_BYTES 17056
#define VELDRA_BASIC_BYTES 2940
#define VELDRA_DENOISER_BYTES 18312
#define VELDRA_ADAPTIVE_BYTES 20260

// Bytes of the adaptive stage's region: its state (padded to its alignment
// after a 4-byte aligned start) and the filter arrays of one partition, X
// (two spectra), W, the foreground filter and one step factor. 17056 on the
// target; somewhat more on a 64-bit host, whose state is larger.
constexpr uint32_t veldra_adaptive_state_bytes()
{
    const uint32_t needed = (uint32_t)(sizeof(EchoState) + alignof(EchoState) - 4u +
                                       (4u * ECHO_WINDOW + 1u) * sizeof(float));
    return needed > VELDRA_ADAPTIVE_STATE_BYTES ? needed : VELDRA_ADAPTIVE_STATE_BYTES;
}

// Selected first-step path; 0 until the first reconfiguring setConfig.
enum VeldraPath {
    VELDRA_PATH_NONE = 0,
    VELDRA_PATH_PDM_BIT_DELAY = 1,    // FirstStepInternal1
    VELDRA_PATH_PCM_SAMPLE_DELAY = 2, // FirstStepInternal2
    VELDRA_PATH_PDM_SAMPLE_DELAY = 3, // FirstStepInternal3
    VELDRA_PATH_PCM_NO_DELAY = 4      // FirstStepInternal_NoDelay
};

// Selected delay operation of a delay record.
enum VeldraDelayOp {
    VELDRA_DELAY_NONE = 0,
    VELDRA_DELAY_SAMPLE = 1,    // Delay_1
    VELDRA_DELAY_BITS_WORD = 2, // Delay_2, under 64 bits
    VELDRA_DELAY_BITS_BYTE = 3  // Delay_3, 64 bits or more
};

// Delay of one microphone's input (40 bytes).
typedef struct DelayRecord {
    uint16_t stride; // input stride: bytes (PDM) or samples (PCM)
    uint16_t units;  // PDM bytes per call (f / 8), or 16 samples
    uint16_t delay;  // bits (PDM) or samples (PCM)
    union {
        int16_t last_sample; // Delay_1: sample kept from the previous call
        uint8_t history[16]; // Delay_3: last whole_bytes + 1 input bytes
    };
    uint8_t whole_bytes; // delay / 8
    uint8_t bit_shift;   // delay % 8
    uint8_t swap_pairs;  // 1: bytes of each 16-bit word in reverse address
                         // order, the time order of a stride-1 filter
    uint8_t op;          // VeldraDelayOp
    uint32_t carry[2];   // Delay_2: bits pushed out of the previous group,
                         // high word first
    uint8_t spare[4];
} DelayRecord;

// First-order low-pass equaliser of one beam (60 bytes; the used fields).
typedef struct EqualiserRecord {
    int32_t y_direct;   // yF: state of the direct input's low-pass
    int32_t y_delayed;  // yR: state of the delayed input's low-pass
    uint16_t pole;      // P, over 256
    uint16_t k_direct;  // KF
    uint16_t k_delayed; // KR
    uint8_t spare[46];
} EqualiserRecord;

// The control record (at most 876 bytes, at block offset 0).
typedef struct VeldraControl {
    uint32_t algorithm_type;     // current type
    uint32_t sampling_frequency; // kHz
    uint32_t data_format;
    volatile uint32_t block_ready; // 0 none, 1 first half done, 2 second half
    uint8_t mic1_stride;
    uint8_t mic2_stride;
    uint16_t mic_distance;  // 0.1 mm; 0 after Init
    float mic2_gain;        // configured; 0 = automatic
    uint16_t write_index;   // w, into the beam rings
    uint16_t read_index;    // r, into the output ring
    uint16_t init_type;     // algorithm type given at Init
    uint8_t calls_in_block; // 0..7
    uint8_t delay_enable;
    int32_t gain_counter; // samples accumulated in the energy sums
    float energy_front;   // EF
    float energy_rear;    // ER
    float estimated_gain;
    float smoothed_ratio;
    uint8_t volume;
    uint8_t out_channels;
    uint8_t path;             // VeldraPath
    uint8_t rear_configured;  // rear filters/delay/equaliser set up
    uint8_t distance_pending; // stored distance not yet applied (a call
                              // that wrote it was refused for its type)
    uint32_t second_output;
    int16_t f1[VELDRA_FRAME]; // front beam, direct input (microphone 1)
    int16_t r1[VELDRA_FRAME]; // front beam, delayed input (microphone 2)
    int16_t f2[VELDRA_FRAME]; // rear beam, direct input (microphone 2)
    int16_t r2[VELDRA_FRAME]; // rear beam, delayed input (microphone 1)
    int16_t front[VELDRA_FRAME];
    int16_t rear[VELDRA_FRAME];
    uint8_t pdm_scratch[VELDRA_PDM_SCRATCH];
    // Byte offsets of the regions from the block start; 0 = not carved.
    uint32_t front_ring_at;
    uint32_t rear_ring_at;
    uint32_t out_ring_at;
    uint32_t filter_at[4];        // records A, D, B, C
    uint32_t filter_config_at[4]; // configurations A, D, B, C
    uint32_t delay_at[2];         // front, rear
    uint32_t equaliser_at[2];     // front, rear
    uint32_t denoiser_at;
    uint32_t denoiser_fft_at;
    uint32_t denoiser_bank_at;
    uint32_t adaptive_at;
    uint32_t adaptive_fft_at;
    uint32_t field_at; // field-mode region; 0 = default mode
} VeldraControl;

enum { FILTER_A = 0, FILTER_D = 1, FILTER_B = 2, FILTER_C = 3 };
enum { BEAM_FRONT = 0, BEAM_REAR = 1 };

static_assert(sizeof(VeldraControl) <= VELDRA_CONTROL_BYTES, "control record too large");
static_assert(sizeof(DelayRecord) == VELDRA_DELAY_BYTES, "delay record size");
static_assert(sizeof(EqualiserRecord) == VELDRA_EQUALISER_BYTES, "equaliser record size");

// Pointer to the region at a byte offset from the block start.
template <typename T> static inline T *veldra_region(VeldraControl *ctrl, uint32_t offset)
{
    return reinterpret_cast<T *>(reinterpret_cast<uint8_t *>(ctrl) + offset);
}

static inline VeldraControl *veldra_control(VeldraHandle *handle)
{
    return static_cast<VeldraControl *>(handle->internal_memory);
}

// True when the rear beam must be formed: the adaptive types use it, and
// the second output channel may carry it.
static inline bool veldra_rear_beam_needed(const VeldraControl *ctrl)
{
    return ctrl->algorithm_type >= VELDRA_TYPE_ADAPTIVE ||
           ctrl->second_output == VELDRA_SECOND_OUTPUT_REAR;
}

// Ring exchange and block counting of the first step, shared with the
// field-mode first step.
void veldra_exchange_rings(VeldraControl *ctrl, int16_t *out, const int16_t *channel1);
uint32_t veldra_count_call(VeldraControl *ctrl);

// Sets up decimation filter `which` for the configured clock and volume;
// byte_swap 1 for microphone bytes as delivered.
void veldra_setup_filter(VeldraControl *ctrl, int which, uint16_t byte_swap, uint16_t stride);

#endif
