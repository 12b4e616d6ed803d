// A caller's working block between two guard regions that the library must
// never write.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

class GuardedBlock
{
  public:
    static constexpr size_t kGuardBytes = 256;
    static constexpr uint8_t kGuard = 0xC5;

    // `size` usable bytes, 8-byte aligned.
    explicit GuardedBlock(size_t size) : size_(size), words_((2 * kGuardBytes + size + 7) / 8 + 1)
    {
        std::memset(words_.data(), kGuard, words_.size() * 8);
    }
    void* data() { return reinterpret_cast<uint8_t*>(words_.data()) + kGuardBytes; }
    size_t size() const { return size_; }

    // Aborts when a guard byte changed.
    void check() const
    {
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(words_.data());
        const size_t total = words_.size() * 8;
        for (size_t i = 0; i < kGuardBytes; ++i)
            if (bytes[i] != kGuard)
                std::abort();
        for (size_t i = kGuardBytes + size_; i < total; ++i)
            if (bytes[i] != kGuard)
                std::abort();
    }
    // Aborts unless every usable byte still holds the fill pattern.
    void checkUntouched() const
    {
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(words_.data()) + kGuardBytes;
        for (size_t i = 0; i < size_; ++i)
            if (bytes[i] != kGuard)
                std::abort();
    }

  private:
    size_t size_;
    std::vector<uint64_t> words_;
};
