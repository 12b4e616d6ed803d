// The host tools' input readers on arbitrary file contents: the shared
// 16-bit PCM reader in ostrel-run's (mono WAV) and veldra-run's (stereo)
// shapes, the whole-file reader of veldra-run's PDM input, and pdm-scene's
// sound-file source (any file mixed to mono, then resampled). Each either
// refuses the file or returns samples that agree with what it reports.
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "output_files.h"
#include "scene.h"
#include "wav_file.h"

namespace
{

// One in-memory file for the whole run, rewritten for every input.
const std::string& memoryFile(int& fd)
{
    static int file = memfd_create("fuzz-input", 0);
    static const std::string path = "/proc/self/fd/" + std::to_string(file);
    fd = file;
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    int fd = -1;
    const std::string& path = memoryFile(fd);
    if (fd < 0 || ftruncate(fd, 0) != 0)
        std::abort();
    if (size > 1 && pwrite(fd, data + 1, size - 1, 0) != ssize_t(size - 1))
        std::abort();

    std::vector<int16_t> mono;
    const wavfile::Shape mono_wav = {16000, 1, true, "expected a mono WAV file"};
    if (wavfile::read_pcm16(path, mono_wav, mono).empty() && mono.empty())
        std::abort(); // 0 samples accepted

    std::vector<uint8_t> bytes;
    if (!toolfiles::read_bytes(path, bytes) || bytes.size() != size - 1)
        std::abort();
    std::vector<int16_t> frames;
    const wavfile::Shape stereo = {16000, 2, false, "expected stereo"};
    if (wavfile::read_pcm16(path, stereo, frames).empty() &&
        (frames.empty() || frames.size() % 2 != 0))
        std::abort();

    // Up to a quarter of a second of scene, read and resampled as pdm-scene's
    // --speech source does.
    const double duration = 0.001 * (1 + data[0] % 250);
    wavfile::Reader reader;
    std::vector<float> mixed;
    if (!reader.open(path).empty())
        return 0;
    const double rate = double(reader.format().rate);
    const size_t wanted = pdmscene::inputFramesFor(duration, rate);
    if (!wavfile::read_mono(reader, path, wanted, mixed).empty())
        return 0;
    if (mixed.empty() || mixed.size() > wanted)
        std::abort();
    const std::vector<float> signal = pdmscene::resampleToSourceRate(
        mixed, rate, size_t(std::ceil(duration * pdmscene::kSourceRate)) + pdmscene::kSourceTail);
    if (signal.size() > size_t(std::ceil(16000 * duration)) + 128)
        std::abort();
    for (float x : signal)
        if (!std::isfinite(x))
            std::abort();
    return 0;
}
