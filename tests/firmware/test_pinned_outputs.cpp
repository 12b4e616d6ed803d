// Every fixed scenario's output, compared with the committed digest: a
// changed constant or operator anywhere in either library changes some
// stream. Regenerate the file only for an intended change of the numbers
// (build/bin/host_vectors pin tests/firmware/pinned_outputs.txt).
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "pinned_outputs.h"
#include "scenarios.h"

namespace fwvectors
{
namespace
{

class Stream final : public RunObserver
{
  public:
    uint32_t now() override { return 0; }
    void timed(Call, uint32_t, uint32_t) override {}
    bool output(const void* data, size_t size) override
    {
        const uint8_t* from = static_cast<const uint8_t*>(data);
        bytes.insert(bytes.end(), from, from + size);
        return true;
    }
    std::vector<uint8_t> bytes;
};

std::string window_text(const PinnedOutput& pin)
{
    std::string text;
    for (int16_t word : pin.window)
        text += ' ' + std::to_string(word);
    return text;
}

TEST(PinnedOutputs, EveryScenarioMatchesItsDigest)
{
    std::ifstream file(PINNED_OUTPUTS_FILE);
    ASSERT_TRUE(file) << PINNED_OUTPUTS_FILE;
    const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    std::map<std::string, PinnedOutput> pinned;
    std::string error;
    ASSERT_TRUE(parse_pinned(text, pinned, error)) << error;
    EXPECT_EQ(pinned.size(), kScenarioCount) << "scenarios and pinned outputs differ in number";

    for (size_t i = 0; i < kScenarioCount; ++i) {
        const Scenario& s = kScenarios[i];
        Stream stream;
        ASSERT_TRUE(run_scenario(s, stream)) << s.name;
        const auto expected = pinned.find(s.name);
        if (expected == pinned.end()) {
            ADD_FAILURE() << s.name << " has no pinned output";
            continue;
        }
        const PinnedOutput got = pin_output(stream.bytes);
        EXPECT_EQ(got.bytes, expected->second.bytes) << s.name;
        EXPECT_EQ(got.digest, expected->second.digest)
            << s.name << ": middle words" << window_text(got) << ", pinned"
            << window_text(expected->second);
    }
}

} // namespace
} // namespace fwvectors
