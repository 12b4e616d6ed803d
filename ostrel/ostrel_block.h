// Layout of the caller's memory block: every state record of the library
// lives inside it, in this order:
//   the fixed record OstrelBlock (preprocessor references, echo-canceller
//   state, its transform table, strides and ring indices, the three rings,
//   frame_ready, flags and tail length);
//   the echo canceller's variable arrays: X, background and foreground
//   filter, (M+1)*256 floats each, then L floats of per-block step factors;
//   when the preprocessor is reserved: its state, its transform table and
//   its filter bank.
// The block need only be 4-byte aligned. Where records need 8-byte alignment
// (64-bit host), the fixed record starts at the next 8-byte boundary and the
// preprocessor state may need 4 bytes of padding; the 8 spare bytes of the
// size formula cover both.
#ifndef OSTREL_BLOCK_H
#define OSTREL_BLOCK_H

#include <stddef.h>
#include <stdint.h>

#include "echo.h"
#include "fft.h"
#include "filterbank.h"
#include "ostrel.h"
#include "preprocess.h"

namespace ostrel
{

constexpr uint32_t kFrame = OSTREL_FRAME_SIZE;        // samples per Ostrel_Process
constexpr uint32_t kWindow = 2 * kFrame;              // transform size
constexpr uint32_t kRingLength = 2 * kFrame;          // two frames per ring
constexpr uint32_t kChunk = OSTREL_SAMPLES_PER_INPUT; // samples per Ostrel_Data_Input
constexpr int32_t kSamplingRate = 16000;
constexpr int32_t kPreprocessBands = 24;
constexpr int32_t kFilterBankType = 1;

// frame_ready values.
constexpr uint16_t kNoFrame = 0;
constexpr uint16_t kFirstHalfReady = 1;
constexpr uint16_t kSecondHalfReady = 2;

struct OstrelBlock {
    PreprocessState *preprocess; // null when no preprocessor is reserved
    FilterBank *filterbank;      // null likewise
    FftTable *preprocess_fft;    // null likewise
    EchoState echo;
    FftTable echo_fft;   // n = 256
    uint16_t mic_stride; // 1 or more
    uint16_t ref_stride;
    uint16_t out_stride;
    uint16_t write_index; // next input ring position, 0..255
    uint16_t read_index;  // next output ring position, 0..255
    int16_t mic_ring[kRingLength];
    int16_t ref_ring[kRingLength];
    int16_t out_ring[kRingLength];
    volatile uint16_t frame_ready; // kNoFrame, kFirstHalfReady, kSecondHalfReady
    uint8_t preprocess_reserved;
    uint8_t preprocess_active; // denoise_enable bit 0
    uint8_t echo_active;       // always 1
    uint8_t field_active;      // 1: Ostrel_Field_Init set up field mode
    uint16_t tail_length;      // effective L, 1..65535
};

// Record sizes of the memory formula; a record that needs more on some
// target (wider pointers) takes its own size instead.
constexpr uint32_t at_least(uint32_t nominal, size_t actual)
{
    return actual > nominal ? static_cast<uint32_t>(actual) : nominal;
}
constexpr uint32_t kFixedBytes = at_least(17748u, sizeof(OstrelBlock));
constexpr uint32_t kPreprocessStateBytes = at_least(13468u, sizeof(PreprocessState));
constexpr uint32_t kPreprocessFftBytes = at_least(3204u, sizeof(FftTable));
constexpr uint32_t kFilterBankBytes = at_least(2152u, sizeof(FilterBank));
constexpr uint32_t kSpareBytes = 8; // 4 for rounding up, 4 more, as the formula adds

constexpr size_t kMaxRecordAlign = 8;
static_assert(alignof(OstrelBlock) <= kMaxRecordAlign, "block record alignment");
static_assert(alignof(PreprocessState) <= kMaxRecordAlign, "preprocessor alignment");
static_assert(alignof(FftTable) <= 4 && alignof(FilterBank) <= 4, "table alignment");
static_assert(kFixedBytes % 4 == 0 && kPreprocessStateBytes % 4 == 0 &&
                  kPreprocessFftBytes % 4 == 0 && kFilterBankBytes % 4 == 0,
              "records keep 4-byte alignment for what follows");
#if UINTPTR_MAX == 0xFFFFFFFFu
// On the 32-bit target every record fits the nominal sizes, so the block
// sizes are 35164 bytes for a 512-sample tail, 53988 with the preprocessor.
static_assert(sizeof(OstrelBlock) <= 17748u, "fixed record exceeds 17748 bytes");
static_assert(sizeof(PreprocessState) <= 13468u, "preprocessor state exceeds 13468 bytes");
static_assert(sizeof(FftTable) == 3204u, "transform table is 801 words");
static_assert(sizeof(FilterBank) <= 2152u, "filter bank exceeds 2152 bytes");
#endif

// Offsets from the aligned start of the block, and the total it needs.
struct BlockLayout {
    uint32_t tail_length; // L
    uint32_t blocks;      // M
    uint32_t spectra;     // X, W, foreground: (M+1)*256 floats each
    uint32_t spectra_offset;
    uint32_t lambda_offset;     // L floats
    uint32_t preprocess_offset; // 0 when not reserved
    uint32_t preprocess_fft_offset;
    uint32_t filterbank_offset;
    uint32_t records_end; // end of the last record
    uint32_t memory_size; // bytes the caller provides
};

// Layout for the handle's tail length and preprocessor reservation.
BlockLayout block_layout(const OstrelHandle *handle);

// The fixed record inside the caller's block.
OstrelBlock *block_of(const OstrelHandle *handle);

// Start of the records: the block's address rounded up for OstrelBlock.
uint8_t *aligned_base(void *memory);

} // namespace ostrel

#endif
