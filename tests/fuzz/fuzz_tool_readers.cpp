// The host tools' input readers on arbitrary file contents: ostrel-run's
// mono WAV reader, veldra-run's PDM and stereo WAV readers and pdm-scene's
// sound-file source. Each either refuses the file or returns samples that
// agree with what it reports.
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "input_files.h"
#include "sound_file.h"
#include "wav_io.h"

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
    if (read_wav16(path, mono).empty() && mono.empty())
        std::abort(); // 0 samples accepted

    std::vector<uint8_t> bytes;
    if (!read_file(path, bytes) || bytes.size() != size - 1)
        std::abort();
    std::vector<int16_t> frames;
    if (read_pcm(path, frames) && (frames.empty() || frames.size() % 2 != 0))
        std::abort();

    // Up to a quarter of a second of scene.
    const double duration = 0.001 * (1 + data[0] % 250);
    std::vector<float> signal;
    std::string error;
    if (readSoundFile(path, duration, signal, error)) {
        if (signal.size() > size_t(std::ceil(16000 * duration)) + 128)
            std::abort();
        for (float x : signal)
            if (!std::isfinite(x))
                std::abort();
    }
    return 0;
}
