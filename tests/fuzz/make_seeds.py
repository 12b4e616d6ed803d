#!/usr/bin/env python3
"""Writes the seed corpora in corpus/<target>/: valid frames and requests of
the link, parameter blocks, short API scripts and small sound files. Run it
again after changing a target's input layout."""
import os
import random
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
END, ESC, ESC_END = 0xF0, 0xF1, 0xF2


def frame(content):
    content = bytes(content) + bytes([(-sum(content)) & 0xFF])
    wire = bytearray()
    for b in content:
        if b == END:
            wire += bytes([ESC, ESC_END])
        elif b == ESC:
            wire += bytes([ESC, ESC])
        else:
            wire.append(b)
    return bytes(wire) + bytes([END])


def wav(rate, channels, samples, fmt=1, bits=16):
    width = bits // 8
    if fmt == 3:
        data = b"".join(struct.pack("<f", s) for s in samples)
    else:
        data = b"".join(struct.pack("<h", s) for s in samples)
    block = channels * width
    header = struct.pack("<4sI4s4sIHHIIHH4sI", b"RIFF", 36 + len(data), b"WAVE", b"fmt ", 16, fmt,
                         channels, rate, rate * block, block, bits, b"data", len(data))
    return header + data


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def main():
    rng = random.Random(12)
    requests = [[50, 0, 0x01], [50, 0, 0x02], [50, 0, 0x0B, 7], [50, 0, 0x0C] + list(range(7)),
                [50, 0, 0x0D], [50, 0, 0x0E], [50, 0, 0x0F], [50, 0, 0x41, 0xFF],
                [50, 0, 0x41, 0x04], [50, 0, 0x40, 0x02, 1, 3, 0, 0, 0, 0, 0, 0] + [0] * 16,
                [50, 0, 0x40, 0x40, 2, 40]]
    for i, r in enumerate(requests):
        write("frame", "request%02d" % i, frame(r))
        write("board", "request%02d" % i, bytes([0x3F, 0x09]) + frame(r))
    write("frame", "escapes", frame([0xF0, 0xF1, 0xF2, 0x00]))
    write("board", "session", bytes([0x3F, 0x1B]) + b"".join(frame(r) for r in requests))
    answers = [[0, 50, 0x81], [0, 50, 0x82] + list(b"Halvane board\0"), [0, 50, 0xC1, 0x04, 0x9c, 0xff],
               [0, 50, 0x8D] + list(range(7))]
    for i, a in enumerate(answers):
        write("panel_receive", "answer%02d" % i, bytes([0, 0, 50, a[2] & 0x7F]) + frame(a))
    write("panel_receive", "text", bytes([1, 0, 40, 0]) + b"OK\rangle 90\r")
    write("panel_receive", "stale", bytes([0, 0, 50, 0x41]) + frame(answers[0]) + frame(answers[2]))
    for mask in (0x01, 0x04, 0x46, 0xFF):
        write("parameter_block", "mask%02x" % mask, bytes([mask]) + bytes(rng.randrange(256) for _ in range(150)))
    for target, count, length in (("pdm_filter", 6, 400), ("veldra_api", 8, 300), ("ostrel_api", 8, 300)):
        for i in range(count):
            write(target, "random%02d" % i, bytes(rng.randrange(256) for _ in range(length)))
    tone = [int(8000 * ((i * 37) % 100 - 50) / 50) for i in range(320)]
    write("tool_readers", "mono16k", bytes([20]) + wav(16000, 1, tone))
    write("tool_readers", "stereo16k", bytes([20]) + wav(16000, 2, tone))
    write("tool_readers", "stereo48k", bytes([5]) + wav(48000, 2, tone))
    write("tool_readers", "rate1hz", bytes([200]) + wav(1, 1, tone[:64]))
    write("tool_readers", "float8k", bytes([50]) + wav(8000, 1, [s / 32768 for s in tone], fmt=3, bits=32))
    write("tool_readers", "header_only", bytes([1]) + wav(16000, 1, []))


if __name__ == "__main__":
    main()
