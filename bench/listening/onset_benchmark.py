#!/usr/bin/python3
"""Onset benchmark: tunewick-analyze --engine onsets against every aubioonset method.

Renders the listening corpus (corpus.py beside this file; TimGM6mb unless --corpus names a
folder rendered already, e.g. from another soundfont), runs `tunewick-analyze --engine onsets`
and `aubioonset -O METHOD` for hfc, complex, energy, phase, specdiff, kl, mkl and specflux on
every piece, and prints a Markdown table per part of the corpus:

  F50    F-measure with a detection matching a true onset within +-50 ms (each at most once);
         a strum's true onset is its first sounding string.
  lat    the method's constant latency: the median deviation (detected - true) of its matches
         within 50 ms over the whole corpus, clean and noisy together.
  F25    F-measure within +-25 ms once that latency is taken off every detection.
  p90    90th percentile of |deviation - latency| over the matches within +-50 ms, in ms.

aubioonset runs at the file's rate with a 512-sample window and a 128-sample hop (5.8 ms at
22050 Hz), its default threshold and silence gate, and the same 90 ms minimum inter-onset
interval as the detector (-M 0.09), so that neither is scored on splitting a strum.

With --report-delay it also feeds the clean pieces to bench_onset_delay, a hop at a time as on
the live path, and prints by instrument how long after each matched note-on the onset was told
(median, p90, share within 40 ms).

With --by-instrument it also prints tunewick's figures for each instrument and kind of piece,
F25 and p90 for every method with each instrument's own latency removed (a player's calibration
with their own guitar), and the whole corpus without the parts that hold the figures back.
Needs Debian's python3-numpy, fluidsynth, timgm6mb-soundfont and aubio-tools (scripts/setup
installs them) and a built tunewick-analyze. Not a test: run it by hand,
    bench/listening/onset_benchmark.py [--tool build/default/bin/tunewick-analyze] [--corpus DIR]
"""
import argparse
import glob
import json
import os
import subprocess
import sys
import tempfile

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
AUBIO_METHODS = ["hfc", "complex", "energy", "phase", "specdiff", "kl", "mkl", "specflux"]


def truth_of(json_path):
    with open(json_path) as f:
        piece = json.load(f)
    return sorted(e["time"] for e in piece["events"])


def run_tool(tool, wav):
    out = subprocess.run([tool, "--engine", "onsets", wav], check=True, capture_output=True, text=True).stdout
    return [float(line) for line in out.split()]


def run_aubio(method, wav):
    out = subprocess.run(["aubioonset", "-i", wav, "-O", method, "-B", "512", "-H", "128", "-M", "0.09"],
                         check=True, capture_output=True, text=True).stdout
    return [float(line) for line in out.split()]


def match(truth, detected, tolerance, shift=0.0):
    """Greedy one-to-one matching by distance; returns (deviations of matches, false, missed)."""
    pairs = []
    j0 = 0
    shifted = [d - shift for d in detected]
    for i, t in enumerate(truth):
        while j0 < len(shifted) and shifted[j0] < t - tolerance:
            j0 += 1
        j = j0
        while j < len(shifted) and shifted[j] <= t + tolerance:
            pairs.append((abs(shifted[j] - t), i, j))
            j += 1
    pairs.sort()
    used_t, used_d, deviations = set(), set(), []
    for _, i, j in pairs:
        if i in used_t or j in used_d:
            continue
        used_t.add(i)
        used_d.add(j)
        deviations.append(shifted[j] - truth[i])
    return deviations, len(detected) - len(deviations), len(truth) - len(deviations)


def f_measure(results):
    hits = sum(len(r[0]) for r in results)
    false = sum(r[1] for r in results)
    missed = sum(r[2] for r in results)
    if hits == 0:
        return 0.0
    precision = hits / (hits + false)
    recall = hits / (hits + missed)
    return 2 * precision * recall / (precision + recall)


