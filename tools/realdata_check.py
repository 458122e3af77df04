#!/usr/bin/env python3
"""Runs quintolex-batch on the real laboratory exports and checks every row it writes.

Usage: python3 tools/realdata_check.py [BATCH_EXECUTABLE] [REALDATA_DIR]
  BATCH_EXECUTABLE  default: build/quintolex-batch under the repository root
  REALDATA_DIR      default: ../shared/realdata beside the repository root

Every data file under REALDATA_DIR/files (not the reference/ folders) is run with the
options it needs (JSON Lines, -j 2). The rows are checked against the reference numbers
REALDATA_DIR/SOURCES.md publishes or computes for the file and, where the file is simple
enough to read here, against a trapezoid sum this script works out itself from the same
pairs rounded to 32-bit reals, as the tool reads them. One line per run (file, options,
rows, then `agree`, `expected error: ...` or `DIFFER: ...`) and a summary line.
Exit status: 1 if some run differs, 0 otherwise or when the folder is absent (the check
is then skipped), 2 when the executable is missing.
"""
import json, math, os, re, shlex, struct, subprocess, sys
from collections import Counter


def f32(x):
    return struct.unpack('f', struct.pack('f', x))[0]


def num(text, comma=False):
    try:
        v = float(text.strip().replace(',', '.') if comma else text)
    except ValueError:
        return None
    return v if math.isfinite(v) else None


def lines_of(path):
    raw = open(path, 'rb').read()
    text = raw.decode('utf-16') if raw[:2] == b'\xff\xfe' else raw.decode('latin-1')
    return text.lstrip('\ufeff\xef\xbb\xbf').replace('\r\n', '\n').replace('\r', '\n').split('\n')


def blocks(path, t, v, sep=None, comma=False, g=None, real=f32):
    """Runs of consecutive lines whose columns t and v (from 0) read as numbers, each with
    the last '[...]' or quoted line before it: [(title, [(time, value, group text)])].
    Numbers are rounded to 32-bit reals, as the tool reads them, unless real=float."""
    out, run, title = [], [], ''
    for line in lines_of(path) + ['']:
        f = line.split(sep) if sep else line.split()
        tv = [num(f[i], comma) if i < len(f) else None for i in (t, v)]
        if None not in tv:
            run.append((real(tv[0]), real(tv[1]), f[g].strip() if g is not None else ''))
            continue
        if run:
            out.append((title, run))
            run = []
        if line.lstrip()[:1] in ('[', '"'):
            title = line.strip()
    return out


def value_at(p, x):
    for (t0, c0, _), (t1, c1, _) in zip(p, p[1:]):
        if t0 <= x <= t1:
            return c0 + (c1 - c0) * (x - t0) / (t1 - t0)


def integral(p, a, b):  # of the piecewise-linear profile p over [a, b], piece by piece
    s = 0.0
    for piece in zip(p, p[1:]):
        lo, hi = max(piece[0][0], a), min(piece[1][0], b)
        if hi > lo:
            s += (hi - lo) * (value_at(piece, lo) + value_at(piece, hi)) / 2
    return s


class Run:
    def __init__(self, base, path, options):
        self.base, self.path, self.options = base, path, shlex.split(options)
        self.rows, self.bad, self.notes, self.expected_error = [], [], [], None

    def near(self, what, got, want, rel, absolute=0.0):
        if got is None or abs(got - want) > max(absolute, rel * abs(want)):
            self.bad.append(f'{what} {got if got is None else format(got, ".9g")} (expected {want:.9g})')

    def same32(self, what, got, want):  # equal once both are 32-bit reals
        if got is None or f32(got) != f32(want):
            self.bad.append(f'{what} {got!r} (expected {want!r} as a 32-bit real)')

    def vendor(self, what, got, want, rel):  # against a vendor's own area: both numbers shown
        self.notes.append(f'{what} {got:.1f}, vendor {want} ({100 * (got / want - 1):+.2f}%)')
        self.near(what, got, want, rel)

    def count(self, n):
        if len(self.rows) != n:
            self.bad.append(f'{len(self.rows)} rows (expected {n})')
        return len(self.rows) == n

    def profiles(self, t, v, sep, comma=False, g=None, section=None, real=f32):
        """This script's reading of the file: every block whose title holds `section`,
        else the longest block, cut into one profile per value of column g if given."""
        bl = blocks(os.path.join(self.base, self.path), t, v, sep, comma, g, real)
        if section:
            return [p for title, p in bl if section.lower() in title.lower()]
        title, longest = max(bl, key=lambda b: len(b[1]))
        if len(bl) > 1 and self.rows and title.strip('[]"') not in self.rows[0]['messages']:
            self.bad.append(f'no note naming the longest block {title}')
        keys = list(dict.fromkeys(p[2] for p in longest))
        return [[p for p in longest if p[2] == k] for k in keys]


