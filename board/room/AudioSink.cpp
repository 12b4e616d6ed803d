#include "AudioSink.h"

#include <cstdlib>

AudioSink::~AudioSink()
{
    Close();
}

bool AudioSink::OpenFile(const std::string& path, std::string& error)
{
    if (path.empty())
        return true;
    // Streamed as the board runs, straight into the file.
    error = file.open(path, 16000, 2);
    return error.empty();
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
    if (file.is_open())
        file.write(frames, count);
    if (player && std::fwrite(frames, 4, count, player) != count) {
        ::pclose(player);
        player = nullptr;
    }
}

void AudioSink::Close()
{
    file.close();
    if (player)
        ::pclose(player);
    player = nullptr;
}
