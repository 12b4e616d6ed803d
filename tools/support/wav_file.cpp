#include "wav_file.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>

#include "output_files.h"

namespace wavfile
{

namespace
{

std::string describe(const Format& format)
{
    std::string text = std::to_string(format.rate) + " Hz, " + std::to_string(format.channels) +
                       (format.channels == 1 ? " channel" : " channels");
    if (!format.wav)
        text += ", not WAV";
    if (!format.pcm16)
        text += ", not 16-bit PCM";
    return text;
}

std::string short_read(const std::string& path, size_t got, int64_t wanted, const Reader& reader)
{
    return path + ": read " + std::to_string(got) + " of " + std::to_string(wanted) +
           " frames: " + reader.error();
}

} // namespace

Reader::~Reader()
{
    if (file_ != nullptr)
        sf_close(file_);
}

std::string Reader::open(const std::string& path)
{
    if (file_ != nullptr)
        sf_close(file_);
    SF_INFO info{};
    file_ = sf_open(path.c_str(), SFM_READ, &info);
    if (file_ == nullptr)
        return path + ": cannot open: " + sf_strerror(nullptr);
    format_.rate = info.samplerate;
    format_.channels = info.channels;
    format_.frames = info.frames;
    format_.wav = (info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV;
    format_.pcm16 = (info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16;
    return {};
}

size_t Reader::read(int16_t* samples, size_t frames)
{
    const sf_count_t got = sf_readf_short(file_, samples, static_cast<sf_count_t>(frames));
    return got > 0 ? static_cast<size_t>(got) : 0;
}

size_t Reader::read(float* samples, size_t frames)
{
    const sf_count_t got = sf_readf_float(file_, samples, static_cast<sf_count_t>(frames));
    return got > 0 ? static_cast<size_t>(got) : 0;
}

std::string Reader::error() const
{
    return sf_strerror(file_);
}

std::string read_pcm16(const std::string& path, const Shape& shape, std::vector<int16_t>& samples)
{
    Reader reader;
    std::string error = reader.open(path);
    if (!error.empty())
        return error;
    const Format& format = reader.format();
    if ((shape.wav_only && !format.wav) || !format.pcm16 || format.channels != shape.channels ||
        format.rate != shape.rate)
        return path + ": " + shape.mismatch + ", found " + describe(format);
    if (format.frames <= 0)
        return path + ": holds no samples";
    samples.assign(static_cast<size_t>(format.frames) * static_cast<size_t>(format.channels), 0);
    const size_t got = reader.read(samples.data(), static_cast<size_t>(format.frames));
    if (static_cast<int64_t>(got) != format.frames)
        return short_read(path, got, format.frames, reader);
    return {};
}

// Reading stops at `max_frames`, so that a long file costs no more than the
// part that is used.
std::string read_mono(Reader& reader, const std::string& path, size_t max_frames,
                      std::vector<float>& mono)
{
    const Format& format = reader.format();
    if (format.frames <= 0 || format.channels <= 0 || format.rate <= 0)
        return path + ": holds no samples";
    const size_t wanted = std::min(static_cast<size_t>(format.frames), max_frames);
    const size_t channels = static_cast<size_t>(format.channels);
    constexpr size_t kChunkFrames = 4096;
    std::vector<float> chunk(kChunkFrames * channels);
    mono.clear();
    mono.reserve(wanted);
    while (mono.size() < wanted) {
        const size_t got = reader.read(chunk.data(), std::min(kChunkFrames, wanted - mono.size()));
        if (got == 0)
            break;
        for (size_t i = 0; i < got; ++i) {
            double sum = 0.0;
            for (size_t c = 0; c < channels; ++c)
                sum += chunk[i * channels + c];
            const double value = sum / double(channels);
            if (!(std::fabs(value) <= kLargestSample))
                return path + ": holds samples beyond 60 dB above full scale, or not numbers";
            mono.push_back(float(value));
        }
    }
    if (mono.empty())
        return short_read(path, 0, static_cast<int64_t>(wanted), reader);
    return {};
}

Writer::~Writer()
{
    close();
}

std::string Writer::open(const std::string& path, int rate, int channels, Encoding encoding)
{
    close();
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format =
        SF_FORMAT_WAV | (encoding == Encoding::Float ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_16);
    file_ = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file_ == nullptr)
        return "cannot create " + path + ": " + sf_strerror(nullptr);
    return {};
}

bool Writer::write(const int16_t* samples, size_t frames)
{
    const sf_count_t count = static_cast<sf_count_t>(frames);
    return sf_writef_short(file_, samples, count) == count;
}

bool Writer::write(const float* samples, size_t frames)
{
    const sf_count_t count = static_cast<sf_count_t>(frames);
    return sf_writef_float(file_, samples, count) == count;
}

bool Writer::close()
{
    if (file_ == nullptr)
        return true;
    const bool closed = sf_close(file_) == 0;
    file_ = nullptr;
    return closed;
}

std::string Writer::error() const
{
    return sf_strerror(file_);
}

std::string write_pcm16(toolfiles::PendingOutput& output, int rate, int channels,
                        const std::vector<int16_t>& samples)
{
    if (!output.error().empty())
        return output.error();
    Writer writer;
    if (!writer.open(output.temp_path(), rate, channels).empty())
        return "cannot create " + output.path() + ": " + sf_strerror(nullptr);
    const bool written = writer.write(samples.data(), samples.size() / size_t(channels));
    const std::string why = written ? std::string() : writer.error();
    if (!writer.close() || !written)
        return "cannot write " + output.path() + (why.empty() ? "" : ": " + why);
    return {};
}

std::string write_pcm16_whole(const std::string& path, int rate, int channels,
                              const std::vector<int16_t>& samples)
{
    // Written beside the final file and renamed into place when complete.
    toolfiles::PendingOutput output(path);
    const std::string error = write_pcm16(output, rate, channels, samples);
    return error.empty() ? output.commit() : error;
}

} // namespace wavfile
