// Shared by the interface and step tests: a working block with guard words
// on both sides, and small signal helpers.
#ifndef VELDRA_TEST_INTERFACE_SUPPORT_H
#define VELDRA_TEST_INTERFACE_SUPPORT_H

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "veldra.h"
#include "veldra_internal.h"

namespace veldra_test {

constexpr uint32_t kGuardWords = 64;
constexpr uint32_t kGuardValue = 0xA5C3E10Fu;

// Handle plus a block of exactly the reported size between guard words.
struct Instance {
  VeldraHandle handle{};
  std::vector<uint32_t> storage;

  Instance(uint32_t format, uint32_t khz, uint8_t type, uint32_t second_output = 0,
           uint8_t out_channels = 2, uint8_t mic1 = 2, uint8_t mic2 = 2, uint8_t delay = 1) {
    handle.data_format = format;
    handle.sampling_frequency = khz;
    handle.mic1_channels = mic1;
    handle.mic2_channels = mic2;
    handle.out_channels = out_channels;
    handle.algorithm_type = type;
    handle.second_output = second_output;
    handle.delay_enable = delay;
    allocate();
  }

  void allocate() {
    Veldra_getMemorySize(&handle);
    storage.assign(2 * kGuardWords + handle.internal_memory_size / 4, kGuardValue);
    handle.internal_memory = storage.data() + kGuardWords;
  }

  uint32_t init() { return Veldra_Init(&handle); }

  uint32_t configure(uint16_t distance, uint32_t type, float gain = 1.0f, uint8_t volume = 0) {
    VeldraConfig cfg{};
    cfg.mic_distance = distance;
    cfg.algorithm_type = type;
    cfg.volume = volume;
    cfg.mic2_gain = gain;
    return Veldra_setConfig(&handle, &cfg);
  }

  VeldraConfig config() {
    VeldraConfig cfg{};
    Veldra_getConfig(&handle, &cfg);
    return cfg;
  }

  VeldraControl *ctrl() { return static_cast<VeldraControl *>(handle.internal_memory); }

  template <typename T>
  T *region(uint32_t offset) { return veldra_region<T>(ctrl(), offset); }

  bool guards_intact() const {
    const size_t words = storage.size();
    for (uint32_t i = 0; i < kGuardWords; ++i)
      if (storage[i] != kGuardValue || storage[words - 1 - i] != kGuardValue) return false;
    return true;
  }
};

// PCM input for the no-delay path: 16 samples then 16 delayed samples.
struct NoDelayFrame {
  int16_t mic1[32] = {};
  int16_t mic2[32] = {};
};

inline int16_t sine_sample(double amplitude, double hz, long n) {
  return (int16_t)std::lround(amplitude * std::sin(2.0 * M_PI * hz * (double)n / 16000.0));
}

}  // namespace veldra_test

#endif
