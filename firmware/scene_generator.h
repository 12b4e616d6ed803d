/*
 * Deterministic test scenes in integer arithmetic: a talker in front of two
 * microphones, an interferer behind them and uncorrelated noise, delivered
 * as PDM bit streams or as 16 kHz PCM; and a loudspeaker signal with its echo
 * and near-end speech for the echo canceller.
 */
#ifndef FIRMWARE_SCENE_GENERATOR_H
#define FIRMWARE_SCENE_GENERATOR_H

#include <stddef.h>
#include <stdint.h>

namespace fwvectors
{

// Sine approximation 4t(1 - |t|) over a full 32-bit phase, Q15.
int32_t parabolic_sine(uint32_t phase);

// Pseudo-random generator (xorshift32); never returns 0.
uint32_t next_random(uint32_t &state);

class TwoMicrophoneScene
{
  public:
    // rate: samples per second of the signal (the PDM clock, or 16000);
    // travel: microphone-to-microphone delay in samples at that rate.
    TwoMicrophoneScene(uint32_t rate, uint32_t travel);

    // One millisecond of both microphones as PDM bytes (rate / 8000 each),
    // the earliest bit the most significant. Byte-swapped within 16-bit words
    // (the higher address holds the earlier byte) unless stride > 1, where the
    // bytes of each microphone lie stride apart in address order.
    void next_pdm(uint8_t *mic1, uint8_t *mic2, size_t stride);

    // One millisecond (16 samples) of both microphones as PCM.
    void next_pcm(int16_t *mic1, int16_t *mic2);

  private:
    int32_t talker(uint32_t t) const;
    int32_t interferer(uint32_t t) const;
    int32_t mic1_sample(uint32_t t);
    int32_t mic2_sample(uint32_t t);
    bool modulate(int32_t sample, int32_t &integrator);

    uint32_t rate_;
    uint32_t travel_;
    uint32_t time_ = 0;
    uint32_t noise1_ = 0x12345678u;
    uint32_t noise2_ = 0x9ABCDEF1u;
    int32_t integrator1_ = 0;
    int32_t integrator2_ = 0;
};

class EchoScene
{
  public:
    // change_at_ms > 0: the echo path becomes another room's at that time.
    explicit EchoScene(uint32_t change_at_ms = 0) : change_at_(change_at_ms * 16u)
    {
    }

    // One millisecond (16 samples) of microphone and loudspeaker signal.
    void next(int16_t *mic, int16_t *ref);

  private:
    int32_t far_end(uint32_t t);
    int32_t near_end(uint32_t t) const;
    int32_t echo() const;

    static constexpr size_t kHistory = 256;
    int16_t history_[kHistory] = {}; // loudspeaker samples, ring
    uint32_t time_ = 0;
    uint32_t change_at_ = 0;
    uint32_t far_noise_ = 0x2468ACE1u;
    uint32_t mic_noise_ = 0x13579BDFu;
};

} // namespace fwvectors

#endif
