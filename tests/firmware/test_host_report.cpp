#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "host_report.h"
#include "scenarios.h"

namespace fwvectors
{
namespace
{

const Scenario& scenario_named(const char* name)
{
    for (size_t i = 0; i < kScenarioCount; ++i)
        if (std::strcmp(kScenarios[i].name, name) == 0)
            return kScenarios[i];
    throw std::runtime_error(name);
}

std::vector<uint8_t> samples_to_bytes(const std::vector<int16_t>& samples)
{
    std::vector<uint8_t> bytes(samples.size() * 2);
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    return bytes;
}

std::vector<int16_t> test_signal(double amplitude = 10000)
{
    std::vector<int16_t> s(4000);
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<int16_t>(amplitude * std::sin(0.01 * static_cast<double>(i)));
    return s;
}

TEST(CompareOutputs, ExactScenarioRejectsAnySingleDifference)
{
    const Scenario& exact = scenario_named("veldra_pdm1024_type0");
    ASSERT_TRUE(exact.exact);
    auto host = test_signal();
    Comparison same = compare_outputs(exact, samples_to_bytes(host), samples_to_bytes(host));
    EXPECT_TRUE(same.within_bound);
    EXPECT_EQ(same.differing, 0u);
    EXPECT_TRUE(std::isinf(same.difference_db));

    auto target = host;
    target[1234] += 1;
    Comparison off_by_one =
        compare_outputs(exact, samples_to_bytes(host), samples_to_bytes(target));
    EXPECT_FALSE(off_by_one.within_bound);
    EXPECT_EQ(off_by_one.differing, 1u);
    EXPECT_EQ(off_by_one.max_abs_difference, 1.0);
}

TEST(CompareOutputs, BoundedScenarioAcceptsRoundingButNotDrift)
{
    const Scenario& bounded = scenario_named("ostrel_tail512_preprocess");
    ASSERT_FALSE(bounded.exact);
    auto host = test_signal();
    auto rounding = host;
    for (size_t i = 0; i < rounding.size(); i += 97)
        rounding[i] += 1;
    EXPECT_TRUE(
        compare_outputs(bounded, samples_to_bytes(host), samples_to_bytes(rounding)).within_bound);

    auto step = host; // one sample far off: beyond the per-value bound
    step[10] = static_cast<int16_t>(step[10] + bounded.max_abs_difference + 1);
    EXPECT_FALSE(
        compare_outputs(bounded, samples_to_bytes(host), samples_to_bytes(step)).within_bound);

    auto quiet = test_signal(300); // small everywhere, but too much energy in total
    auto drift = quiet;
    for (size_t i = 0; i < drift.size(); ++i)
        drift[i] = static_cast<int16_t>(drift[i] + (i % 2 ? 2 : -2));
    Comparison drifted = compare_outputs(bounded, samples_to_bytes(quiet), samples_to_bytes(drift));
    EXPECT_LT(drifted.difference_db, bounded.min_difference_db);
    EXPECT_FALSE(drifted.within_bound);
}

TEST(CompareOutputs, ReportsStreamsThatCannotBeCompared)
{
    const Scenario& s = scenario_named("veldra_pdm1024_type1");
    auto host = samples_to_bytes(test_signal());
    auto shorter = host;
    shorter.resize(host.size() - 2);
    EXPECT_FALSE(compare_outputs(s, host, shorter).problem.empty());
    EXPECT_FALSE(compare_outputs(s, {}, {}).problem.empty());

    const Scenario& transform = scenario_named("fft256");
    std::vector<float> spectrum(256, 0.25f);
    std::vector<uint8_t> a(spectrum.size() * 4), b;
    std::memcpy(a.data(), spectrum.data(), a.size());
    b = a;
    EXPECT_TRUE(compare_outputs(transform, a, b).within_bound);
    spectrum[7] = std::numeric_limits<float>::quiet_NaN();
    std::memcpy(b.data(), spectrum.data(), b.size());
    Comparison with_nan = compare_outputs(transform, a, b);
    EXPECT_FALSE(with_nan.within_bound);
    EXPECT_FALSE(with_nan.problem.empty());
}

TEST(CountTable, JudgesTargetsOnTheWorstCall)
{
    // 25 % of 1 ms at 216 MHz is 54000 instructions; 40 % of 8 ms 691200.
    std::vector<CountRow> rows;
    std::string error;
    ASSERT_TRUE(parse_counts("# calibration\n"
                             "veldra_pdm2048_type3 Veldra_FirstStep 10 500000 53999 40000\n"
                             "ostrel_tail512_preprocess Ostrel_Process 4 800000 200000 200000\n",
                             rows, error))
        << error;
    ASSERT_EQ(rows.size(), 2u);
    bool met = false;
    std::string table = format_count_table(rows, met);
    EXPECT_TRUE(met) << table;
    EXPECT_NEAR(budget_share_percent("Veldra_FirstStep", 54000), 25.0, 1e-9);
    EXPECT_NEAR(budget_share_percent("Veldra_SecondStep", 691200), 40.0, 1e-9);

    rows[0].max = 54000; // exactly at the target is a miss
    format_count_table(rows, met);
    EXPECT_FALSE(met);
    CountRow untargeted;
    untargeted.scenario = "veldra_pdm1024_type0";
    untargeted.call = "Veldra_FirstStep";
    EXPECT_EQ(target_share_percent(untargeted), 0);
}

TEST(CountTable, RejectsMalformedLines)
{
    std::vector<CountRow> rows;
    std::string error;
    EXPECT_FALSE(parse_counts("scenario Veldra_FirstStep 10 500\n", rows, error));
    EXPECT_FALSE(parse_counts("scenario Veldra_FirstStep 0 0 0 0\n", rows, error));
    EXPECT_FALSE(parse_counts("scenario Veldra_FirstStep 1 2 3 4 5\n", rows, error));
}

} // namespace
} // namespace fwvectors
