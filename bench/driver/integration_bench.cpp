// The whole integration of a 200000-point noisy chromatography peak with PROFILE as
// integrand, as the area report runs it: Q2AGS with both tolerances 0.001 and up to
// 200000 subintervals. The peak once as measured (times from 0) and once centred on
// t = 0.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

#include "driver.h"
#include "quadrature.h"

namespace {

constexpr int kMaxSub = 200000;
float xleft[kMaxSub], xright[kMaxSub], subint[kMaxSub], suberr[kMaxSub];
int errord[kMaxSub];

// 200000 points 0.0001 apart; a Gaussian peak of height 100 and width 0.5 in the
// middle on a flat baseline, with uniform noise of +-10 (10% of the peak height).
void make_noisy_peak(float start) {
  std::mt19937 rng(2024u);
  driver::N = driver::CAPACITY;
  driver::CMAX = 0.0f;
  for (int i = 1; i <= driver::N; ++i) {
    const double t = static_cast<double>(start) + 0.0001 * (i - 1);
    const double z = (t - static_cast<double>(start) - 10.0) / 0.5;
    const double noise = 20.0 * (static_cast<double>(rng()) / 4294967296.0 - 0.5);
    driver::T[i] = static_cast<float>(t);
    driver::C[i] = static_cast<float>(100.0 * std::exp(-z * z / 2.0) + noise);
    if (driver::C[i] > driver::CMAX) driver::CMAX = driver::C[i];
  }
}

void BM_IntegrateNoisyPeak(benchmark::State& state) {
  make_noisy_peak(static_cast<float>(state.range(0)));
  driver::use_profile_table(1);
  const float a = driver::T[1], b = driver::T[driver::N], tolerance = 0.001f;
  float result = 0.0f, errval = 0.0f;
  int nfcall = 0, nsub = 0;
  for (auto _ : state) {
    Q2AGS(driver::PROFILE, a, b, tolerance, tolerance, result, errval, kMaxSub, nfcall, nsub,
          xleft, xright, subint, suberr, errord);
    benchmark::DoNotOptimize(result);
  }
  state.counters["NSUB"] = nsub;
  state.counters["NFCALL"] = nfcall;
  state.counters["RESULT"] = result;
}
BENCHMARK(BM_IntegrateNoisyPeak)
    ->ArgName("start")
    ->Arg(0)
    ->Arg(-10)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