def print_report_delays(tool, folder, truths):
    """How long after each true onset the detector, fed a hop at a time, told it."""
    delays = {}
    for name in sorted(n for n in truths if "-snr" not in n):
        out = subprocess.run([tool, os.path.join(folder, name + ".wav")], check=True, capture_output=True,
                             text=True).stdout
        instrument = instrument_of(name)
        for line in out.split("\n"):
            if not line:
                continue
            onset, told = (float(v) for v in line.split())
            truth = min(truths[name], key=lambda t: abs(t - onset))
            if abs(truth - onset) <= 0.05:
                for key in ("all", f"{instrument} {name.split('-')[0]}"):
                    delays.setdefault(key, []).append((told - truth) * 1000)
    print("#### report delay, clean pieces fed a hop at a time (ms from the note-on)\n")
    print("| part | onsets | p50 | p90 | within 40 ms |")
    print("| --- | --- | --- | --- | --- |")
    for key in ["all"] + sorted(k for k in delays if k != "all"):
        d = np.array(delays[key])
        print(f"| {key} | {len(d)} | {np.median(d):.1f} | {np.percentile(d, 90):.1f} | {100 * np.mean(d <= 40):.0f} % |")
    print()


INSTRUMENTS = ["nylon", "steel", "electric", "overdriven"]


def instrument_of(name):
    return next(i for i in INSTRUMENTS if f"-{i}" in name)


def latency_of(truths, found, names):
    """A method's constant latency over these pieces: the median deviation of its matches."""
    deviations = [d for n in names for d in match(truths[n], found[n], 0.05)[0]]
    return float(np.median(deviations)) if deviations else 0.0


def score(truths, found, names, latency):
    """F50, F25 with `latency` taken off (one number, or a function of the piece's name), p90 of
    |deviation - latency| in ms, median deviation in ms, false, missed and true onsets."""
    latency_in = latency if callable(latency) else (lambda n: latency)
    wide = [match(truths[n], found[n], 0.05) for n in names]
    narrow = [match(truths[n], found[n], 0.025, latency_in(n)) for n in names]
    spread = [abs(d - latency_in(n)) * 1000 for n, r in zip(names, wide) for d in r[0]]
    deviations = [d * 1000 for r in wide for d in r[0]]
    return dict(f50=f_measure(wide), f25=f_measure(narrow),
                p90=float(np.percentile(spread, 90)) if spread else float("nan"),
                median=float(np.median(deviations)) if deviations else float("nan"),
                false=sum(r[1] for r in wide), missed=sum(r[2] for r in wide),
                onsets=sum(len(truths[n]) for n in names))


