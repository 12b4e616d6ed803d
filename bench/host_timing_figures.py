#!/usr/bin/env python3
"""Runs the Google benchmarks that the README quotes and writes their figures
as a fragment for scripts/readme-figures: the measured-on line (from
machine-line, built with the benchmarks), then one paragraph. Each figure is
the median of three repetitions; a "most" figure is the largest such median.

usage: host_timing_figures.py OSTREL_BENCH VELDRA_BENCH MACHINE_LINE OUT [MIN_TIME_S]
"""
import json
import os
import re
import subprocess
import sys


def run(bench, pattern, min_time):
    """Every benchmark of `bench` matching `pattern`, as Google Benchmark's
    JSON entries: the median of three repetitions, so that one run disturbed
    by other load on a shared machine does not set the figure."""
    output = subprocess.run(
        [bench, "--benchmark_format=json", "--benchmark_filter=" + pattern,
         "--benchmark_min_time=" + min_time, "--benchmark_repetitions=3",
         "--benchmark_report_aggregates_only=true"],
        check=True, stdout=subprocess.PIPE, text=True).stdout
    return [e for e in json.loads(output)["benchmarks"] if e.get("aggregate_name") == "median"]


def counter(entries, name_pattern, key, pick=max):
    values = [e[key] for e in entries if re.fullmatch(name_pattern, e["name"])]
    if not values:
        raise SystemExit("host_timing_figures: no benchmark matches " + name_pattern)
    return pick(values)


def main():
    if len(sys.argv) not in (5, 6):
        sys.exit(__doc__)
    ostrel_bench, veldra_bench, machine_line, out = sys.argv[1:5]
    min_time = sys.argv[5] if len(sys.argv) == 6 else "0.2"
    ostrel = run(ostrel_bench, "BM_FftVsFftw|BM_IfftVsFftw|BM_OstrelProcess/tail:512/",
                 min_time)
    veldra = run(veldra_bench, "BM_FirstStep|BM_SecondStep", min_time)
    line = subprocess.run([machine_line], check=True, stdout=subprocess.PIPE,
                          text=True).stdout.strip()
    text = (
        "{line}.\n\n"
        "The 256-point `fft` runs at about {fft:.2f} times FFTW's single-precision real transform\n"
        "and `ifft` at {ifft:.2f} times, in the same run; one `Ostrel_Process` frame costs {p0:.2f} %\n"
        "of the 8 ms budget ({p1:.2f} % with the preprocessor); `Veldra_FirstStep` at most\n"
        "{first:.2f} % of 1 ms, `Veldra_SecondStep` at most {second:.2f} % of 8 ms.\n"
    ).format(
        line=line,
        fft=counter(ostrel, r"BM_FftVsFftw.*", "ratio"),
        ifft=counter(ostrel, r"BM_IfftVsFftw.*", "ratio"),
        p0=counter(ostrel, r"BM_OstrelProcess/tail:512/preprocess:0.*", "budget_pct"),
        p1=counter(ostrel, r"BM_OstrelProcess/tail:512/preprocess:1.*", "budget_pct"),
        first=counter(veldra, r"BM_FirstStep.*", "budget_pct"),
        second=counter(veldra, r"BM_SecondStep.*", "budget_pct"))
    partial = out + ".partial"
    with open(partial, "w", encoding="utf-8") as handle:
        handle.write(text)
    os.replace(partial, out)
    print(text, end="")


if __name__ == "__main__":
    main()
