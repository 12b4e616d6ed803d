#include "host_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <sstream>

namespace fwvectors
{
namespace
{

template <typename Value> std::vector<double> decode(const std::vector<uint8_t> &bytes)
{
    std::vector<double> values(bytes.size() / sizeof(Value));
    for (size_t i = 0; i < values.size(); ++i) {
        Value v;
        std::memcpy(&v, bytes.data() + i * sizeof(Value), sizeof(Value));
        values[i] = static_cast<double>(v);
    }
    return values;
}

bool same_bits(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b, size_t value,
               size_t width)
{
    return std::memcmp(a.data() + value * width, b.data() + value * width, width) == 0;
}

} // namespace

Comparison compare_outputs(const Scenario &scenario, const std::vector<uint8_t> &host,
                           const std::vector<uint8_t> &target)
{
    Comparison result;
    bool floats = scenario.library == Library::Fft;
    size_t width = floats ? sizeof(float) : sizeof(int16_t);
    if (host.size() != target.size()) {
        result.problem = "lengths differ: host " + std::to_string(host.size()) + " bytes, target " +
                         std::to_string(target.size()) + " bytes";
        return result;
    }
    if (host.empty() || host.size() % width != 0) {
        result.problem = "empty or truncated stream (" + std::to_string(host.size()) + " bytes)";
        return result;
    }
    std::vector<double> a = floats ? decode<float>(host) : decode<int16_t>(host);
    std::vector<double> b = floats ? decode<float>(target) : decode<int16_t>(target);
    double signal = 0, difference = 0;
    bool finite = true;
    result.values = a.size();
    for (size_t i = 0; i < a.size(); ++i) {
        if (!same_bits(host, target, i, width))
            ++result.differing;
        finite = finite && std::isfinite(a[i]) && std::isfinite(b[i]);
        double d = std::fabs(a[i] - b[i]);
        result.max_abs_difference = std::max(result.max_abs_difference, d);
        signal += a[i] * a[i];
        difference += d * d;
    }
    result.difference_db = difference == 0 ? std::numeric_limits<double>::infinity()
                                           : 10 * std::log10(signal / difference);
    if (!finite) {
        result.problem = "non-finite values";
    } else if (scenario.exact) {
        result.within_bound = result.differing == 0;
    } else {
        bool small_enough = floats || result.max_abs_difference <= scenario.max_abs_difference;
        result.within_bound = result.differing == 0 ||
                              (small_enough && result.difference_db >= scenario.min_difference_db);
    }
    return result;
}

bool parse_counts(const std::string &text, std::vector<CountRow> &rows, std::string &error)
{
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        CountRow row;
        std::string rest;
        if (!(fields >> row.scenario >> row.call >> row.calls >> row.total >> row.max >> row.min) ||
            (fields >> rest) || row.calls == 0) {
            error = "line " + std::to_string(number) + ": " + line;
            return false;
        }
        rows.push_back(row);
    }
    return true;
}

double call_budget_seconds(const std::string &call)
{
    bool per_millisecond = call == "Veldra_FirstStep" || call == "Ostrel_Data_Input";
    return per_millisecond ? 1e-3 : 8e-3;
}

double budget_share_percent(const std::string &call, uint64_t instructions)
{
    return 100.0 * static_cast<double>(instructions) / (kClockHz * call_budget_seconds(call));
}

double target_share_percent(const CountRow &row)
{
    auto has = [&](const char *part) { return row.scenario.find(part) != std::string::npos; };
    if (row.call == "Veldra_FirstStep" && has("pdm2048"))
        return 25;
    if (row.call == "Veldra_SecondStep" && has("type3"))
        return 40;
    if (row.call == "Ostrel_Process" && has("preprocess"))
        return 40;
    if (row.call == "Ostrel_Data_Input" && has("field"))
        return 5;
    return 0;
}

std::string format_count_table(const std::vector<CountRow> &rows, bool &targets_met)
{
    targets_met = true;
    std::string table =
        "| Scenario | Call | Calls | Mean instr. | Max instr. | Budget | Mean share | Max share | "
        "Target |\n|---|---|---:|---:|---:|---:|---:|---:|---|\n";
    char line[512];
    for (const CountRow &row : rows) {
        uint64_t mean = (row.total + row.calls / 2) / row.calls;
        double target = target_share_percent(row);
        double worst = budget_share_percent(row.call, row.max);
        std::string verdict = "-";
        if (target > 0) {
            bool met = worst < target;
            targets_met = targets_met && met;
            std::snprintf(line, sizeof line, "< %.0f %%: %s", target, met ? "met" : "MISSED");
            verdict = line;
        }
        std::snprintf(line, sizeof line,
                      "| %s | `%s` | %llu | %llu | %llu | %.0f ms | %.2f %% | %.2f %% | %s |\n",
                      row.scenario.c_str(), row.call.c_str(), (unsigned long long)row.calls,
                      (unsigned long long)mean, (unsigned long long)row.max,
                      call_budget_seconds(row.call) * 1e3, budget_share_percent(row.call, mean),
                      worst, verdict.c_str());
        table += line;
    }
    return table;
}

} // namespace fwvectors