def print_by_instrument(truths, detections, latency):
    """Where the figures come from: tunewick by instrument and part, and per-instrument latency."""
    print("#### tunewick by instrument and part\n")
    print("| part | onsets | F50 | F25 | p90 ms | median deviation ms | false | missed |")
    print("| --- | --- | --- | --- | --- | --- | --- | --- |")
    ours = detections["tunewick"]
    for instrument in INSTRUMENTS:
        for kind in ("runs", "strums"):
            for noisy in (False, True):
                names = [n for n in truths if n.startswith(kind) and instrument_of(n) == instrument
                         and ("-snr" in n) == noisy]
                if not names:
                    continue
                r = score(truths, ours, names, latency["tunewick"])
                print(f"| {instrument} {kind}{', noise' if noisy else ''} | {r['onsets']} | {r['f50']:.3f} | "
                      f"{r['f25']:.3f} | {r['p90']:.1f} | {r['median']:+.1f} | {r['false']} | {r['missed']} |")
    print("\n#### each instrument's own latency removed\n")
    print("| method | F25 | p90 ms |")
    print("| --- | --- | --- |")
    for method, found in detections.items():
        own = {i: latency_of(truths, found, [n for n in truths if instrument_of(n) == i]) for i in INSTRUMENTS}
        r = score(truths, found, list(truths), lambda n: own[instrument_of(n)])
        print(f"| {method} | {r['f25']:.3f} | {r['p90']:.1f} |")
    print("\n#### tunewick without the parts that hold it back (latency taken again from what is left)\n")
    print("| left out | onsets | F50 | F25 | p90 ms |")
    print("| --- | --- | --- | --- | --- |")
    overdriven_strums = lambda n: n.startswith("strums") and instrument_of(n) == "overdriven"
    nylon_noise = lambda n: instrument_of(n) == "nylon" and "-snr" in n
    for title, dropped in (("nothing", lambda n: False), ("overdriven strums", overdriven_strums),
                           ("overdriven strums, nylon in noise", lambda n: overdriven_strums(n) or nylon_noise(n))):
        names = [n for n in truths if not dropped(n)]
        r = score(truths, ours, names, latency_of(truths, ours, names))
        print(f"| {title} | {r['onsets']} | {r['f50']:.3f} | {r['f25']:.3f} | {r['p90']:.1f} |")
    print()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--tool", default="build/default/bin/tunewick-analyze")
    parser.add_argument("--corpus", help="a folder corpus.py rendered; default: render one now")
    parser.add_argument("--methods", default=",".join(AUBIO_METHODS), help="aubio methods, comma-separated")
    parser.add_argument("--details", action="store_true", help="list our misses and false onsets")
    parser.add_argument("--report-delay", action="store_true", help="also time the live report on the clean pieces")
    parser.add_argument("--delay-tool", default="build/default/bin/bench_onset_delay")
    parser.add_argument("--by-instrument", action="store_true",
                        help="also break tunewick's figures down by instrument and part")
    args = parser.parse_args()
    scratch = None
    folder = args.corpus
    if folder is None:
        scratch = tempfile.TemporaryDirectory()
        folder = scratch.name
        subprocess.run([sys.executable, os.path.join(HERE, "corpus.py"), folder], check=True)
    wavs = sorted(glob.glob(os.path.join(folder, "*.wav")))
    if not wavs:
        sys.exit(f"onset_benchmark: no pieces in {folder}")
    methods = ["tunewick"] + [m for m in args.methods.split(",") if m]
    detections = {m: {} for m in methods}
    truths = {}
    for wav in wavs:
        name = os.path.basename(wav)[:-4]
        truths[name] = truth_of(wav[:-4] + ".json")
        detections["tunewick"][name] = run_tool(args.tool, wav)
        for method in methods[1:]:
            detections[method][name] = run_aubio(method, wav)

    parts = [("all", lambda n: True),
             ("runs, clean", lambda n: n.startswith("runs") and "-snr" not in n),
             ("strums, clean", lambda n: n.startswith("strums") and "-snr" not in n),
             ("runs, noise", lambda n: n.startswith("runs") and "-snr" in n),
             ("strums, noise", lambda n: n.startswith("strums") and "-snr" in n)]
    latency = {method: latency_of(truths, detections[method], list(truths)) for method in methods}

    onsets = sum(len(t) for t in truths.values())
    print(f"{len(truths)} pieces, {onsets} true onsets, corpus {folder}\n")
    for title, chosen in parts:
        names = [n for n in truths if chosen(n)]
        if not names:
            continue
        count = sum(len(truths[n]) for n in names)
        print(f"#### {title} ({len(names)} pieces, {count} onsets)\n")
        print("| method | F50 | F25, latency removed | p90 ms | latency ms | false | missed |")
        print("| --- | --- | --- | --- | --- | --- | --- |")
        for method in methods:
            r = score(truths, detections[method], names, latency[method])
            print(f"| {method} | {r['f50']:.3f} | {r['f25']:.3f} | {r['p90']:.1f} | "
                  f"{latency[method] * 1000:+.1f} | {r['false']} | {r['missed']} |")
        print()
    if args.by_instrument:
        print_by_instrument(truths, detections, latency)
    if args.report_delay:
        print_report_delays(args.delay_tool, folder, truths)
    if args.details:
        for name in truths:
            deviations, false, missed = match(truths[name], detections["tunewick"][name], 0.05)
            if false or missed:
                found = detections["tunewick"][name]
                lost = [t for t in truths[name] if not any(abs(d - t) <= 0.05 for d in found)]
                extra = [d for d in found if not any(abs(d - t) <= 0.05 for t in truths[name])]
                print(f"{name}: missed {['%.3f' % t for t in lost]} false {['%.3f' % d for d in extra]}")


if __name__ == "__main__":
    main()
