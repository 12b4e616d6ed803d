// Echo-return-loss enhancement of an echo canceller's output, counted over
// the frames in which the far end is active (quality reports).
#ifndef HALVANE_TOOLS_ECHO_LOSS_H
#define HALVANE_TOOLS_ECHO_LOSS_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace echoloss
{

struct Frames {
    size_t length = 128;     // samples a frame
    double active_rms = 0.0; // a frame counts when the far end's RMS reaches this
};

// 10 log10 of microphone over output power, summed over the whole active
// frames that start in [first, start_end) and end by `end`; NaN when no frame
// is active.
double erle_db(const std::vector<int16_t>& mic, const std::vector<int16_t>& ref,
               const std::vector<int16_t>& out, size_t first, size_t start_end, size_t end,
               const Frames& frames);

// ERLE per window of `window` samples: a frame counts in the window it starts
// in, and a frame that would run past the end of the signal is left out.
std::vector<double> erle_per_window(const std::vector<int16_t>& mic,
                                    const std::vector<int16_t>& ref,
                                    const std::vector<int16_t>& out, size_t window,
                                    const Frames& frames);

} // namespace echoloss

#endif
