#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "scenarios.h"

namespace fwvectors
{
namespace
{

class Recorder final : public RunObserver
{
  public:
    uint32_t now() override { return ++ticks; }
    void timed(Call call, uint32_t start, uint32_t end) override
    {
        EXPECT_LT(start, end);
        ++calls[static_cast<int>(call)];
    }
    bool output(const void* data, size_t bytes) override
    {
        const uint8_t* from = static_cast<const uint8_t*>(data);
        stream.insert(stream.end(), from, from + bytes);
        return true;
    }
    uint32_t ticks = 0;
    int calls[static_cast<int>(Call::Count)] = {};
    std::vector<uint8_t> stream;
};

// Output as 16-bit samples, for the library scenarios.
std::vector<int16_t> samples(const std::vector<uint8_t>& bytes)
{
    std::vector<int16_t> s(bytes.size() / 2);
    std::memcpy(s.data(), bytes.data(), s.size() * 2);
    return s;
}

// The target's outputs are only comparable with the host's if a run depends
// on nothing but its scenario: a second run after other scenarios (other
// memory contents, other library state) must give the same bytes. A run must
// also produce real signal and the calls the timing table expects.
TEST(Scenarios, RunsAreReproducibleAndCarrySignal)
{
    std::vector<std::vector<uint8_t>> first(kScenarioCount);
    for (size_t i = 0; i < kScenarioCount; ++i) {
        Recorder recorder;
        ASSERT_TRUE(run_scenario(kScenarios[i], recorder)) << kScenarios[i].name;
        first[i] = recorder.stream;
    }
    for (size_t i = kScenarioCount; i-- > 0;) {
        const Scenario& s = kScenarios[i];
        Recorder recorder;
        ASSERT_TRUE(run_scenario(s, recorder)) << s.name;
        EXPECT_EQ(recorder.stream.size(), first[i].size()) << s.name;
        size_t differ = std::mismatch(recorder.stream.begin(), recorder.stream.end(),
                                      first[i].begin(), first[i].end())
                            .first -
                        recorder.stream.begin();
        EXPECT_EQ(differ, recorder.stream.size())
            << s.name << " differs on a second run from byte " << differ;
        if (s.library == Library::Fft) {
            EXPECT_EQ(recorder.calls[static_cast<int>(Call::Fft)], 64);
            continue;
        }
        bool veldra = s.library == Library::Veldra || s.library == Library::VeldraField;
        int per_ms = veldra ? static_cast<int>(Call::FirstStep) : static_cast<int>(Call::DataInput);
        int per_block =
            veldra ? static_cast<int>(Call::SecondStep) : static_cast<int>(Call::Process);
        if (s.library != Library::AdaptiveStage) { // the canceller's frames are not timed
            EXPECT_EQ(recorder.calls[per_ms], static_cast<int>(s.milliseconds)) << s.name;
            EXPECT_EQ(recorder.calls[per_block], static_cast<int>(s.milliseconds / 8)) << s.name;
        }
        // Channel 0 after the 16 ms start-up delay must not be silent.
        std::vector<int16_t> out = samples(recorder.stream);
        size_t stride = veldra ? 2 : 1;
        int peak = 0;
        for (size_t k = 256 * stride; k < out.size(); k += stride)
            peak = std::max(peak, std::abs(static_cast<int>(out[k])));
        EXPECT_GT(peak, 100) << s.name << " output is (nearly) silent";
    }
}

} // namespace
} // namespace fwvectors
