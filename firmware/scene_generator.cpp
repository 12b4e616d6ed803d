#include "scene_generator.h"

namespace fwvectors
{
namespace
{

// Phase step of a tone of `hertz` at `rate` samples per second.
uint32_t phase_step(uint32_t hertz, uint32_t rate)
{
    return (uint32_t)(((uint64_t)hertz << 32) / rate);
}

int32_t tone(uint32_t t, uint32_t hertz, uint32_t rate, int32_t amplitude)
{
    return (int32_t)(((int64_t)parabolic_sine(t * phase_step(hertz, rate)) * amplitude) >> 15);
}

// Bursts: on for `on_ms` of every `period_ms`, with 16 ms linear ramps; Q15.
int32_t burst_envelope(uint32_t t, uint32_t rate, uint32_t period_ms, uint32_t on_ms)
{
    uint32_t ms_x16 = (uint32_t)(((uint64_t)t * 16000u / rate) % (period_ms * 16u));
    uint32_t on_x16 = on_ms * 16u;
    if (ms_x16 >= on_x16)
        return 0;
    uint32_t edge = ms_x16 < on_x16 - ms_x16 ? ms_x16 : on_x16 - ms_x16;
    return edge >= 256u ? 32767 : (int32_t)(edge * 128u);
}

int32_t noise(uint32_t &state, int32_t amplitude)
{
    int32_t uniform = (int32_t)(next_random(state) >> 16) - 32768;
    return (int32_t)(((int64_t)uniform * amplitude) >> 15);
}

int16_t clamp16(int32_t v)
{
    return (int16_t)(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
}

} // namespace

int32_t parabolic_sine(uint32_t phase)
{
    int64_t x = (int64_t)(phase >> 16) - 32768; // -1..1 in Q15
    int64_t magnitude = x < 0 ? -x : x;
    int64_t y = (4 * x * (32768 - magnitude)) >> 15;
    return (int32_t)(y > 32767 ? 32767 : y);
}

uint32_t next_random(uint32_t &state)
{
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

TwoMicrophoneScene::TwoMicrophoneScene(uint32_t rate, uint32_t travel)
    : rate_(rate), travel_(travel)
{
}

int32_t TwoMicrophoneScene::talker(uint32_t t) const
{
    int32_t voice =
        tone(t, 523, rate_, 9000) + tone(t, 1570, rate_, 4500) + tone(t, 2890, rate_, 1500);
    return (int32_t)(((int64_t)voice * burst_envelope(t, rate_, 500, 300)) >> 15);
}

int32_t TwoMicrophoneScene::interferer(uint32_t t) const
{
    return tone(t, 3100, rate_, 5000) + tone(t, 910, rate_, 3000);
}

// The talker reaches the first microphone first, the interferer the second.
int32_t TwoMicrophoneScene::mic1_sample(uint32_t t)
{
    return talker(t + travel_) + interferer(t) + noise(noise1_, 1500);
}

int32_t TwoMicrophoneScene::mic2_sample(uint32_t t)
{
    return talker(t) + interferer(t + travel_) + noise(noise2_, 1500);
}

// First-order sigma-delta modulator; true for a one bit.
bool TwoMicrophoneScene::modulate(int32_t sample, int32_t &integrator)
{
    bool one = integrator >= 0;
    integrator += sample - (one ? 32767 : -32768);
    return one;
}

void TwoMicrophoneScene::next_pdm(uint8_t *mic1, uint8_t *mic2, size_t stride)
{
    size_t bytes = rate_ / 8000u;
    for (size_t i = 0; i < bytes; ++i) {
        uint8_t byte1 = 0, byte2 = 0;
        for (int bit = 0; bit < 8; ++bit, ++time_) {
            byte1 = (uint8_t)((byte1 << 1) | modulate(mic1_sample(time_), integrator1_));
            byte2 = (uint8_t)((byte2 << 1) | modulate(mic2_sample(time_), integrator2_));
        }
        size_t at = stride > 1 ? i * stride : (i ^ 1u); // swap within 16-bit words
        mic1[at] = byte1;
        mic2[at] = byte2;
    }
}

void TwoMicrophoneScene::next_pcm(int16_t *mic1, int16_t *mic2)
{
    for (size_t i = 0; i < 16; ++i, ++time_) {
        mic1[i] = clamp16(mic1_sample(time_));
        mic2[i] = clamp16(mic2_sample(time_));
    }
}

int32_t EchoScene::far_end(uint32_t t)
{
    int32_t music = tone(t, 700, 16000, 7000) + tone(t, 2300, 16000, 2500);
    int32_t bursts = (int32_t)(((int64_t)music * burst_envelope(t, 16000, 700, 550)) >> 15);
    return bursts + noise(far_noise_, 2500);
}

int32_t EchoScene::near_end(uint32_t t) const
{
    // Double talk: a talker near the microphone in the second half of each 3 s.
    if ((t / 16000u) % 3u != 2u)
        return 0;
    int32_t voice = tone(t, 380, 16000, 5000) + tone(t, 1210, 16000, 2000);
    return (int32_t)(((int64_t)voice * burst_envelope(t, 16000, 400, 260)) >> 15);
}

// Room echo: three reflections of the loudspeaker signal; after a change,
// three others (the loudspeaker or the board was moved).
int32_t EchoScene::echo() const
{
    auto past = [this](uint32_t delay) { return (int32_t)history_[(time_ - delay) % kHistory]; };
    if (change_at_ > 0 && time_ >= change_at_)
        return (past(23) * 14746 + past(131) * 11469 - past(201) * 6554) >> 15;
    return (past(40) * 19661 - past(97) * 9830 + past(230) * 4915) >> 15;
}

void EchoScene::next(int16_t *mic, int16_t *ref)
{
    for (size_t i = 0; i < 16; ++i, ++time_) {
        int16_t loudspeaker = clamp16(far_end(time_));
        history_[time_ % kHistory] = loudspeaker;
        ref[i] = loudspeaker;
        mic[i] = clamp16(echo() + near_end(time_) + noise(mic_noise_, 300));
    }
}

} // namespace fwvectors
