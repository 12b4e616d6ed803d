#include "CommandRecogniser.h"

#include <pocketsphinx.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <set>
#include <sstream>
#include <unistd.h>

#include "CpuTime.h"
#include "TalkerSpeech.h"

namespace
{

const char MODEL_DIR[] = "/usr/share/pocketsphinx/model/en-us";

// Pronunciations of the command words: those of the model's dictionary,
// and the trigger phrase's name, which it does not hold.
bool WriteDictionary(const std::string& path, std::string& error)
{
    std::set<std::string> words;
    for (const SpokenCommand& c : SpokenCommands()) {
        std::istringstream split(c.words);
        for (std::string w; split >> w;)
            words.insert(w);
    }
    std::ifstream full(std::string(MODEL_DIR) + "/cmudict-en-us.dict");
    if (!full) {
        error = std::string("no pronunciation dictionary in ") + MODEL_DIR +
                " (install pocketsphinx-en-us)";
        return false;
    }
    std::ofstream out(path);
    out << "pellowyn P EH L OW W IH N\n";
    for (std::string line; std::getline(full, line);) {
        const std::string word = line.substr(0, line.find(' '));
        const size_t variant = word.find('(');
        if (words.count(word.substr(0, variant)))
            out << line << '\n';
    }
    return static_cast<bool>(out);
}

std::string Grammar()
{
    std::string grammar = "#JSGF V1.0;\ngrammar commands;\npublic <command> = ";
    bool first = true;
    for (const SpokenCommand& c : SpokenCommands()) {
        grammar += (first ? "" : " | ") + std::string(c.words);
        first = false;
    }
    return grammar + ";\n";
}

} // namespace

int16_t CommandRecogniser::CodeOfWords(const std::string& words)
{
    for (const SpokenCommand& c : SpokenCommands())
        if (words == c.words)
            return c.code;
    return 0;
}

CommandRecogniser::~CommandRecogniser()
{
    Stop();
}

bool CommandRecogniser::Start(std::string& error)
{
    char pattern[] = "/tmp/halvane-asr-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    if (made == nullptr) {
        error = "cannot create a folder for the recogniser's grammar";
        return false;
    }
    folder = made;
    const std::string dictionary = folder + "/commands.dict";
    if (!WriteDictionary(dictionary, error))
        return false;
    const std::string hmm = std::string(MODEL_DIR) + "/en-us";
    cmd_ln_t* config =
        cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.c_str(), "-dict", dictionary.c_str(),
                    "-logfn", "/dev/null", "-samprate", "16000", nullptr);
    decoder = config ? ps_init(config) : nullptr;
    if (config)
        cmd_ln_free_r(config);
    if (decoder == nullptr) {
        error = "pocketsphinx cannot load its model from " + hmm;
        return false;
    }
    if (ps_set_jsgf_string(decoder, "commands", Grammar().c_str()) != 0 ||
        ps_set_search(decoder, "commands") != 0) {
        error = "pocketsphinx refused the command grammar";
        ps_free(decoder);
        decoder = nullptr;
        return false;
    }
    worker = std::thread(&CommandRecogniser::Decode, this);
    return true;
}

void CommandRecogniser::Stop()
{
    {
        std::lock_guard<std::mutex> guard(lock);
        stopping = true;
    }
    wake.notify_all();
    if (worker.joinable())
        worker.join();
    if (decoder)
        ps_free(decoder);
    decoder = nullptr;
    if (!folder.empty()) {
        std::remove((folder + "/commands.dict").c_str());
        ::rmdir(folder.c_str());
        folder.clear();
    }
}

void CommandRecogniser::Feed(const int16_t* samples, size_t count)
{
    {
        std::lock_guard<std::mutex> guard(lock);
        queue.insert(queue.end(), samples, samples + count);
    }
    wake.notify_one();
}

size_t CommandRecogniser::Backlog()
{
    std::lock_guard<std::mutex> guard(lock);
    return queue.size();
}

void CommandRecogniser::Finish(bool& inUtterance)
{
    ps_end_utt(decoder);
    inUtterance = false;
    int32 score = 0;
    const char* hypothesis = ps_get_hyp(decoder, &score);
    const int16_t code = hypothesis ? CodeOfWords(hypothesis) : 0;
    if (code != 0) {
        lastCommand = code;
        ++heard;
    }
}

// Decodes in chunks of 100 ms; an utterance ends when the decoder's voice
// detector has left speech.
void CommandRecogniser::Decode()
{
    const double startCpu = threadCpuSeconds();
    std::vector<int16_t> chunk;
    bool started = false, inUtterance = false;
    ps_start_utt(decoder);
    started = true;
    for (;;) {
        {
            std::unique_lock<std::mutex> guard(lock);
            wake.wait(guard, [this] { return stopping || queue.size() >= 1600; });
            if (stopping)
                break;
            chunk.assign(queue.begin(), queue.begin() + 1600);
            queue.erase(queue.begin(), queue.begin() + 1600);
        }
        if (!started) {
            ps_start_utt(decoder);
            started = true;
        }
        ps_process_raw(decoder, chunk.data(), chunk.size(), FALSE, FALSE);
        const bool speech = ps_get_in_speech(decoder) != 0;
        if (speech)
            inUtterance = true;
        if (!speech && inUtterance) {
            Finish(inUtterance);
            started = false;
        }
        cpuSeconds = threadCpuSeconds() - startCpu;
    }
    if (started)
        ps_end_utt(decoder);
}
