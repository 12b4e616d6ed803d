#include "TalkerSpeech.h"

#include <espeak-ng/speak_lib.h>

#include <cmath>
#include <mutex>

#include "scene.h"

namespace
{

int SynthCallback(short* samples, int count, espeak_EVENT* events)
{
    auto* out = static_cast<std::vector<float>*>(events->user_data);
    for (int i = 0; samples != nullptr && i < count; ++i)
        out->push_back(samples[i] / 32768.0f);
    return 0;
}

// RMS over the 20 ms frames within 40 dB of the loudest one.
double ActiveRms(const std::vector<float>& x)
{
    const size_t frame = 320;
    std::vector<double> energies;
    for (size_t at = 0; at + frame <= x.size(); at += frame) {
        double e = 0.0;
        for (size_t i = at; i < at + frame; ++i)
            e += double(x[i]) * x[i];
        energies.push_back(e / frame);
    }
    double peak = 0.0;
    for (double e : energies)
        peak = std::max(peak, e);
    double sum = 0.0;
    size_t active = 0;
    for (double e : energies) {
        if (e > peak * 1e-4) {
            sum += e;
            ++active;
        }
    }
    return active ? std::sqrt(sum / active) : 0.0;
}

} // namespace

const std::vector<SpokenCommand>& SpokenCommands()
{
    static const std::vector<SpokenCommand> commands = {{25, "hello pellowyn"},
                                                        {11, "play music"},
                                                        {7, "next song"},
                                                        {1, "song info"},
                                                        {3, "pause music"},
                                                        {4, "equalizer"},
                                                        {6, "previous song"},
                                                        {2, "stop music"},
                                                        {10, "settings"},
                                                        {8, "help me"},
                                                        {5, "cancel"},
                                                        {12, "note"},
                                                        {9, "h p w"}};
    return commands;
}

std::vector<float> SynthesiseSpeech(const std::string& text, const std::string& voice,
                                    std::string& error)
{
    static std::mutex engine; // espeak-ng keeps one global synthesiser
    std::lock_guard<std::mutex> lock(engine);
    static int rate = 0;
    if (rate == 0) {
        rate = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, espeakINITIALIZE_DONT_EXIT);
        if (rate <= 0) {
            error = "espeak-ng cannot start (is espeak-ng-data installed?)";
            rate = 0;
            return {};
        }
        espeak_SetSynthCallback(SynthCallback);
    }
    if (espeak_SetVoiceByName(voice.c_str()) != EE_OK) {
        error = "espeak-ng has no voice " + voice;
        return {};
    }
    espeak_SetParameter(espeakRATE, 150, 0);
    std::vector<float> samples;
    if (espeak_Synth(text.c_str(), text.size() + 1, 0, POS_CHARACTER, 0, espeakCHARS_AUTO, nullptr,
                     &samples) != EE_OK ||
        espeak_Synchronize() != EE_OK || samples.empty()) {
        error = "espeak-ng could not speak \"" + text + "\"";
        return {};
    }
    std::vector<float> speech = pdmscene::resampleToSourceRate(samples, rate);
    const double rms = ActiveRms(speech);
    if (rms > 0.0)
        for (float& x : speech)
            x = static_cast<float>(x / rms);
    return speech;
}
