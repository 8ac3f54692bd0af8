#!/usr/bin/env python3
"""Chord naming and score-informed checking, scored on a rendered strum corpus.

    notes_benchmark.py CORPUS_DIR [--tool build/default/bin/tunewick-analyze]
                       [--basic-pitch N] [--only PATTERN]

CORPUS_DIR holds NAME.wav + NAME.json pairs as bench/listening/corpus.py writes them. For each
piece it runs `tunewick-analyze --engine chord` and `--engine check` (due times exact, and moved
by -60, -30, +30, +60 ms), and a chroma-template baseline at the same onsets the chord engine
reported; with --basic-pitch N it also transcribes N pieces with Spotify's basic-pitch (Node,
bench/listening/basic_pitch.mjs) and names its notes the same way. Prints one table; its last
rows set apart the strums whose fault a lower note's partial covers, and give the offset error
of each instrument alone.
"""
import argparse, glob, json, math, os, subprocess, sys, tempfile

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
NAMES = ['C', 'C#', 'D', 'D#', 'E', 'F', 'F#', 'G', 'G#', 'A', 'A#', 'B']
QUALITIES = {'major': [0, 4, 7], 'm': [0, 3, 7], '5': [0, 7], '7': [0, 4, 7, 10], 'm7': [0, 3, 7, 10],
             'maj7': [0, 4, 7, 11], 'sus4': [0, 5, 7], 'sus2': [0, 2, 7], 'add9': [0, 2, 4, 7],
             'dim': [0, 3, 6], 'aug': [0, 4, 8]}
SUFFIX = {'major': ''}
MATCH_S = 0.05        # a report this close to a strum belongs to it
SHIFTS_MS = [-60, -30, 30, 60]


def parse_name(name):
    """'F#m7/A' -> ('F#', 'm7')."""
    chord = name.split('/')[0]
    root = chord[:2] if len(chord) > 1 and chord[1] == '#' else chord[:1]
    rest = chord[len(root):]
    return root, next((q for q in QUALITIES if SUFFIX.get(q, q) == rest), '?')


def read_wav(path):
    import wave
    with wave.open(path) as w:
        rate, channels, width = w.getframerate(), w.getnchannels(), w.getsampwidth()
        data = np.frombuffer(w.readframes(w.getnframes()), dtype='<i2' if width == 2 else '<i4')
    x = data.reshape(-1, channels).mean(axis=1) / (32768.0 if width == 2 else 2.0 ** 31)
    return x, rate


def chroma_templates():
    """Harmonic templates: each chord tone's first six partials, folded to pitch classes."""
    out = []
    for root in range(12):
        for quality, tones in QUALITIES.items():
            t = np.zeros(12)
            for tone in tones:
                for h in range(1, 7):
                    t[(root + tone + round(12 * math.log2(h))) % 12] += 0.6 ** (h - 1)
            out.append((NAMES[root], quality, t / np.linalg.norm(t)))
    return out


def chroma_name(x, rate, onset, templates):
    start, length = int(onset * rate + 0.04 * rate), int(0.25 * rate)
    seg = x[start:start + length]
    if len(seg) < length // 2:
        return None
    n = 1 << int(math.ceil(math.log2(len(seg) * 3)))
    mag = np.abs(np.fft.rfft(seg * np.hanning(len(seg)), n))
    freqs = np.arange(len(mag)) * rate / n
    chroma = np.zeros(12)
    band = (freqs > 75) & (freqs < 5000)
    pcs = np.round(12 * np.log2(freqs[band] / 440.0)).astype(int) % 12
    np.add.at(chroma, (pcs + 9) % 12, mag[band] ** 2)
    if not chroma.any():
        return None
    chroma /= np.linalg.norm(chroma)
    best = max(templates, key=lambda t: float(chroma @ t[2]))
    return best[0], best[1]


def run(tool, *args):
    r = subprocess.run([tool, *args], capture_output=True, text=True)
    if r.returncode != 0:
        sys.exit(f'{tool} {" ".join(args)} failed ({r.returncode}): {r.stderr.strip()}')
    return r.stdout.split('\n')


def p90(values):
    return float(np.percentile(np.abs(values), 90)) if values else float('nan')


