#!/usr/bin/python3
"""Renders the listening benchmark's corpus: guitar single-note runs and strums, with the truth.

    bench/listening/corpus.py OUTDIR [--noise-db 20] [--soundfont SF2] [--no-noise] [--quick]

Writes, per piece, NAME.wav (mono, 16-bit, 22050 Hz) and NAME.json:
    {"rate": 22050, "instrument": "steel", "noise_db": null, "events": [
      {"time": 1.0, "kind": "strum"|"note", "direction": "down"|"up"|null, "spread_ms": 40,
       "voicing": "C", "chord": {"root": "C", "quality": "major", "bass": ""} | null,
       "expected": [{"midi": 48, "string": 5, "fret": 3}, ...],
       "played":   [{"midi": 48, "string": 5, "fret": 3, "time": 1.0}, ...],
       "fault": null | {"kind": "muted"|"wrong", "string": 5, "expected": 48, "played": 49|null}}]}
`time` of an event is its first sounding note. Strings count 1 = high e .. 6 = low E.

Pieces:
  runs-INSTR-BPM-8|16  single notes at 70..150 bpm in eighths or sixteenths, a random walk over
                       E2..E5 with repeated pitches, on nylon, steel, clean electric and
                       overdriven guitar (GM programs 25, 26, 28, 30).
  strums-INSTR         every voicing of VOICINGS (open, barre, power, seventh, sus, add9, dim,
                       aug) down and up, spread 10..70 ms; about a fifth with one string muted,
                       a fifth with one string a fret too high.
  NAME-snrDB           each piece again with white noise at DB dB below its sounding level
                       (unless --no-noise).

Timing truth: fluidsynth starts a note at the 64-sample block after the one in which its MIDI
player (millisecond clock) reaches the event, so every time given is that block's first sample,
not the MIDI time (up to 5.8 ms earlier). Everything is seeded: the corpus is the same each run.
Tune only on the default soundfont (TimGM6mb); others are for independent checks.
Needs Debian's fluidsynth, timgm6mb-soundfont and python3-numpy (scripts/setup installs them).
"""
import argparse
import json
import os
import struct
import subprocess
import sys
import tempfile
import wave

import numpy as np

RATE = 22050
BLOCK = 64  # fluidsynth's rendering block
SOUNDFONT = "/usr/share/sounds/sf2/TimGM6mb.sf2"
INSTRUMENTS = {"nylon": 24, "steel": 25, "electric": 27, "overdriven": 29}  # 0-based GM programs
OPEN_STRINGS = {6: 40, 5: 45, 4: 50, 3: 55, 2: 59, 1: 64}  # string -> MIDI of the open string
NAMES = ["C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"]

