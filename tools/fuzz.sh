#!/usr/bin/env bash
# Builds the fuzzing harnesses (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for FUZZ_SECONDS (60 by default), starting
# from its seeds in tests/fuzz/corpus. A crash, a broken invariant, a hang or a
# runaway memory use fails the run; the input that caused it is kept in
# $FUZZ_BUILD/findings, and belongs in a regression test once understood.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
build=${FUZZ_BUILD:-build-fuzz}

cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DQUINTOLEX_FUZZ=ON >/dev/null
cmake --build "$build" -j"${JOBS:-2}"

mkdir -p "$build/findings"
passed=0
failed=0
# Slow inputs (the reader's at the 200000-pair limit) are scheduled less often than quick ones.
for target in reader records batch_reader; do
  corpus="$build/corpus/$target"  # what the fuzzer learns; the seeds stay unchanged
  log="$build/$target.log"
  mkdir -p "$corpus"
  echo "fuzzing $target for ${seconds} s"
  if "$build/tests/fuzz/${target}_fuzz" -max_total_time="$seconds" -timeout=10 \
       -rss_limit_mb=2048 -entropic_scale_per_exec_time=1 -print_final_stats=1 \
       -artifact_prefix="$build/findings/$target-" \
       "$corpus" "tests/fuzz/corpus/$target" >"$log" 2>&1; then
    passed=$((passed + 1))
    grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$log" || true
  else
    failed=$((failed + 1))
    echo "fuzzing $target found a fault:"
    tail -n 60 "$log"
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
