#!/usr/bin/env bash
# Times whole runs of quintolex against a baseline binary on the three 200000-point
# peaks of tools/make_bench_peaks.py (noisy, centred on t = 0, smooth), side by side
# in one hyperfine run per file, each run fed "file" and an empty line as a user
# would type them. Prints, per file, the median wall time and the mean user time of
# both, their ratios (new / base), and the peak resident memory of each
# (/usr/bin/time -v, the median of three runs); first checks that both binaries
# print the same bytes.
#
#   tools/bench_run.sh BASELINE [CANDIDATE] [RUNS]
#
# CANDIDATE defaults to build/quintolex, RUNS to 30. The files are written once
# into $BENCH_DATA (default build/bench-data).
set -euo pipefail
cd "$(dirname "$0")/.."
baseline=$(realpath "${1:?usage: tools/bench_run.sh BASELINE [CANDIDATE] [RUNS]}")
candidate=$(realpath "${2:-build/quintolex}")
runs=${3:-30}
data=${BENCH_DATA:-build/bench-data}
command -v hyperfine >/dev/null || { echo "hyperfine is missing: apt-get install hyperfine" >&2; exit 1; }

[ -f "$data/smooth.txt" ] || python3 tools/make_bench_peaks.py "$data"
cd "$data"
json=$(mktemp)
trap 'rm -f "$json" ./*.in ./*.out' EXIT

peak_kb() {  # median of three runs
  for _ in 1 2 3; do
    /usr/bin/time -v "$1" <"$2" 2>&1 >/dev/null | awk '/Maximum resident/ {print $6}'
  done | sort -n | sed -n 2p
}
ratio() { python3 -c "print(f'{$1 / $2:.2f}')"; }

printf '%-8s %8s %8s %9s %9s %6s %6s %8s %8s\n' file base-ms new-ms base-user new-user wall user base-KB new-KB
for peak in noisy centred smooth; do
  printf '%s.txt\n\n' "$peak" >"$peak.in"
  "$baseline" <"$peak.in" >base.out || true
  "$candidate" <"$peak.in" >new.out || true
  cmp -s base.out new.out || { echo "$peak: the two binaries print different bytes" >&2; exit 1; }
  hyperfine --style none --warmup 3 --runs "$runs" --export-json "$json" \
    "$baseline < $peak.in > /dev/null" "$candidate < $peak.in > /dev/null" >/dev/null
  read -r base_ms new_ms base_user new_user < <(python3 -c '
import json, sys
results = json.load(open(sys.argv[1]))["results"]
print(*(f"{r[k] * 1000:.2f}" for k in ("median", "user") for r in results))' "$json")
  printf '%-8s %8s %8s %9s %9s %6s %6s %8s %8s\n' "$peak" "$base_ms" "$new_ms" "$base_user" "$new_user" \
    "$(ratio "$new_ms" "$base_ms")" "$(ratio "$new_user" "$base_user")" \
    "$(peak_kb "$baseline" "$peak.in")" "$(peak_kb "$candidate" "$peak.in")"
done
