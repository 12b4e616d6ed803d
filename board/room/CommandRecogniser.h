// Voice commands from the board's processed output: Debian's pocketsphinx
// with its US English acoustic model and a grammar holding only the
// commands the panel knows. Audio is handed over from the firmware loop and
// decoded in a thread of its own, utterance by utterance as the decoder's
// voice detector finds them.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct ps_decoder_s;

class CommandRecogniser
{
  public:
    CommandRecogniser() = default;
    ~CommandRecogniser();
    CommandRecogniser(const CommandRecogniser&) = delete;
    CommandRecogniser& operator=(const CommandRecogniser&) = delete;

    // Loads the model and the grammar and starts the decoding thread; false
    // with a reason in error when pocketsphinx or its model is missing.
    bool Start(std::string& error);
    void Stop();

    // Hands over 16 kHz samples (any count). Never blocks for long.
    void Feed(const int16_t* samples, size_t count);
    // Samples handed over but not decoded yet.
    size_t Backlog();

    // Code of the latest command and a counter that grows with each one.
    int16_t LastCommand() const { return lastCommand.load(); }
    unsigned Heard() const { return heard.load(); }
    // Thread CPU seconds spent decoding.
    double CpuSeconds() const { return cpuSeconds.load(); }

    // asrCommand code of a hypothesis ("play music" -> 11); 0 when none.
    static int16_t CodeOfWords(const std::string& words);

  private:
    void Decode();
    void Finish(bool& inUtterance);

    ps_decoder_s* decoder = nullptr;
    std::thread worker;
    std::mutex lock;
    std::condition_variable wake;
    std::deque<int16_t> queue;
    bool stopping = false;
    std::atomic<int16_t> lastCommand{0};
    std::atomic<unsigned> heard{0};
    std::atomic<double> cpuSeconds{0.0};
    std::string folder; // dictionary and grammar files
};
