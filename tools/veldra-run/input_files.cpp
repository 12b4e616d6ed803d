#include "input_files.h"

#include <sndfile.h>

#include <cstdio>

// Plain reads: a path that opens but cannot be read (a directory) fails
// cleanly instead of throwing from the stream.
bool read_file(const std::string& path, std::vector<uint8_t>& bytes)
{
    FILE* in = std::fopen(path.c_str(), "rb");
    if (!in)
        return false;
    bytes.clear();
    uint8_t buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0)
        bytes.insert(bytes.end(), buffer, buffer + got);
    const bool ok = !std::ferror(in);
    std::fclose(in);
    return ok;
}

bool read_pcm(const std::string& path, std::vector<int16_t>& frames)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) {
        std::fprintf(stderr, "veldra-run: cannot open %s: %s\n", path.c_str(),
                     sf_strerror(nullptr));
        return false;
    }
    bool ok = true;
    if (info.samplerate != 16000 || info.channels != 2 ||
        (info.format & SF_FORMAT_SUBMASK) != SF_FORMAT_PCM_16) {
        std::fprintf(stderr,
                     "veldra-run: %s must be 16 kHz 16-bit stereo (has %d Hz, %d channels)\n",
                     path.c_str(), info.samplerate, info.channels);
        ok = false;
    } else if (info.frames <= 0) {
        std::fprintf(stderr, "veldra-run: %s holds no samples\n", path.c_str());
        ok = false;
    } else {
        frames.resize((size_t)info.frames * 2u);
        ok = sf_readf_short(file, frames.data(), info.frames) == info.frames;
        if (!ok)
            std::fprintf(stderr, "veldra-run: reading %s failed\n", path.c_str());
    }
    sf_close(file);
    return ok;
}