def fields(**want):  # ints exactly, reals as 32-bit reals, texts contained
    def check(r):
        for row in r.rows:
            for k, w in want.items():
                if isinstance(w, float):
                    r.same32(k, row[k], w)
                elif (w not in row[k]) if isinstance(w, str) else (w != row[k]):
                    r.bad.append(f'{k} {row[k]!r} (expected {w!r})')
    return check


def area(want, rel=1e-6, key='exact_area'):
    return lambda r: [r.near(key, row[key], want, rel) for row in r.rows]


# Theophylline as printed in SOURCES.md, per subject: Tlast, Cmax, AUClast (published),
# Cmax * Tlast - AUClast (derived there).
THEOPH = [s.split() for s in (
    '24.37 10.5 148.92305 106.9620', '24.30 8.33 91.5268 110.8922', '24.17 8.2 99.2865 98.9075',
    '24.65 8.6 106.7963 105.1937', '24.35 11.4 121.2944 156.2956', '23.85 6.44 73.77555 79.8185',
    '24.22 7.09 90.7534 80.9664', '24.12 7.56 88.55995 93.7872', '24.43 9.03 86.32615 134.2767',
    '23.70 10.21 138.3681 103.6089', '24.08 8.0 80.0936 112.5464', '24.15 9.75 119.9775 115.4850')]


def theoph(subjects, labels):
    def check(r):
        for row, n in zip(r.rows, subjects) if r.count(len(subjects)) else ():
            tlast, cmax, auc, above = THEOPH[n - 1]
            if labels and row['profile'] != f'Subject={n}':
                r.bad.append(f'label {row["profile"]!r} (expected Subject={n})')
            # AUClast to half a unit of its last printed decimal, plus 32-bit data.
            half = 0.5 * 10.0 ** -len(auc.split('.')[1])
            r.near(f'subject {n} exact_area', row['exact_area'], float(auc), 1e-6, half + 1e-6 * float(auc))
            r.near(f'subject {n} peak_area', row['peak_area'], float(auc), 1e-3)
            r.same32(f'subject {n} max_concentration', row['max_concentration'], float(cmax))
            r.same32(f'subject {n} last_time', row['last_time'], float(tlast))
            r.near(f'subject {n} area_above', row['area_above'], float(above), 1e-3)
    return check


def own(t, v, sep=None, comma=False, g=None, section=None, window=None, baseline=False):
    """Each ok row against the trapezoid of this script's own reading of the file."""
    def check(r):
        profiles = r.profiles(t, v, sep, comma, g, section)
        for row, p in zip(r.rows, profiles) if r.count(len(profiles)) else ():
            if row['status'] != 'ok':
                continue
            a, b = (f32(window[0]), f32(window[1])) if window else (p[0][0], p[-1][0])
            want = integral(p, a, b)
            gross = integral([(x, abs(c), k) for x, c, k in p], a, b)
            if baseline:
                want -= (b - a) * (value_at(p, a) + value_at(p, b)) / 2
                gross += (b - a) * (abs(value_at(p, a)) + abs(value_at(p, b))) / 2
            where = f'{row["profile"]} ' if len(profiles) > 1 else ''
            if row['points'] != len(p):
                r.bad.append(f'{where}points {row["points"]} (read here: {len(p)})')
            r.same32(f'{where}first_time', row['first_time'], p[0][0])
            r.same32(f'{where}max_concentration', row['max_concentration'], max(x[1] for x in p))
            # The same 32-bit pairs summed in another order (1e-9 of the gross area), and
            # the table's 9 significant digits.
            r.near(f'{where}exact_area (trapezoid here {want:.10g})', row['exact_area'], want,
                   0, 1e-9 * gross + 5e-9 * abs(want))
    return check


