/*
 * Pinned outputs of the fixed scenarios: for each, the length of its output
 * stream, a 64-bit FNV-1a digest of the whole stream and eight 16-bit words
 * from its middle (shown when a digest changes). Committed as a text file,
 * so that any change of the libraries' numbers fails a test until the file
 * is regenerated on purpose (host_vectors pin FILE).
 */
#ifndef FIRMWARE_PINNED_OUTPUTS_H
#define FIRMWARE_PINNED_OUTPUTS_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace fwvectors
{

constexpr int kPinnedWindow = 8;

struct PinnedOutput {
    uint64_t bytes = 0;
    uint64_t digest = 0;
    int16_t window[kPinnedWindow] = {};
};

PinnedOutput pin_output(const std::vector<uint8_t> &stream);

// One line per scenario: "name bytes digest w0 .. w7", '#' starts a comment.
std::string format_pinned(const std::map<std::string, PinnedOutput> &pins);
bool parse_pinned(const std::string &text, std::map<std::string, PinnedOutput> &pins,
                  std::string &error);

} // namespace fwvectors

#endif