def is_masked(midi, sounding):
    """True when `midi` lies on partial 2..8 of a lower note that sounds."""
    for low in sounding:
        if low < midi:
            ratio = 2 ** ((midi - low) / 12)
            h = round(ratio)
            if 2 <= h <= 8 and abs(1200 * math.log2(ratio / h)) < 40:
                return True
    return False


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('corpus')
    ap.add_argument('--tool', default=os.path.join(HERE, '..', '..', 'build', 'default', 'bin', 'tunewick-analyze'))
    ap.add_argument('--basic-pitch', type=int, default=0, help='pieces to transcribe with basic-pitch (slow)')
    ap.add_argument('--basic-pitch-seconds', type=float, default=30.0, help='the first seconds of each such piece')
    ap.add_argument('--only', default='', help='only pieces whose name contains this')
    args = ap.parse_args()
    templates = chroma_templates()
    s = dict(strums=0, named=0, chroma=0, stray=0, minutes=0.0, notes=0, notes_right=0, notes_clear=0, notes_clear_right=0, faults=0, caught=0,
             masked=0, masked_caught=0, sounding=0, called_missing=0, wrong=0, wrong_named=0, events=0,
             events_right=0, events_clear=0, events_clear_right=0, bp_strums=0, bp_named=0, bp_stray=0, bp_minutes=0.0)
    offsets = {shift: [] for shift in [0] + SHIFTS_MS}
    offsets_by_instrument = {}  # due as played
    failures = []
    pieces = sorted(glob.glob(os.path.join(args.corpus, '*.json')))
    pieces = [p for p in pieces if args.only in os.path.basename(p)]
    bp_left = args.basic_pitch
    for meta_path in pieces:
        meta = json.load(open(meta_path))
        wav = meta_path[:-5] + '.wav'
        strums = [e for e in meta['events'] if e['kind'] == 'strum']
        if not strums:
            continue
        x, rate = read_wav(wav)
        instrument = os.path.basename(wav).split('-')[1].split('.')[0]  # strums-nylon-snr20.wav
        minutes = len(x) / rate / 60
        s['minutes'] += minutes
        # Chord naming.
        reports = []
        for line in run(args.tool, '--engine', 'chord', wav):
            if line.strip():
                t, name, _ = line.split(' ')
                reports.append((float(t), name))
        used = set()
        for e in strums:
            near = [i for i, (t, _) in enumerate(reports) if abs(t - e['time']) <= MATCH_S]
            used.update(near)
            if e['fault'] is None:
                s['strums'] += 1
                want = (e['chord']['root'], e['chord']['quality'])
                if near and parse_name(reports[near[0]][1]) == want:
                    s['named'] += 1
                else:
                    failures.append(f"{os.path.basename(wav)} {e['time']:.2f} {e['voicing']}: "
                                    f"{reports[near[0]][1] if near else 'nothing'}")
                onset = reports[near[0]][0] if near else e['time']
                if chroma_name(x, rate, onset, templates) == want:
                    s['chroma'] += 1
        s['stray'] += len([i for i in range(len(reports)) if i not in used])
        # Checking.
        with tempfile.TemporaryDirectory() as tmp:
            for shift in [0] + SHIFTS_MS:
                expect = os.path.join(tmp, 'expect.tsv')
                with open(expect, 'w') as f:
                    f.write('# due\tnotes\n')
                    for e in strums:
                        f.write(f"{e['time'] + shift / 1000:.4f}\t{','.join(str(n['midi']) for n in e['expected'])}\n")
                lines = [l.split(' ') for l in run(args.tool, '--engine', 'check', '--expect', expect, wav) if l.strip()]
                by_due = {}
                for due, midi, verdict, offset in lines:
                    by_due.setdefault(round(float(due) - shift / 1000, 4), []).append((int(midi), verdict, offset))
                for e in strums:
                    got = by_due.get(round(e['time'], 4), [])
                    for midi, verdict, offset in got:
                        if verdict == 'heard':
                            offsets[shift].append(float(offset) + shift)
                            if shift == 0:
                                offsets_by_instrument.setdefault(instrument, []).append(float(offset))
                    if shift != 0:
                        continue
                    s['events'] += 1
                    played = [n['midi'] for n in e['played']]
                    verdicts = {midi: verdict for midi, verdict, _ in got if verdict != 'extra'}
                    extras = [midi for midi, verdict, _ in got if verdict == 'extra']
                    for n in e['expected']:
                        s['notes'] += 1
                        sounds = n['midi'] in played
                        said = verdicts.get(n['midi']) == 'heard'
                        s['notes_right'] += sounds == said
                        # A note left out under a lower note's partial is told apart, as the
                        # checker may not call it missing (it could be sounding).
                        if sounds or not is_masked(n['midi'], played):
                            s['notes_clear'] += 1
                            s['notes_clear_right'] += sounds == said
                        if sounds:
                            s['sounding'] += 1
                            s['called_missing'] += not said
                            if not said:
                                failures.append(f"{os.path.basename(wav)} {e['time']:.2f} {e['voicing']} "
                                                f"{n['midi']} called missing: {got}")
                    fault = e['fault']
                    clean_said = all(v == 'heard' for v in verdicts.values()) and not extras
                    s['events_right'] += clean_said == (fault is None)
                    # Apart: strums whose fault a lower note's partial covers.
                    if fault is None or not is_masked(fault['expected'], played):
                        s['events_clear'] += 1
                        s['events_clear_right'] += clean_said == (fault is None)
                    if fault is None and not clean_said:
                        failures.append(f"{os.path.basename(wav)} {e['time']:.2f} {e['voicing']} "
                                        f"clean judged faulty: {got}")
                    if fault:
                        masked = is_masked(fault['expected'], played)
                        key = 'masked' if masked else 'faults'
                        s[key] += 1
                        caught = verdicts.get(fault['expected']) == 'missing' or (
                            fault['played'] is not None and fault['played'] in extras)
                        s[key.replace('faults', 'caught').replace('masked', 'masked_caught')] += caught
                        if fault['kind'] == 'wrong':
                            s['wrong'] += 1
                            s['wrong_named'] += fault['played'] in extras
                        if not caught and not masked:
                            failures.append(f"{os.path.basename(wav)} {e['time']:.2f} {e['voicing']} {fault['kind']} "
                                            f"{fault['expected']}->{fault['played']}: {got}")
        if bp_left > 0 and 'noise' not in wav:
            bp_left -= 1
            bp_named, bp_stray, bp_strums = basic_pitch_names(wav, strums, args.basic_pitch_seconds)
            s['bp_named'] += bp_named; s['bp_stray'] += bp_stray; s['bp_strums'] += bp_strums
            s['bp_minutes'] += min(minutes, args.basic_pitch_seconds / 60)

    pct = lambda a, b: f'{100 * a / b:.1f} % ({a}/{b})' if b else '-'
    print(f"pieces: {len(pieces)}, {s['minutes']:.1f} min, {s['events']} strums")
    print('| measure | tunewick | target |')
    print('|---|---|---|')
    print(f"| chord naming, correct strums (root+quality) | {pct(s['named'], s['strums'])} | >= 95 % |")
    print(f"| chord naming, chroma-template baseline | {pct(s['chroma'], s['strums'])} | |")
    if s['bp_strums']:
        print(f"| chord naming, basic-pitch notes + the same naming rule (subset) | {pct(s['bp_named'], s['bp_strums'])}, "
              f"{s['bp_stray'] / s['bp_minutes']:.2f} stray/min | |")
    print(f"| stray chord reports per minute | {s['stray'] / max(s['minutes'], 1e-9):.2f} | <= 1 |")
    print(f"| notes judged right | {pct(s['notes_right'], s['notes'])} | >= 98 % |")
    print(f"| notes judged right, those masked by a lower note's partial apart | "
          f"{pct(s['notes_clear_right'], s['notes_clear'])} | >= 98 % |")
    print(f"| muted/wrong strings caught (clear) | {pct(s['caught'], s['faults'])} | >= 90 % |")
    print(f"| muted/wrong strings caught (masked by a harmonic) | {pct(s['masked_caught'], s['masked'])} | |")
    print(f"| sounding notes called missing | {pct(s['called_missing'], s['sounding'])} | <= 1 % |")
    print(f"| wrong notes named | {pct(s['wrong_named'], s['wrong'])} | >= 85 % |")
    print(f"| whole strums judged right | {pct(s['events_right'], s['events'])} | >= 95 % |")
    print(f"| whole strums judged right, those with a fault masked by a harmonic apart | "
          f"{pct(s['events_clear_right'], s['events_clear'])} | |")
    for shift in [0] + SHIFTS_MS:
        print(f"| offset error p90, due moved {shift:+d} ms | {p90(offsets[shift]):.1f} ms (n={len(offsets[shift])}) | <= 10 ms |")
    for instrument in sorted(offsets_by_instrument):
        found = offsets_by_instrument[instrument]
        print(f"| offset error p90, {instrument} only, due as played | {p90(found):.1f} ms (n={len(found)}) | |")
    if os.environ.get('NOTES_BENCH_FAILURES'):
        print('\n'.join(failures), file=sys.stderr)


