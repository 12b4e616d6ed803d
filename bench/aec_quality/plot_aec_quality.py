#!/usr/bin/env python3
"""Draws the ERLE-over-time table written by aec_quality as a PNG.

usage: plot_aec_quality.py CSV PNG
"""
import csv
import math
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

LABELS = {
    "far_end_only": "far end only",
    "double_talk": "double talk (8-14 s)",
    "path_change": "echo-path change (12 s)",
    "noise": "near-end noise -41 dBFS",
    "noise_denoised": "noise, with noise and residual-echo suppression",
}


def read_table(path):
    with open(path, newline="") as handle:
        rows = list(csv.reader(handle))
    header, body = rows[0], rows[1:]
    columns = {name: [] for name in header}
    for row in body:
        for name, value in zip(header, row):
            columns[name].append(float(value) if value else math.nan)
    return header, columns


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    header, columns = read_table(sys.argv[1])
    time = columns["time_s"]
    figure, axes = plt.subplots(figsize=(10, 6))
    axes.axvspan(8, 14, color="0.9", label="_double talk")
    axes.axvline(12, color="0.6", linestyle=":", linewidth=1)
    for name in header[1:]:
        # Each value holds over its window, so the first step starts at 0.
        values = columns[name]
        axes.step([0.0] + time, values[:1] + values, where="pre",
                  label=LABELS.get(name, name))
    axes.set_xlabel("time (s); each step is the ERLE of one 0.5 s window")
    axes.set_ylabel("ERLE (dB)")
    axes.set_title("ostrel echo cancellation, tail 512 samples, 16 kHz")
    axes.set_xlim(0, time[-1])
    axes.text(11, 1, "double talk", ha="center", color="0.4")
    axes.grid(True, alpha=0.3)
    axes.legend(loc="upper center", bbox_to_anchor=(0.5, -0.12), ncol=3, fontsize="small")
    figure.tight_layout()
    figure.savefig(sys.argv[2], dpi=110)


if __name__ == "__main__":
    main()
