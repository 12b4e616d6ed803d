/*
 * Host half of the Cortex-M7 check.
 *   host_vectors run DIR                 outputs of every scenario, host build
 *   host_vectors compare HOST TARGET     compares the two directories
 *   host_vectors table COUNTS            instruction-count table of the target
 *   host_vectors pin FILE                writes the pinned outputs (digests)
 * Exit status 1 on any mismatch, missing output, missed target or bad input.
 */
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "host_report.h"
#include "pinned_outputs.h"
#include "scenarios.h"

namespace
{

using namespace fwvectors;

class HostObserver final : public RunObserver
{
  public:
    uint32_t now() override
    {
        return 0;
    }
    void timed(Call, uint32_t, uint32_t) override
    {
    }
    bool output(const void *data, size_t bytes) override
    {
        const uint8_t *from = static_cast<const uint8_t *>(data);
        stream.insert(stream.end(), from, from + bytes);
        return true;
    }
    std::vector<uint8_t> stream;
};

bool read_file(const std::string &path, std::vector<uint8_t> &bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

std::string output_path(const std::string &dir, const Scenario &s)
{
    return dir + "/" + s.name + ".out";
}

int run(const std::string &dir)
{
    int failures = 0;
    for (size_t i = 0; i < kScenarioCount; ++i) {
        HostObserver observer;
        bool ok = run_scenario(kScenarios[i], observer);
        std::ofstream out(output_path(dir, kScenarios[i]), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char *>(observer.stream.data()),
                  static_cast<std::streamsize>(observer.stream.size()));
        ok = ok && out.good();
        std::cout << kScenarios[i].name << (ok ? ": done\n" : ": FAILED\n");
        failures += ok ? 0 : 1;
    }
    return failures == 0 ? 0 : 1;
}

int pin(const std::string &path)
{
    std::map<std::string, PinnedOutput> pins;
    for (size_t i = 0; i < kScenarioCount; ++i) {
        HostObserver observer;
        if (!run_scenario(kScenarios[i], observer)) {
            std::fprintf(stderr, "%s: FAILED\n", kScenarios[i].name);
            return 1;
        }
        pins[kScenarios[i].name] = pin_output(observer.stream);
    }
    std::ofstream out(path, std::ios::trunc);
    out << format_pinned(pins);
    if (!out.good()) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return 1;
    }
    std::printf("pinned %zu scenarios in %s\n", pins.size(), path.c_str());
    return 0;
}

std::string describe_bound(const Scenario &s)
{
    if (s.exact)
        return "identical";
    char text[96];
    if (s.library == Library::Fft)
        std::snprintf(text, sizeof text, "difference >= %.0f dB below output", s.min_difference_db);
    else
        std::snprintf(text, sizeof text, "abs diff <= %d LSB, >= %.0f dB below output",
                      s.max_abs_difference, s.min_difference_db);
    return text;
}

int compare(const std::string &host_dir, const std::string &target_dir)
{
    int failures = 0;
    std::printf(
        "| Scenario | Values | Differing | Max abs diff | Diff below output | Bound | Result |\n"
        "|---|---:|---:|---:|---:|---|---|\n");
    for (size_t i = 0; i < kScenarioCount; ++i) {
        const Scenario &s = kScenarios[i];
        std::vector<uint8_t> host, target;
        Comparison c;
        if (!read_file(output_path(host_dir, s), host))
            c.problem = "no host output";
        else if (!read_file(output_path(target_dir, s), target))
            c.problem = "no target output";
        else
            c = compare_outputs(s, host, target);
        bool ok = c.problem.empty() && c.within_bound;
        failures += ok ? 0 : 1;
        if (!c.problem.empty()) {
            std::printf("| %s | | | | | %s | FAILED: %s |\n", s.name, describe_bound(s).c_str(),
                        c.problem.c_str());
            continue;
        }
        std::printf("| %s | %zu | %zu | %g | %s | %s | %s |\n", s.name, c.values, c.differing,
                    c.max_abs_difference,
                    c.differing == 0
                        ? "identical"
                        : (std::to_string(c.difference_db).substr(0, 5) + " dB").c_str(),
                    describe_bound(s).c_str(), ok ? "ok" : "MISMATCH");
    }
    return failures == 0 ? 0 : 1;
}

// "#stack scenario bytes" lines of the counts file.
void print_stack_depths(const std::string &counts)
{
    std::istringstream lines(counts);
    std::string line;
    bool header = false;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string tag, scenario;
        unsigned long bytes = 0;
        if (!(fields >> tag >> scenario >> bytes) || tag != "#stack")
            continue;
        if (!header)
            std::printf(
                "\n| Scenario | Deepest stack below the calling frame (bytes) |\n|---|---:|\n");
        header = true;
        std::printf("| %s | %lu |\n", scenario.c_str(), bytes);
    }
}

int table(const std::string &counts_path)
{
    std::vector<uint8_t> bytes;
    if (!read_file(counts_path, bytes)) {
        std::fprintf(stderr, "cannot read %s\n", counts_path.c_str());
        return 1;
    }
    std::vector<CountRow> rows;
    std::string error;
    if (!parse_counts(std::string(bytes.begin(), bytes.end()), rows, error) || rows.empty()) {
        std::fprintf(stderr, "malformed counts file %s: %s\n", counts_path.c_str(), error.c_str());
        return 1;
    }
    bool targets_met = true;
    std::fputs(format_count_table(rows, targets_met).c_str(), stdout);
    print_stack_depths(std::string(bytes.begin(), bytes.end()));
    std::printf("\nInstruction counts on the emulated Cortex-M7 (QEMU -icount), not cycles; "
                "shares assume one instruction per clock at 216 MHz.\n");
    if (!targets_met)
        std::printf("Targets: at least one MISSED (see the Target column).\n");
    return targets_met ? 0 : 2;
}

} // namespace

int main(int argc, char **argv)
{
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "run" && argc == 3)
        return run(argv[2]);
    if (mode == "compare" && argc == 4)
        return compare(argv[2], argv[3]);
    if (mode == "table" && argc == 3)
        return table(argv[2]);
    if (mode == "pin" && argc == 3)
        return pin(argv[2]);
    std::fprintf(stderr,
                 "usage: %s run DIR | compare HOST_DIR TARGET_DIR | table COUNTS_FILE | pin FILE\n",
                 argc > 0 ? argv[0] : "host_vectors");
    return 1;
}
