#!/usr/bin/env python3
"""Default mode against field mode, from the beam quality CSV: SNR of the
decimation (fourth-order modulator) and alias rejection per PDM clock, SNR
gain over default type 0 and target level per beam scene."""
import csv
import sys
from collections import OrderedDict

import matplotlib
matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

LIMIT_16BIT_DB = 92.7  # a -6 dB tone against 16-bit rounding, 100 Hz - 7 kHz


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: plot_field_quality.py IN.csv OUT.png")
    dec = []
    beams = OrderedDict()  # scene -> mode -> (level, snr, sisdr)
    with open(sys.argv[1], newline="") as f:
        for row in csv.reader(f):
            if row[0] == "field-decimation":
                dec.append([float(v) for v in row[1:]])
            elif row[0] == "field-beam":
                scene = ",".join(row[1:-4])  # also unquoted names holding commas
                beams.setdefault(scene, OrderedDict())[row[-4]] = tuple(map(float, row[-3:]))
    if not dec or not beams:
        sys.exit("no field rows in " + sys.argv[1])
    fig, axes = plt.subplots(2, 2, figsize=(13, 9.5))
    clocks = [str(int(r[0])) for r in dec]
    x = np.arange(len(clocks))
    ax = axes[0][0]
    ax.bar(x - 0.27, [r[4] for r in dec], 0.27, label="default")
    ax.bar(x, [r[5] for r in dec], 0.27, label="field")
    ax.bar(x + 0.27, [r[6] for r in dec], 0.27, label="ideal decimator")
    ax.axhline(LIMIT_16BIT_DB, color="k", ls="--", lw=1, label="16-bit limit")
    ax.set_xticks(x, clocks)
    ax.set_xlabel("PDM clock (kHz)")
    ax.set_ylabel("SNR (dB)")
    ax.set_title("Decimation: 1 kHz at -6 dB FS, fourth-order modulator")
    ax.legend(fontsize=8)
    ax = axes[0][1]
    ax.bar(x - 0.2, [r[11] for r in dec], 0.4, label="default")
    ax.bar(x + 0.2, [r[12] for r in dec], 0.4, label="field")
    ax.axhline(60, color="k", ls="--", lw=1, label="goal 60 dB")
    ax.set_xticks(x, clocks)
    ax.set_xlabel("PDM clock (kHz)")
    ax.set_ylabel("rejection (dB)")
    ax.set_title("Aliasing: weakest of 9, 12, 20, 25 kHz tones\n"
                 "(field at 256 kHz: at least, the modulator noise hides the rest)", fontsize=10)
    ax.legend(fontsize=8)

    scenes = list(beams)
    all_modes = list(next(iter(beams.values())))
    y = np.arange(len(scenes))
    for col, (index, title, unit) in enumerate([(1, "SNR gain over default type 0", "dB"),
                                                (0, "Target level against microphone 1", "dB")]):
        modes = [m for m in all_modes if index == 0 or m != "default type 0"]
        width = 0.8 / len(modes)
        ax = axes[1][col]
        for k, mode in enumerate(modes):
            values = []
            for s in scenes:
                v = beams[s][mode][index]
                if index == 1:
                    v -= beams[s]["default type 0"][1]
                values.append(v)
            ax.barh(y + (k - (len(modes) - 1) / 2) * width, values, width, label=mode)
        if index == 1:
            ax.axvline(15, color="k", ls="--", lw=1, label="goal +15 dB")
            ax.set_xlim(-42, 30)  # room on the left for the legend
        else:
            for v in (-1, 1):
                ax.axvline(v, color="k", ls="--", lw=1)
            ax.set_xlim(-12, 8)
        ax.set_yticks(y, scenes, fontsize=8)
        ax.invert_yaxis()
        ax.set_xlabel(unit)
        ax.set_title(title)
        ax.grid(axis="x", alpha=0.3)
        ax.legend(fontsize=7, loc="upper left" if index == 1 else "center right")
    fig.tight_layout()
    fig.savefig(sys.argv[2], dpi=110)


main()
