#include "pinned_outputs.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace fwvectors
{

PinnedOutput pin_output(const std::vector<uint8_t> &stream)
{
    PinnedOutput pin;
    pin.bytes = stream.size();
    pin.digest = 1469598103934665603ull;
    for (uint8_t byte : stream) {
        pin.digest ^= byte;
        pin.digest *= 1099511628211ull;
    }
    const size_t words = stream.size() / 2;
    const size_t first = words > kPinnedWindow ? (words - kPinnedWindow) / 2 : 0;
    for (size_t k = 0; k < kPinnedWindow && first + k < words; ++k)
        std::memcpy(&pin.window[k], stream.data() + 2 * (first + k), 2);
    return pin;
}

std::string format_pinned(const std::map<std::string, PinnedOutput> &pins)
{
    std::string text = "# Outputs of the fixed scenarios on the host build (bit-identical on the\n"
                       "# Cortex-M7): name, bytes, FNV-1a 64 digest, 8 words from the middle.\n"
                       "# Regenerate only for an intended change of the numbers:\n"
                       "#   build/bin/host_vectors pin tests/firmware/pinned_outputs.txt\n";
    for (const auto &[name, pin] : pins) {
        char line[256];
        int used = std::snprintf(line, sizeof line, "%s %" PRIu64 " %016" PRIx64, name.c_str(),
                                 pin.bytes, pin.digest);
        for (int16_t word : pin.window)
            used += std::snprintf(line + used, sizeof line - used, " %d", word);
        text += line;
        text += '\n';
    }
    return text;
}

bool parse_pinned(const std::string &text, std::map<std::string, PinnedOutput> &pins,
                  std::string &error)
{
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        std::string name, digest;
        PinnedOutput pin;
        fields >> name >> pin.bytes >> digest;
        for (int16_t &word : pin.window)
            fields >> word;
        char *end = nullptr;
        pin.digest = std::strtoull(digest.c_str(), &end, 16);
        if (!fields || digest.size() != 16 || *end != '\0') {
            error = "line " + std::to_string(number) + ": " + line;
            return false;
        }
        pins[name] = pin;
    }
    return true;
}

} // namespace fwvectors
