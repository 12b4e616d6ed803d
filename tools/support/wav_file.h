// Sound files of the host programs and their tests, through libsndfile:
// reading 16-bit PCM files of a required shape, reading any sound file
// mixed to mono, and writing WAV files, streamed or whole-or-nothing.
#ifndef HALVANE_TOOLS_WAV_FILE_H
#define HALVANE_TOOLS_WAV_FILE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct sf_private_tag;

namespace toolfiles
{
class PendingOutput;
}

namespace wavfile
{

// What a sound file holds, as its header says.
struct Format {
    int rate = 0;
    int channels = 0;
    int64_t frames = 0;
    bool wav = false;   // a WAV container
    bool pcm16 = false; // 16-bit PCM samples
};

// A sound file read frame by frame (any format libsndfile reads).
class Reader
{
  public:
    Reader() = default;
    ~Reader();
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // Empty on success, else "PATH: cannot open: why".
    std::string open(const std::string& path);
    const Format& format() const { return format_; }
    // Up to `frames` interleaved frames; returns how many were read.
    size_t read(int16_t* samples, size_t frames);
    size_t read(float* samples, size_t frames);
    // The reason of the last failed read.
    std::string error() const;

  private:
    sf_private_tag* file_ = nullptr;
    Format format_;
};

// The 16-bit PCM files a program accepts, and how a mismatch is worded
// ("PATH: <mismatch>, found 8000 Hz, 2 channels, not 16-bit PCM").
struct Shape {
    int rate;
    int channels;
    bool wav_only; // other containers refused
    const char* mismatch;
};

// Every frame of a 16-bit PCM file of `shape`, interleaved. Empty on
// success, else a message: missing or unreadable file, another shape, no
// samples, or a short read.
std::string read_pcm16(const std::string& path, const Shape& shape, std::vector<int16_t>& samples);

// Samples of a float file may be anything; beyond this (60 dB above full
// scale), or not numbers, they are refused, as later processing would
// overflow.
constexpr double kLargestSample = 1000.0;

// At most `max_frames` frames of any sound file, each the mean of its
// channels, and the file's sample rate. Empty on success, else a message:
// unreadable file, no samples, samples beyond kLargestSample.
std::string read_mono(Reader& reader, const std::string& path, size_t max_frames,
                      std::vector<float>& mono);

// A WAV file written as frames come (16-bit PCM or 32-bit float samples).
class Writer
{
  public:
    enum class Encoding { Pcm16, Float };
    Writer() = default;
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    // Creates `path`; empty on success, else "cannot create PATH: why".
    std::string open(const std::string& path, int rate, int channels,
                     Encoding encoding = Encoding::Pcm16);
    bool is_open() const { return file_ != nullptr; }
    // Interleaved frames; false when not all were written.
    bool write(const int16_t* samples, size_t frames);
    bool write(const float* samples, size_t frames);
    // Completes the file; false when that failed.
    bool close();
    // The reason of the last failed write.
    std::string error() const;

  private:
    sf_private_tag* file_ = nullptr;
};

// Writes interleaved samples as a 16-bit PCM WAV file into `output`'s
// temporary file, for the caller to commit. Empty on success, else a
// message naming the output's final path.
std::string write_pcm16(toolfiles::PendingOutput& output, int rate, int channels,
                        const std::vector<int16_t>& samples);

// Writes interleaved samples as a 16-bit PCM WAV file at `path`, whole or
// not at all (an existing file is replaced only on success).
std::string write_pcm16_whole(const std::string& path, int rate, int channels,
                              const std::vector<int16_t>& samples);

} // namespace wavfile

#endif
