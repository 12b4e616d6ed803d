#include "sound_file.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "output_files.h"
#include "scene.h"

namespace
{

constexpr double kLargestSample = 1000.0;

} // namespace

// Reading stops where the scene ends, so a long file at a tiny sample rate
// cannot make the resampled signal huge.
bool readSoundFile(const std::string& path, double duration_s, std::vector<float>& mono,
                   std::string& error)
{
    // A FIFO or device could block the read forever.
    error = toolfiles::require_regular_file(path);
    if (!error.empty())
        return false;
    SF_INFO info;
    std::memset(&info, 0, sizeof info);
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        error = "cannot read " + path + ": " + sf_strerror(nullptr);
        return false;
    }
    if (info.frames <= 0 || info.channels <= 0 || info.samplerate <= 0) {
        sf_close(file);
        error = path + " holds no audio";
        return false;
    }
    const size_t wanted = std::min(size_t(info.frames),
                                   pdmscene::inputFramesFor(duration_s, double(info.samplerate)));
    const size_t channels = size_t(info.channels);
    constexpr size_t kChunkFrames = 4096;
    std::vector<float> chunk(kChunkFrames * channels);
    std::vector<float> mixed;
    mixed.reserve(wanted);
    while (mixed.size() < wanted) {
        const size_t ask = std::min(kChunkFrames, wanted - mixed.size());
        const sf_count_t got = sf_readf_float(file, chunk.data(), sf_count_t(ask));
        if (got <= 0)
            break;
        for (size_t i = 0; i < size_t(got); ++i) {
            double sum = 0.0;
            for (size_t c = 0; c < channels; ++c)
                sum += chunk[i * channels + c];
            // A float file may hold NaN, infinities or values so large that the
            // resampling overflows: the whole scene would turn into NaN. Full
            // scale is 1; refuse what lies 60 dB beyond, as for levels.
            const double value = sum / double(channels);
            if (!(std::fabs(value) <= kLargestSample)) {
                sf_close(file);
                error = path + " holds samples beyond 60 dB above full scale, or not numbers";
                return false;
            }
            mixed.push_back(float(value));
        }
    }
    sf_close(file);
    if (mixed.empty()) {
        error = "cannot read the samples of " + path;
        return false;
    }
    mono = pdmscene::resampleToSourceRate(mixed, double(info.samplerate),
                                          size_t(std::ceil(duration_s * pdmscene::kSourceRate)) +
                                              pdmscene::kSourceTail);
    return true;
}
