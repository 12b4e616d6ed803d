#!/usr/bin/env python3
"""Waveforms of the board's stream before and after beamforming is switched
on at 4 s: the whole recording, and the talker's and the competing
talker's parts of it, with their levels before and after the switch.
Given FIGURES.md and the machine-line program, also writes the README's
figure as a fragment for scripts/readme-figures.

usage: plot_room_recording.py FOLDER OUT.png [FIGURES.md MACHINE_LINE]"""
import os
import subprocess
import sys
import wave

import matplotlib
matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

SWITCH_S = 4.0
RATE = 16000


def channel0(path):
    with wave.open(path) as w:
        data = np.frombuffer(w.readframes(w.getnframes()), dtype=np.int16)
    return data.reshape(-1, 2)[:, 0].astype(float)


def level_db(x, first_s, last_s):
    part = x[int(first_s * RATE):int(last_s * RATE)]
    return 10 * np.log10(np.mean(part ** 2) + 1e-9)


def main():
    if len(sys.argv) not in (3, 5):
        sys.exit(__doc__)
    folder = sys.argv[1]
    mix = channel0(folder + "/room_mix.wav")
    talker = channel0(folder + "/room_talker.wav")
    other = channel0(folder + "/room_interferer.wav")
    t = np.arange(len(mix)) / RATE
    snr_before = level_db(talker, 0.5, SWITCH_S) - level_db(other, 0.5, SWITCH_S)
    snr_after = level_db(talker, SWITCH_S + 0.5, 8.0) - level_db(other, SWITCH_S + 0.5, 8.0)

    fig, axes = plt.subplots(2, 1, figsize=(8, 4.6), sharex=True)
    axes[0].plot(t, mix, color="0.3", linewidth=0.4)
    axes[0].set_title("Board stream: microphone M1, then the beam toward Direction 1", fontsize=10)
    axes[1].plot(t, other, color="tab:red", linewidth=0.4, label="competing talker (behind)")
    axes[1].plot(t, talker, color="tab:blue", linewidth=0.4, alpha=0.8, label="talker (in front)")
    axes[1].set_title("Its parts: talker to competing talker %+.1f dB before, %+.1f dB after"
                      % (snr_before, snr_after), fontsize=10)
    axes[1].legend(loc="lower left", fontsize=8)
    for ax in axes:
        ax.axvline(SWITCH_S, color="k", linestyle="--", linewidth=0.8)
        ax.set_ylabel("sample")
    axes[0].text(SWITCH_S + 0.05, 0.75 * np.max(np.abs(mix)), "beamforming on", fontsize=8)
    axes[1].set_xlabel("time (s)")
    fig.tight_layout()
    fig.savefig(sys.argv[2], dpi=110)
    print("SNR against the competing talker: %.1f dB before, %.1f dB after" % (snr_before, snr_after))
    if len(sys.argv) == 5:
        write_figures(sys.argv[3], sys.argv[4], snr_before, snr_after)


def write_figures(path, machine_line, snr_before, snr_after):
    line = subprocess.run([machine_line], check=True, stdout=subprocess.PIPE,
                          text=True).stdout.strip()
    partial = path + ".partial"
    with open(partial, "w", encoding="utf-8") as handle:
        handle.write("%s.\n\nThe talker's level relative to the competing talker rises from "
                     "%+.1f dB to %+.1f dB.\n" % (line, snr_before, snr_after))
    os.replace(partial, path)


if __name__ == "__main__":
    main()