def error(*needles, start=''):
    """One error row whose error (the last message line, less "file:" or "file:line:")
    starts with `start` and holds every needle."""
    def check(r):
        if r.count(1) and r.rows[0]['status'] != 'error':
            r.bad.append(f'status {r.rows[0]["status"]} (expected an error)')
        elif r.rows:
            msg = r.rows[0]['messages'].split('\n')[-1]
            if msg.startswith(r.path + ':'):
                msg = re.sub(r'^\d*:? ?', '', msg[len(r.path) + 1:])
            if not msg.startswith(start):
                r.bad.append(f'the error does not start with {start!r}: {msg[:90]!r}')
            r.bad += [f'the error lacks {n!r}: {msg[:90]!r}' for n in needles if n not in msg]
            r.expected_error = ' '.join(msg.split()[:7])
    return check


def quotes_a_line(r):  # the error quotes (the start of) a line that is in the file
    quoted = re.findall(r'"([^"]{8,}?)(?:\.\.\.)?"', r.rows[0]['messages'] if r.rows else '')
    if not quoted or quoted[-1] not in '\n'.join(lines_of(os.path.join(r.base, r.path))):
        r.bad.append('the error does not quote a line of the file')


def vendor_peak(section, a, b, vendor, chord):
    """A vendor peak: 60 x peak_area (mV min -> uV s) against the vendor Area, which the
    area between the trace and the chord joining the first and last samples inside the
    window reproduces to 0.3 % (`chord`, recomputed here in double precision to confirm
    the reading of the trace). The tool's baseline joins the profile's values at the
    window ends instead, so on a sloping baseline the two differ a little. The 0.3 %
    bound against the vendor area is kept as stated: a peak past it is reported, not
    given a wider bound."""
    def check(r):
        if not r.count(1) or r.rows[0]['peak_area'] is None:
            return
        p = r.profiles(0, 1, '\t', section=section, real=float)[0]
        inside = [x for x in p if a <= x[0] <= b]
        (t0, c0, _), (t1, c1, _) = inside[0], inside[-1]
        r.near('chord area read here', 60 * (integral(p, t0, t1) - (t1 - t0) * (c0 + c1) / 2),
               chord, 0, 0.05 + 1e-6 * chord)
        got = 60 * r.rows[0]['peak_area']
        r.vendor('60*peak_area', got, vendor, 0.003)
        r.notes.append(f'chord {chord} ({100 * (got / chord - 1):+.2f}%)')
    return check


def consistent(r):  # the quadrature within its accuracy of the exact area, or flagged
    for row in r.rows:
        if row['status'] == 'ok' and row['peak_area'] is not None:
            off = abs(row['peak_area'] - row['exact_area']) > max(1e-3, 1e-3 * abs(row['exact_area']))
            if off != ('exact area of the profile' in row['messages']):
                r.bad.append(f'peak_area {row["peak_area"]} exact_area {row["exact_area"]}: '
                             f'the exact-area flag is {"missing" if off else "raised wrongly"}')


