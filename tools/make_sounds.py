#!/usr/bin/env python3
"""Writes the program's three short notification sounds into resources/sounds/.

101: one finished download (a short high chime), 102: the whole list finished (a rising
three-note figure), 103: a failure (two low falling tones). 16-bit mono, 22050 Hz.
"""
import math
import struct
import wave
from pathlib import Path

RATE = 22050


def tone(freq, seconds, volume=0.45):
    n = int(RATE * seconds)
    fade = int(RATE * 0.01)
    out = []
    for i in range(n):
        env = min(1.0, i / fade, (n - i) / fade)
        out.append(volume * env * math.sin(2 * math.pi * freq * i / RATE))
    return out


def silence(seconds):
    return [0.0] * int(RATE * seconds)


SOUNDS = {
    101: tone(1318.5, 0.12) + silence(0.02) + tone(1760.0, 0.16),
    102: tone(523.25, 0.12) + tone(659.25, 0.12) + tone(783.99, 0.12) + tone(1046.5, 0.25),
    103: tone(392.0, 0.18) + silence(0.04) + tone(261.63, 0.30),
}


def main():
    folder = Path(__file__).resolve().parent.parent / "resources" / "sounds"
    folder.mkdir(parents=True, exist_ok=True)
    for number, samples in SOUNDS.items():
        with wave.open(str(folder / f"{number}.wav"), "wb") as w:
            w.setnchannels(1)
            w.setsampwidth(2)
            w.setframerate(RATE)
            w.writeframes(b"".join(struct.pack("<h", int(s * 32767)) for s in samples))


if __name__ == "__main__":
    main()
