#!/usr/bin/env python3
"""Polar plot of the beam quality CSV: one panel per frequency, the
cardioid beam for each spacing, and the adaptive type at 15 mm."""
import csv
import sys
from collections import defaultdict

import matplotlib
matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

FLOOR_DB = -40.0


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: plot_beam_quality.py IN.csv OUT.png")
    polar = defaultdict(list)  # (spacing, type, freq) -> [(angle, dB)]
    snr = {}
    with open(sys.argv[1], newline="") as f:
        for row in csv.reader(f):
            if row[0] == "polar":
                key = (float(row[1]), int(row[2]), float(row[3]))
                polar[key].append((float(row[4]), float(row[5])))
            elif row[0] == "snr":
                snr[int(row[2])] = (float(row[3]), float(row[4]))
    if not polar:
        sys.exit("no polar data in " + sys.argv[1])
    freqs = sorted({k[2] for k in polar})
    spacings = sorted({k[0] for k in polar})
    cols = 2
    rows = (len(freqs) + cols - 1) // cols
    fig, axes = plt.subplots(rows, cols, subplot_kw={"projection": "polar"},
                             figsize=(9.0, 4.6 * rows + 1.0))
    axes = np.atleast_1d(axes).ravel()
    for ax in axes[len(freqs):]:
        ax.set_visible(False)
    for ax, freq in zip(axes, freqs):
        curves = [((s, 0, freq), f"cardioid {s:g} mm", "-") for s in spacings]
        if (15.0, 2, freq) in polar:
            curves.append(((15.0, 2, freq), "adaptive 15 mm, after adapting to the one source", "--"))
        for key, label, style in curves:
            pts = sorted(polar[key])
            ang = np.array([a for a, _ in pts])
            db = np.maximum(np.array([v for _, v in pts]), FLOOR_DB)
            # The pattern is symmetric about the array axis: mirror it.
            full_ang = np.concatenate([ang, 360.0 - ang[::-1]])
            full_db = np.concatenate([db, db[::-1]])
            ax.plot(np.radians(full_ang), full_db - FLOOR_DB, style, label=label)
        ax.set_title(f"{freq:g} Hz", pad=14)
        ax.set_theta_zero_location("N")
        ticks = [0, 10, 20, 30, 40]
        ax.set_yticks(ticks)
        ax.set_yticklabels([f"{t + FLOOR_DB:g}" for t in ticks], fontsize=7)
        ax.set_ylim(0, -FLOOR_DB)
    handles, labels = axes[0].get_legend_handles_labels()
    fig.legend(handles, labels, loc="lower center", ncol=3, fontsize=8)
    title = "Beam output, dB re. front (0 deg = front), PDM 1024 kHz"
    if 0 in snr and 3 in snr:
        title += (f"\ntalker in diffuse noise: SNR type 0 {snr[0][1]:.1f} dB, "
                  f"type 3 {snr[3][1]:.1f} dB (first microphone {snr[0][0]:.1f} dB)")
    fig.suptitle(title, fontsize=10)
    fig.tight_layout(rect=(0, 0.05, 1, 1))
    fig.savefig(sys.argv[2], dpi=110)


if __name__ == "__main__":
    main()