CHROM, SPECTRO = 'chromatography/', 'spectroscopy/'
MULTI, TIC = CHROM + 'chromconverter/multichannel_chrom.txt', CHROM + 'chromatopy/RAU-R505-00_tic_front'
DET_B, DET_A = 'Chromatogram(Detector B', 'Chromatogram(Detector A-Ch1)'
SEC, CHROMTAB = CHROM + 'appia/2018_0821SEC_detergentENaC.csv', CHROM + 'yadg/CHROMTAB.CSV'
PLATE, TIMESCAN = SPECTRO + 'gen5/kinetic_helper_gene_growth_curve.txt', SPECTRO + 'hitachi_u5100/'
STAND, EXVAS = 'icpms/elementr/Stand1.csv', 'pk/ncappc/data_exvas_sd.txt'
COLUMNS = error('--time-column', '--value-column')
CASES = [
    ('pk/theoph/Theoph.csv', '--time-column Time --value-column conc --group-column Subject',
     theoph(range(1, 13), True), own(3, 4, ',', g=0)),
    *[(f'pk/theoph/split/theoph_{n:02}.txt', '', theoph([n], False), own(0, 1)) for n in range(1, 13)],
    (EXVAS, '--time-column TIME --value-column DV', area(3.3522955), area(3.3523, 1e-3, 'peak_area'),
     fields(last_time=24.0), own(1, 5),
     lambda r: r.near('max_concentration', r.rows[0]['max_concentration'], 0.271, 0, 0.0005)),
    *[(MULTI, f'--section "{s}" --from {a} --to {b} --baseline linear', vendor_peak(s, a, b, v, c),
       own(0, 1, '\t', section=s, window=(a, b), baseline=True)) for s, a, b, v, c in [
        (DET_B, 9.158, 9.875, 2092, 2098.0), (DET_B, 10.867, 12.658, 904583, 905124.5),
        (DET_B, 14.750, 16.650, 493483, 493508.8), (DET_B, 17.592, 19.250, 272632, 272580.5),
        (DET_B, 25.158, 27.633, 1061968, 1061946.8), (DET_A, 15.002, 15.885, 32406, 32354.5),
        (DET_A, 17.760, 18.418, 5356, 5340.8)]],
    (SPECTRO + 'visionlite/Thermo_VISIONlite_example_rate.csv', '', area(0.026611),
     area(0.026611, 1e-6, 'peak_area'), fields(max_concentration=0.026611, last_time=1.0), own(0, 1, ',')),
    # Exact integrals over whole files; the tool reads 32-bit reals, hence 1e-6.
    *[(path, opts, area(value), fields(points=n), own(*reading)) for path, opts, n, value, reading in [
        (TIMESCAN + '10cells_970buffer_20imaz_lsz_1.TXT', '', 123, 108.54, (0, 1, '\t')),
        (TIMESCAN + '20cells_960buffer_20imaz_lsz_1.TXT', '', 126, 103.417, (0, 1, '\t')),
        (CHROM + 'chromconverter/waters.arw', '', 6601, 1200.193155, (0, 1, '\t')),
        (CHROM + 'chromconverter/dad1.csv', '', 1944, 688.0747064, (0, 1, ',')),
        (CHROM + 'chromatopy/chromeleon6_0h_25.1.txt', '--value-column 3', 26401, 682.9586851,
         (0, 2, '\t', True)),
        (CHROM + 'peakclimber/0.5_1_0.5_10_CAD_1.txt', '--value-column 3', 38603, 109.2132315, (0, 2, '\t')),
        (CHROM + 'chromatopy/openlab_dx_DAD1A.CSV', '', 7350, 418.7704099, (0, 1, ',')),
        (TIC + '.csv', '', 2012, 1959674.916, (0, 1, ',')),
        (TIC + '.tsv', '', 2012, 1959674.916, (0, 1))]],
    # The vendor's peak table: about 10 x the integral over seconds, no baseline; +-1 % at best.
    *[(TIC + '.csv', f'--from {a} --to {b}', own(0, 1, ',', window=(a, b)),
       lambda r, v=v: r.vendor('600*peak_area', 600 * r.rows[0]['peak_area'], v, 0.01))
      for a, b, v in [(6.03078, 6.16938, 13751453), (6.27912, 6.33687, 7963360)]],
    *[(path, '', COLUMNS) for path in [CHROM + 'chromatopy/chromeleon6_0h_25.1.txt',
                                       CHROM + 'peakclimber/0.5_1_0.5_10_CAD_1.txt', SEC, STAND,
                                       'pk/theoph/Theoph.csv', EXVAS, PLATE]],
    (CHROM + 'yadg/2023-06-29-007.dat.asc', '', error('no time column')),
    (SPECTRO + 'tecan_genios/2018-05-21_18-46_180521_Adam_Mia_4_96_T7.txt', '', error(start='no data'),
     quotes_a_line),
    (PLATE, '--time-column 1 --value-column 3', error('0:00:22', 'clock time')),
    (SEC, '--time-column 1 --value-column 2', fields(points=27197, first_time=-0.007014), own(0, 1, '\t')),
    (SEC, '--time-column 3 --value-column 4', error('--missing skip')),
    (SEC, '--time-column 3 --value-column 4 --missing skip', fields(points=13599), own(2, 3, '\t')),
    (CHROMTAB, '', own(0, 1, ',')),
    (CHROMTAB, '--section Signal', own(0, 1, ',', section='Signal'), lambda r: [
        r.bad.append(f'label {row["profile"]!r}') for row in r.rows
        if not re.search(r'Signal:.*(TCD1A|FID2B)', row['profile'])]),
    (CHROMTAB, '--section TIC', own(0, 1, ',', section='TIC'), lambda r: r.count(3)),
    (STAND, '--time-column Time --value-column Li7', fields(points=50, first_time=1.8), own(0, 1, ';')),
    (CHROM + 'chromatopy/shimadzu_Output-sample_0.txt', '',
     fields(points=1801, last_time=15.0, messages='[LC Chromatogram(Detector A-Ch1)]'), own(0, 1, ',')),
]


