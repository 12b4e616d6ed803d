/*
 * Host side of the Cortex-M7 check: comparison of the emulated target's
 * output streams with the host build's, and the instruction-count table
 * against the 216 MHz budgets.
 */
#ifndef FIRMWARE_HOST_REPORT_H
#define FIRMWARE_HOST_REPORT_H

#include <cstdint>
#include <string>
#include <vector>

#include "scenarios.h"

namespace fwvectors
{

struct Comparison {
    size_t values = 0;    // values compared (16-bit samples or floats)
    size_t differing = 0; // values that are not bit-identical
    double max_abs_difference = 0;
    double difference_db = 0; // output energy over difference energy; inf when equal
    bool within_bound = false;
    std::string problem; // set when the streams cannot be compared
};

// Compares two output streams of a scenario: 16-bit samples, or floats for
// the transform scenario, against the scenario's bound.
Comparison compare_outputs(const Scenario &scenario, const std::vector<uint8_t> &host,
                           const std::vector<uint8_t> &target);

struct CountRow {
    std::string scenario;
    std::string call;
    uint64_t calls = 0;
    uint64_t total = 0;
    uint64_t max = 0;
    uint64_t min = 0;
};

// Parses the target's counts file: "scenario call calls total max min" per
// line, '#' starts a comment. Returns false on a malformed line.
bool parse_counts(const std::string &text, std::vector<CountRow> &rows, std::string &error);

constexpr double kClockHz = 216e6;

// Budget of one call in seconds: 1 ms for the per-millisecond calls, 8 ms
// for the per-block ones.
double call_budget_seconds(const std::string &call);

// Share of the budget, in percent, that `instructions` take at 216 MHz with
// one instruction per clock.
double budget_share_percent(const std::string &call, uint64_t instructions);

// Target share in percent for a row, or 0 when the row has none: the first
// step at 2048 kHz 25 %, the second step of type 3 and the echo canceller
// with preprocessor 40 %.
double target_share_percent(const CountRow &row);

// The table as printed by the check script; sets `targets_met` to false when
// a row's worst case exceeds its target.
std::string format_count_table(const std::vector<CountRow> &rows, bool &targets_met);

} // namespace fwvectors

#endif
