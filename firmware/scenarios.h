/*
 * Fixed input vectors and the runs of both libraries on them. The same source
 * is compiled for the host and for the Cortex-M7 test image, so the two
 * builds process bit-identical inputs and their outputs can be compared.
 * Inputs are generated with integer arithmetic only (no libm, no rounding
 * differences between the compilers); only the libraries' own floating-point
 * work can make the outputs differ.
 */
#ifndef FIRMWARE_SCENARIOS_H
#define FIRMWARE_SCENARIOS_H

#include <stddef.h>
#include <stdint.h>

namespace fwvectors
{

// VeldraField, OstrelField: the libraries in field mode, every stage on.
// AdaptiveStage: the shared echo canceller with the beamformer's constants.
enum class Library { Veldra, VeldraField, Ostrel, OstrelField, AdaptiveStage, Fft };

// The library calls that are timed on the target.
enum class Call { FirstStep, SecondStep, DataInput, Process, Fft, Ifft, Count };

const char *call_name(Call call);

struct Scenario {
    const char *name; // also the base name of the output file
    Library library;
    uint32_t milliseconds; // length of the run (Veldra, Ostrel)
    // Veldra settings.
    uint32_t data_format;  // VELDRA_FORMAT_PDM or VELDRA_FORMAT_PCM
    uint32_t sampling_khz; // PDM clock in kHz, or 16 for PCM
    uint32_t algorithm_type;
    uint16_t mic_distance; // tenths of a millimetre
    uint32_t second_output;
    float mic2_gain;  // 0 = automatic
    bool interleaved; // both microphones in one buffer at stride 2
    // Ostrel and AdaptiveStage settings.
    uint16_t tail_length;
    bool preprocess;
    // Comparison bound against the other build: outputs must be identical when
    // exact, else within max_abs_difference per value and with the energy of
    // the difference at least min_difference_db below that of the output.
    bool exact;
    int32_t max_abs_difference;
    double min_difference_db;
    // Ostrel, AdaptiveStage: the room's echo path changes half-way through.
    bool echo_path_change = false;
};

extern const Scenario kScenarios[];
extern const size_t kScenarioCount;

// Receives what a run produces; implemented by the host program and by the
// firmware image.
class RunObserver
{
  public:
    // Timer reading before and after each timed call (0 when not timing).
    virtual uint32_t now() = 0;
    virtual void timed(Call call, uint32_t start, uint32_t end) = 0;
    // Output bytes in production order; false aborts the run.
    virtual bool output(const void *data, size_t bytes) = 0;

  protected:
    ~RunObserver() = default;
};

// Runs one scenario from its start; returns false when a library call
// reported an unexpected error or the observer refused the output.
bool run_scenario(const Scenario &scenario, RunObserver &observer);

} // namespace fwvectors

#endif