def main(argv):
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    exe = os.path.abspath(argv[1] if len(argv) > 1 else os.path.join(root, 'build', 'quintolex-batch'))
    base = os.path.join(argv[2] if len(argv) > 2 else os.path.join(root, '..', 'shared', 'realdata'), 'files')
    if not os.path.isdir(base):
        print(f'{base}: no real-data folder, real-data check skipped')
        return 0
    if not os.access(exe, os.X_OK):
        print(f'{exe}: no such executable')
        return 2
    present = sorted(os.path.relpath(os.path.join(d, f), base) for d, _, names in os.walk(base)
                     for f in names if 'reference' not in os.path.relpath(d, base).split(os.sep))
    cases = CASES + [(p, '', lambda r: r.bad.append('no expectation recorded for this file'))
                     for p in present if p not in {c[0] for c in CASES}]
    tally = Counter()
    for path, options, *checks in cases:
        r = Run(base, path, options)
        if path not in present:
            r.bad.append('file missing')
        else:
            done = subprocess.run([exe, '--format', 'json', '-j', '2', *r.options, path], cwd=base,
                                  capture_output=True, text=True, errors='replace')
            if done.returncode not in (0, 1):
                r.bad.append(f'exit status {done.returncode}: {done.stderr.strip()[:120]}')
            else:
                r.rows = [json.loads(line) for line in done.stdout.splitlines() if line.strip()]
                for check in checks + [consistent]:
                    try:
                        check(r)
                    except Exception as e:  # a row that lacks what a check reads
                        r.bad.append(f'cannot check ({type(e).__name__}: {e})')
        if r.expected_error is None and any(row['status'] != 'ok' for row in r.rows):
            r.bad.append('error row: ' + r.rows[0]['messages'].split('\n')[-1][:120])
        rows = ', '.join(f'{n} {s}' for s, n in Counter(row['status'] for row in r.rows).items()) or 'none'
        if len(r.rows) > 1:
            rows += ' [' + '; '.join(row['profile'] for row in r.rows) + ']'
        if r.bad:
            verdict, key = 'DIFFER: ' + '; '.join(r.bad), 'differ'
        elif r.expected_error is not None:
            verdict, key = f'expected error: {r.expected_error}', 'expected'
        else:
            verdict, key = 'agree', 'agree'
        notes = f' ({"; ".join(r.notes)})' if r.notes else ''
        print(f'{path}  [{options or "no options"}]  rows: {rows}  {verdict}{notes}')
        tally[key] += 1
    print(f'{len(cases)} files: {tally["agree"]} agree, {tally["expected"]} expected errors, '
          f'{tally["differ"]} differ')
    return 1 if tally['differ'] else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
