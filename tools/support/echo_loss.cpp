#include "echo_loss.h"

#include <algorithm>
#include <cmath>

namespace echoloss
{

double erle_db(const std::vector<int16_t>& mic, const std::vector<int16_t>& ref,
               const std::vector<int16_t>& out, size_t first, size_t start_end, size_t end,
               const Frames& frames)
{
    const size_t n = frames.length;
    double mic_power = 0.0, out_power = 0.0;
    for (size_t f = first; f < start_end && f + n <= end; f += n) {
        double r = 0.0, m = 0.0, o = 0.0;
        for (size_t i = f; i < f + n; ++i) {
            r += double(ref[i]) * ref[i];
            m += double(mic[i]) * mic[i];
            o += double(out[i]) * out[i];
        }
        if (std::sqrt(r / n) < frames.active_rms)
            continue;
        mic_power += m;
        out_power += o;
    }
    return mic_power > 0.0 ? 10.0 * std::log10(mic_power / std::max(out_power, 1.0)) : NAN;
}

std::vector<double> erle_per_window(const std::vector<int16_t>& mic,
                                    const std::vector<int16_t>& ref,
                                    const std::vector<int16_t>& out, size_t window,
                                    const Frames& frames)
{
    std::vector<double> erle;
    for (size_t w = 0; w + window <= mic.size(); w += window)
        erle.push_back(erle_db(mic, ref, out, w, w + window, mic.size(), frames));
    return erle;
}

} // namespace echoloss