# name, frets from the low E string to the high e (None: not played), root, quality.
VOICINGS = [
    # open
    ("C", [None, 3, 2, 0, 1, 0], "C", "major"), ("A", [None, 0, 2, 2, 2, 0], "A", "major"),
    ("G", [3, 2, 0, 0, 0, 3], "G", "major"), ("E", [0, 2, 2, 1, 0, 0], "E", "major"),
    ("D", [None, None, 0, 2, 3, 2], "D", "major"), ("Am", [None, 0, 2, 2, 1, 0], "A", "m"),
    ("Em", [0, 2, 2, 0, 0, 0], "E", "m"), ("Dm", [None, None, 0, 2, 3, 1], "D", "m"),
    ("D/F#", [2, None, 0, 2, 3, 2], "D", "major"),
    # barre
    ("F", [1, 3, 3, 2, 1, 1], "F", "major"), ("Bm", [None, 2, 4, 4, 3, 2], "B", "m"),
    ("F#m", [2, 4, 4, 2, 2, 2], "F#", "m"), ("B", [None, 2, 4, 4, 4, 2], "B", "major"),
    ("A#", [None, 1, 3, 3, 3, 1], "A#", "major"), ("Cm", [None, 3, 5, 5, 4, 3], "C", "m"),
    ("Gm", [3, 5, 5, 3, 3, 3], "G", "m"), ("C#m", [None, 4, 6, 6, 5, 4], "C#", "m"),
    ("G#", [4, 6, 6, 5, 4, 4], "G#", "major"),
    # power
    ("E5", [0, 2, 2, None, None, None], "E", "5"), ("A5", [None, 0, 2, 2, None, None], "A", "5"),
    ("G5", [3, 5, 5, None, None, None], "G", "5"), ("D5", [None, None, 0, 2, 3, None], "D", "5"),
    ("C5", [None, 3, 5, 5, None, None], "C", "5"), ("F5", [1, 3, 3, None, None, None], "F", "5"),
    # seventh
    ("G7", [3, 2, 0, 0, 0, 1], "G", "7"), ("C7", [None, 3, 2, 3, 1, 0], "C", "7"),
    ("D7", [None, None, 0, 2, 1, 2], "D", "7"), ("A7", [None, 0, 2, 0, 2, 0], "A", "7"),
    ("E7", [0, 2, 0, 1, 0, 0], "E", "7"), ("B7", [None, 2, 1, 2, 0, 2], "B", "7"),
    ("Am7", [None, 0, 2, 0, 1, 0], "A", "m7"), ("Em7", [0, 2, 0, 0, 0, 0], "E", "m7"),
    ("Dm7", [None, None, 0, 2, 1, 1], "D", "m7"), ("Cmaj7", [None, 3, 2, 0, 0, 0], "C", "maj7"),
    ("Fmaj7", [None, None, 3, 2, 1, 0], "F", "maj7"), ("Amaj7", [None, 0, 2, 1, 2, 0], "A", "maj7"),
    ("Dmaj7", [None, None, 0, 2, 2, 2], "D", "maj7"),
    # sus
    ("Dsus4", [None, None, 0, 2, 3, 3], "D", "sus4"), ("Dsus2", [None, None, 0, 2, 3, 0], "D", "sus2"),
    ("Asus4", [None, 0, 2, 2, 3, 0], "A", "sus4"), ("Asus2", [None, 0, 2, 2, 0, 0], "A", "sus2"),
    ("Esus4", [0, 2, 2, 2, 0, 0], "E", "sus4"),
    # add9
    ("Cadd9", [None, 3, 2, 0, 3, 3], "C", "add9"), ("Gadd9", [3, 2, 0, 2, 0, 3], "G", "add9"),
    ("Eadd9", [0, 2, 4, 1, 0, 0], "E", "add9"),
    # dim
    ("Bdim", [None, 2, 3, 4, 3, None], "B", "dim"), ("Ddim", [None, None, 0, 1, 3, 1], "D", "dim"),
    ("Edim", [0, 1, 2, 0, None, None], "E", "dim"),
    # aug
    ("Caug", [None, 3, 2, 1, 1, None], "C", "aug"), ("Eaug", [0, 3, 2, 1, 1, 0], "E", "aug"),
    ("Gaug", [3, 2, 1, 0, 0, 3], "G", "aug"), ("Aaug", [None, 0, 3, 2, 2, 1], "A", "aug"),
]


# ---------------------------------------------------------------- MIDI and rendering

