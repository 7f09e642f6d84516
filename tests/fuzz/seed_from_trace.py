#!/usr/bin/env python3
"""Makes a fuzz seed of a session with the virtual printer: the bytes it sent after each write of
the driver become one piece of the printer's script (memory_line.h).

  seed_from_trace.py TRACE [FIRST LAST] [--prefix HEX] > SEED

TRACE is what `mirel-emu --trace` printed; FIRST and LAST (1-based, inclusive) keep only those
lines of it; --prefix puts the target's leading selector bytes in front.
"""
import sys


def pieces(lines):
    """A trace line is the time, the direction, the bytes in hex and, after two blanks, the text."""
    out = []
    for line in lines:
        fields = line.split(None, 2)
        if len(fields) < 3 or fields[1] not in ("<-", "->"):
            continue
        data = bytes.fromhex(fields[2].split("  ")[0])
        if fields[1] == "<-":
            out.append(bytearray())
        elif out:
            out[-1] += data
    return out


def join(parts):
    script = bytearray()
    for p in parts:
        at = 0
        while True:
            n = min(len(p) - at, 255)
            script.append(n)
            script += p[at:at + n]
            at += n
            if n < 255:
                break
    return script


def main(argv):
    prefix = b""
    if "--prefix" in argv:
        i = argv.index("--prefix")
        prefix = bytes.fromhex(argv[i + 1])
        del argv[i:i + 2]
    lines = open(argv[1], encoding="latin-1").read().splitlines()
    if len(argv) >= 4:
        lines = lines[int(argv[2]) - 1:int(argv[3])]
    sys.stdout.buffer.write(prefix + join(pieces(lines)))


if __name__ == "__main__":
    main(sys.argv)
