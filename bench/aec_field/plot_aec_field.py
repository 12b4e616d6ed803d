#!/usr/bin/env python3
"""Draws the ERLE curves written by aec_field: one panel per scene, default
mode, field mode and the WebRTC peer over time.

usage: plot_aec_field.py CSV PNG
"""
import csv
import math
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

STYLE = {
    "default": ("default mode", "0.55", "-"),
    "field": ("field mode", "tab:blue", "-"),
    "webrtc": ("WebRTC AEC", "tab:red", "--"),
}


def read_curves(path):
    with open(path, newline="") as handle:
        rows = list(csv.reader(handle))
    times = [float(v) for v in rows[0][3:]]
    scenes = {}
    for row in rows[1:]:
        values = [float(v) if v else math.nan for v in row[3:]]
        scenes.setdefault(row[0], {"change": float(row[2])})[row[1]] = values
    return times, scenes


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    times, scenes = read_curves(sys.argv[1])
    names = list(scenes)
    columns = 3
    rows = math.ceil(len(names) / columns)
    figure, axes = plt.subplots(rows, columns, figsize=(13, 2.4 * rows), sharex=True, sharey=True)
    for index, name in enumerate(names):
        axis = axes.flat[index]
        scene = scenes[name]
        if name.startswith("double_talk"):
            axis.axvspan(8, 14, color="0.92")
        if scene["change"] >= 0:
            axis.axvline(scene["change"], color="0.5", linestyle=":", linewidth=1)
        for system, (label, color, dash) in STYLE.items():
            values = scene[system]
            axis.step([0.0] + times, values[:1] + values, where="pre", color=color,
                      linestyle=dash, linewidth=1.1, label=label)
        axis.set_title(name, fontsize="small")
        axis.set_ylim(-5, 60)
        axis.grid(True, alpha=0.3)
    for axis in axes.flat[len(names):]:
        axis.set_visible(False)
    for axis in axes[-1]:
        axis.set_xlabel("time (s)")
    for axis in axes[:, 0]:
        axis.set_ylabel("ERLE (dB)")
    handles, labels = axes.flat[0].get_legend_handles_labels()
    figure.legend(handles, labels, loc="upper center", ncol=3)
    figure.suptitle("ERLE per 0.25 s window while the far end is active, tail 512, 16 kHz "
                    "(grey band: double talk; dotted: path change)", y=0.965, fontsize="medium")
    figure.tight_layout(rect=(0, 0, 1, 0.94))
    figure.savefig(sys.argv[2], dpi=100)


if __name__ == "__main__":
    main()