def variable_length(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.insert(0, (value & 0x7F) | 0x80)
        value >>= 7
    return bytes(out)


def write_midi(path, program, notes):
    """notes: (on_ms, off_ms, midi, velocity). One channel; ticks are milliseconds. Note-offs
    sort before note-ons at the same tick so that a repeated pitch is struck again."""
    events = [(0, 0, bytes([0xFF, 0x51, 0x03, 0x0F, 0x42, 0x40])), (0, 0, bytes([0xC0, program]))]
    for on, off, midi, velocity in notes:
        events.append((on, 2, bytes([0x90, midi, velocity])))
        events.append((off, 1, bytes([0x80, midi, 0])))
    events.sort(key=lambda e: (e[0], e[1]))
    data, last = b"", 0
    for ms, _, body in events:
        data += variable_length(ms - last) + body
        last = ms
    data += variable_length(1000) + b"\xff\x2f\x00"
    with open(path, "wb") as out:
        out.write(b"MThd" + struct.pack(">IHHH", 6, 0, 1, 1000))
        out.write(b"MTrk" + struct.pack(">I", len(data)) + data)


def sounding_sample(ms):
    """The first sample of a note whose MIDI time is `ms`: fluidsynth's player, run at the start
    of each 64-sample block with the block's time in whole ms, passes the event to the synth,
    which starts it with the next block."""
    block = (ms * RATE) // (1000 * BLOCK)
    while (block * BLOCK * 1000) // RATE < ms:
        block += 1
    while block > 0 and ((block - 1) * BLOCK * 1000) // RATE >= ms:
        block -= 1
    return (block + 1) * BLOCK


def render(folder, name, program, notes, soundfont, gain):
    mid = os.path.join(folder, name + ".mid")
    raw = os.path.join(folder, name + ".raw.wav")
    write_midi(mid, program, notes)
    subprocess.run(["fluidsynth", "-ni", "-q", "-R", "0", "-C", "0", "-g", str(gain), "-r", str(RATE),
                    "-F", raw, soundfont, mid], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with wave.open(raw, "rb") as w:
        frames = np.frombuffer(w.readframes(w.getnframes()), dtype="<i2").astype(np.float64) / 32768.0
        channels = w.getnchannels()
    os.remove(mid)
    os.remove(raw)
    return frames.reshape(-1, channels).mean(axis=1)


def write_wav(path, samples):
    peak = np.abs(samples).max()
    if peak > 0.99:
        print(f"corpus: {os.path.basename(path)} peaks at {peak:.2f}, scaled down", file=sys.stderr)
        samples = samples * (0.99 / peak)
    data = np.clip(np.round(samples * 32767.0), -32768, 32767).astype("<i2")
    with wave.open(path, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(data.tobytes())


def with_noise(samples, snr_db, rng):
    """White noise snr_db below the RMS of the piece's sounding 50 ms frames."""
    frame = RATE // 20
    usable = samples[: samples.size // frame * frame].reshape(-1, frame)
    rms = np.sqrt((usable ** 2).mean(axis=1))
    sounding = rms[rms > rms.max() * 10 ** (-40 / 20)]
    level = np.sqrt((sounding ** 2).mean()) / 10 ** (snr_db / 20)
    return samples + rng.standard_normal(samples.size) * level


# ---------------------------------------------------------------- the pieces

def place(midi):
    """A plausible string and fret for a single note: the lowest fret that reaches it."""
    options = [(midi - OPEN_STRINGS[s], s) for s in OPEN_STRINGS if 0 <= midi - OPEN_STRINGS[s] <= 19]
    fret, string = min(options)
    return string, fret


def run_piece(rng, bpm, per_beat, count):
    """A random walk over a major scale, E2..E5, with repeated pitches; (notes, events)."""
    step_ms = 60000.0 / bpm / per_beat
    scale = [m for m in range(40, 77) if (m - 40) % 12 in (0, 2, 4, 5, 7, 9, 11)]
    index = int(rng.integers(3, len(scale) - 3))
    notes, events = [], []
    start = 800.0
    for i in range(count):
        if i > 0 and rng.random() > 0.3:
            index = int(np.clip(index + rng.choice([-3, -2, -1, 1, 2, 3, 5, -5]), 0, len(scale) - 1))
        midi = scale[index]
        on = int(round(start + i * step_ms + rng.uniform(-3, 3)))
        off = int(round(start + (i + 0.9) * step_ms))
        notes.append((on, off, midi, int(rng.integers(60, 115))))
        string, fret = place(midi)
        time = sounding_sample(on) / RATE
        note = {"midi": midi, "string": string, "fret": fret}
        events.append({"time": round(time, 6), "kind": "note", "direction": None, "spread_ms": 0,
                       "voicing": None, "chord": None, "expected": [note],
                       "played": [dict(note, time=round(time, 6))], "fault": None})
    return notes, events


def strum_piece(rng):
    """Every voicing down and up, each strum held until the next; (notes, events)."""
    notes, events = [], []
    order = [(v, d) for v in VOICINGS for d in ("down", "up")]
    rng.shuffle(order)
    ms = 800
    held = []
    for (name, frets, root, quality), direction in order:
        strings = [(6 - i, OPEN_STRINGS[6 - i] + f, f) for i, f in enumerate(frets) if f is not None]
        if direction == "up":
            strings.reverse()
        expected = [{"midi": m, "string": s, "fret": f} for s, m, f in sorted(strings, key=lambda x: -x[0])]
        played_strings = list(strings)
        fault = None
        roll = rng.random()
        if roll < 0.4:
            victim = int(rng.integers(0, len(strings)))
            s, m, f = strings[victim]
            if roll < 0.2:
                fault = {"kind": "muted", "string": s, "expected": m, "played": None}
                played_strings.pop(victim)
            else:
                fault = {"kind": "wrong", "string": s, "expected": m, "played": m + 1}
                played_strings[victim] = (s, m + 1, f + 1)
        spread = float(rng.uniform(10, 70))
        gap = spread / max(1, len(strings) - 1)
        # The previous chord stops as this one starts (the hand comes down on the strings).
        for on, _, midi, velocity in held:
            notes.append((on, ms - 5, midi, velocity))
        held = []
        played = []
        first = None
        for k, (s, m, f) in enumerate(strings):
            if fault is not None and fault["kind"] == "muted" and s == fault["string"]:
                continue  # the pick passes over the muted string
            actual = next(p for p in played_strings if p[0] == s)
            on = int(round(ms + k * gap + rng.uniform(-0.15, 0.15) * gap))
            velocity = int(np.clip(rng.normal(92 if direction == "down" else 84, 10), 50, 124))
            held.append((on, None, actual[1], velocity))
            time = sounding_sample(on) / RATE
            first = time if first is None else min(first, time)
            played.append({"midi": actual[1], "string": s, "fret": actual[2], "time": round(time, 6)})
        bass = NAMES[min(m for _, m, _ in strings) % 12]
        events.append({"time": round(first, 6), "kind": "strum", "direction": direction,
                       "spread_ms": round(spread, 1), "voicing": name,
                       "chord": {"root": root, "quality": quality, "bass": "" if bass == root else bass},
                       "expected": expected, "played": played, "fault": fault})
        ms += int(rng.uniform(900, 1600))
    for on, _, midi, velocity in held:
        notes.append((on, ms, midi, velocity))
    return notes, events


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("outdir")
    parser.add_argument("--noise-db", type=float, default=20.0, help="SNR of the noisy copies")
    parser.add_argument("--no-noise", action="store_true", help="no noisy copies")
    parser.add_argument("--soundfont", default=SOUNDFONT)
    parser.add_argument("--quick", action="store_true", help="a small subset, for trying things out")
    args = parser.parse_args()
    os.makedirs(args.outdir, exist_ok=True)
    rng = np.random.default_rng(14)
    noise_rng = np.random.default_rng(20)
    pieces = []
    tempi = [70, 90, 110, 130, 150] if not args.quick else [90, 150]
    for instrument, program in INSTRUMENTS.items():
        for bpm in tempi:
            for per_beat in (2, 4):
                notes, events = run_piece(rng, bpm, per_beat, 24 if not args.quick else 12)
                pieces.append((f"runs-{instrument}-{bpm}-{per_beat * 4}", instrument, program, notes, events, 0.6))
        notes, events = strum_piece(rng)
        if args.quick:
            events = events[:20]
            last = events[-1]["time"] * 1000 + 400
            notes = [n for n in notes if n[0] <= last]
        pieces.append((f"strums-{instrument}", instrument, program, notes, events, 0.35))
    with tempfile.TemporaryDirectory() as scratch:
        for name, instrument, program, notes, events, gain in pieces:
            samples = render(scratch, name, program, notes, args.soundfont, gain)
            copies = [(name, samples, None)]
            if not args.no_noise:
                copies.append((f"{name}-snr{args.noise_db:g}", with_noise(samples, args.noise_db, noise_rng), args.noise_db))
            for out_name, data, noise in copies:
                write_wav(os.path.join(args.outdir, out_name + ".wav"), data)
                with open(os.path.join(args.outdir, out_name + ".json"), "w") as out:
                    json.dump({"rate": RATE, "instrument": instrument, "noise_db": noise,
                               "soundfont": os.path.basename(args.soundfont), "events": events}, out, indent=1)
    print(f"corpus: {len(pieces) * (1 if args.no_noise else 2)} pieces in {args.outdir}")


if __name__ == "__main__":
    main()
