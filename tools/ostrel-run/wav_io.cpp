#include "wav_io.h"

#include <sndfile.h>

#include "output_files.h"

namespace
{

class SndFile
{
  public:
    SndFile(const std::string& path, int mode, SF_INFO& info)
        : file_(sf_open(path.c_str(), mode, &info))
    {
    }
    ~SndFile()
    {
        if (file_ != nullptr)
            sf_close(file_);
    }
    SndFile(const SndFile&) = delete;
    SndFile& operator=(const SndFile&) = delete;
    SNDFILE* get() const { return file_; }

  private:
    SNDFILE* file_;
};

std::string describe_format(const SF_INFO& info)
{
    std::string text = std::to_string(info.samplerate) + " Hz, " + std::to_string(info.channels) +
                       (info.channels == 1 ? " channel" : " channels");
    if ((info.format & SF_FORMAT_TYPEMASK) != SF_FORMAT_WAV)
        text += ", not WAV";
    if ((info.format & SF_FORMAT_SUBMASK) != SF_FORMAT_PCM_16)
        text += ", not 16-bit PCM";
    return text;
}

} // namespace

std::string read_wav16(const std::string& path, std::vector<int16_t>& samples)
{
    SF_INFO info{};
    SndFile file(path, SFM_READ, info);
    if (file.get() == nullptr)
        return path + ": cannot open: " + sf_strerror(nullptr);
    const bool wav = (info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV;
    const bool pcm16 = (info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16;
    if (!wav || !pcm16 || info.channels != 1 || info.samplerate != kWavSampleRate) {
        return path + ": expected a 16000 Hz mono 16-bit PCM WAV file, found " +
               describe_format(info);
    }
    if (info.frames <= 0)
        return path + ": holds no samples";
    samples.assign(static_cast<size_t>(info.frames), 0);
    const sf_count_t got = sf_read_short(file.get(), samples.data(), info.frames);
    if (got != info.frames) {
        return path + ": read " + std::to_string(got) + " of " + std::to_string(info.frames) +
               " samples: " + sf_strerror(file.get());
    }
    return {};
}

std::string write_wav16(const std::string& path, const std::vector<int16_t>& samples)
{
    // Written beside the final file and renamed into place when complete, so
    // that a failure leaves no half-written output.
    toolfiles::PendingOutput pending(path);
    if (!pending.error().empty())
        return pending.error();
    SF_INFO info{};
    info.samplerate = kWavSampleRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(pending.temp_path().c_str(), SFM_WRITE, &info);
    if (file == nullptr)
        return path + ": cannot create: " + sf_strerror(nullptr);
    const sf_count_t count = static_cast<sf_count_t>(samples.size());
    const bool written = sf_write_short(file, samples.data(), count) == count;
    const std::string write_error = written ? std::string() : sf_strerror(file);
    if (sf_close(file) != 0 || !written)
        return path + ": write failed: " + write_error;
    return pending.commit();
}