def basic_pitch_names(wav, strums, seconds):
    """Runs basic-pitch on the start of one file; names each strum there from the notes starting
    between 30 ms before and 100 ms after it."""
    script = os.path.join(HERE, 'basic_pitch.mjs')
    strums = [e for e in strums if e['time'] < seconds - 1.0]
    r = subprocess.run(['node', script, wav, str(seconds)], capture_output=True, text=True)
    if r.returncode != 0:
        print(f'basic-pitch skipped: {r.stderr.strip()[:200]}', file=sys.stderr)
        return 0, 0, 0
    notes = [json.loads(l) for l in r.stdout.split('\n') if l.strip()]
    named = total = 0
    used = set()
    for e in strums:
        group = [n for i, n in enumerate(notes) if -0.03 <= n['start'] - e['time'] <= 0.1]
        used.update(i for i, n in enumerate(notes) if -0.03 <= n['start'] - e['time'] <= 0.1)
        if e['fault'] is None:
            total += 1
            named += name_midis([n['midi'] for n in group]) == (e['chord']['root'], e['chord']['quality'])
    stray_onsets = sorted(n['start'] for i, n in enumerate(notes) if i not in used)
    stray = sum(1 for i, t in enumerate(stray_onsets) if i == 0 or t - stray_onsets[i - 1] > 0.1)
    return named, stray, total


def name_midis(midis):
    """The same rule as the C++ namer for a plain list of notes (root in the bass preferred)."""
    if not midis:
        return None
    classes = {m % 12 for m in midis}
    bass = min(midis) % 12
    best = None
    for rank_q, (quality, tones) in enumerate(QUALITIES.items()):
        for root in classes:
            if {(c - root) % 12 for c in classes} == set(tones):
                rank = (0 if root == bass else 100) + rank_q
                if best is None or rank < best[0]:
                    best = (rank, NAMES[root], quality)
    return best[1:] if best else None


if __name__ == '__main__':
    main()
