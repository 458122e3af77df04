// Cost of one profile evaluation, indexed against the literal interval-by-interval
// search, and cost of building the index for a full table.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>

#include "driver.h"
#include "literal_profile.h"

namespace {

constexpr int kProbeCount = 4096;
float probe_x[kProbeCount];

// A chromatography-like peak over n points at times 0, 0.01, 0.02, ...; `shuffled`
// permutes the points so the general index is needed. Probe times are spread
// uniformly over the time range.
void make_peak(int n, bool shuffled) {
  std::mt19937 rng(12345u);
  const double end = 0.01 * (n - 1);
  for (int i = 1; i <= n; ++i) {
    const double t = 0.01 * (i - 1);
    const double z = (t - end / 2.0) / (end / 10.0 + 0.01);
    driver::T[i] = static_cast<float>(t);
    driver::C[i] = static_cast<float>(100.0 * std::exp(-z * z / 2.0));
  }
  if (shuffled) {
    for (int i = n; i > 1; --i) {
      const int j = 1 + static_cast<int>(rng() % static_cast<unsigned>(i));
      std::swap(driver::T[i], driver::T[j]);
      std::swap(driver::C[i], driver::C[j]);
    }
  }
  driver::N = n;
  for (float& x : probe_x) x = static_cast<float>(end * (static_cast<double>(rng()) / 4294967296.0));
}

void BM_ProfileIndexed(benchmark::State& state) {
  make_peak(static_cast<int>(state.range(0)), state.range(1) != 0);
  driver::use_profile_table(1);
  unsigned k = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(driver::PROFILE(probe_x[k++ % kProbeCount]));
  }
}
BENCHMARK(BM_ProfileIndexed)
    ->ArgNames({"N", "shuffled"})
    ->Args({1000, 0})
    ->Args({200000, 0})
    ->Args({1000, 1})
    ->Args({200000, 1});

void BM_ProfileLiteral(benchmark::State& state) {
  make_peak(static_cast<int>(state.range(0)), false);
  unsigned k = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(literal::profile(1, probe_x[k++ % kProbeCount]));
  }
}
BENCHMARK(BM_ProfileLiteral)->ArgName("N")->Arg(1000)->Arg(200000);

void BM_BuildIndex(benchmark::State& state) {
  make_peak(static_cast<int>(state.range(0)), state.range(1) != 0);
  for (auto _ : state) {
    driver::use_profile_table(1);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_BuildIndex)
    ->ArgNames({"N", "shuffled"})
    ->Args({200000, 0})
    ->Args({200000, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
