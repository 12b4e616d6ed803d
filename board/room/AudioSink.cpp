#include "AudioSink.h"

#include <sndfile.h>

#include <cstdlib>
#include <cstring>

AudioSink::~AudioSink()
{
    Close();
}

bool AudioSink::OpenFile(const std::string& path, std::string& error)
{
    if (path.empty())
        return true;
    SF_INFO info;
    std::memset(&info, 0, sizeof info);
    info.samplerate = 16000;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        error = "cannot create " + path + ": " + sf_strerror(nullptr);
        return false;
    }
    return true;
}

// A short silent test tone first: `play` fails at once without a device,
// and then there is nothing to pipe into.
bool AudioSink::OpenPlayer(std::string& error)
{
    if (std::system("command -v play >/dev/null 2>&1") != 0) {
        error = "no player: install sox to hear the board (--play ignored)";
        return false;
    }
    if (std::system("play -q -n trim 0 0.05 >/dev/null 2>&1") != 0) {
        error = "no sound device: nothing can be played here (--play ignored; --audio-out still "
                "records)";
        return false;
    }
    player = ::popen("play -q -t raw -r 16000 -e signed-integer -b 16 -c 2 - 2>/dev/null", "w");
    if (player == nullptr) {
        error = "cannot start play (--play ignored)";
        return false;
    }
    return true;
}

void AudioSink::Write(const int16_t* frames, size_t count)
{
    if (file)
        sf_writef_short(file, frames, static_cast<sf_count_t>(count));
    if (player && std::fwrite(frames, 4, count, player) != count) {
        ::pclose(player);
        player = nullptr;
    }
}

void AudioSink::Close()
{
    if (file)
        sf_close(file);
    file = nullptr;
    if (player)
        ::pclose(player);
    player = nullptr;
}
