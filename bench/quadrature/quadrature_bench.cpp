// Cost of one 21-point rule application, and of whole integrations of a smooth
// integrand and of a rough piecewise-linear profile like the ones the program loads.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "errors.h"
#include "quadrature.h"

namespace {

constexpr int MAXSUB = 200000;
float XLEFT[MAXSUB], XRIGHT[MAXSUB], SUBINT[MAXSUB], SUBERR[MAXSUB];
int ERRORD[MAXSUB];

float runge(float x) { return 1.0f / (1.0f + 25.0f * x * x); }

// A profile of 200 random points on [0, 10], interpolated linearly.
std::vector<float> T, C;
float profile(float x) {
  const auto i = static_cast<std::size_t>(std::upper_bound(T.begin(), T.end(), x) - T.begin());
  if (i == 0) return C.front();
  if (i == T.size()) return C.back();
  return C[i - 1] + (C[i] - C[i - 1]) * ((x - T[i - 1]) / (T[i] - T[i - 1]));
}
void make_profile() {
  std::mt19937 gen(11);
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  T.clear(), C.clear();
  for (int i = 0; i < 200; ++i) T.push_back(10.0f * u(gen));
  std::sort(T.begin(), T.end());
  for (std::size_t i = 0; i < T.size(); ++i) C.push_back(100.0f * u(gen));
}

void BM_Rule21(benchmark::State& state) {
  float result = 0, errval = 0, absint = 0, devint = 0;
  const float a = 0.0f, b = 1.0f;
  for (auto _ : state) {
    QRULE21(runge, a, b, result, errval, absint, devint);
    benchmark::DoNotOptimize(result);
  }
}
BENCHMARK(BM_Rule21);

void integrate(benchmark::State& state, Integrand f, float a, float b, float tolerance) {
  float result = 0, errval = 0;
  int nfcall = 0, nsub = 0;
  for (auto _ : state) {
    Q2AGS(f, a, b, tolerance, tolerance, result, errval, MAXSUB, nfcall, nsub, XLEFT, XRIGHT,
          SUBINT, SUBERR, ERRORD);
    benchmark::DoNotOptimize(result);
  }
  state.counters["subintervals"] = nsub;
  state.counters["calls"] = nfcall;
}

void BM_Q2agsSmooth(benchmark::State& state) { integrate(state, runge, -1.0f, 1.0f, 1e-6f); }
BENCHMARK(BM_Q2agsSmooth);

void BM_Q2agsRoughProfile(benchmark::State& state) {
  make_profile();
  integrate(state, profile, T.front(), T.back(), 0.001f);
}
BENCHMARK(BM_Q2agsRoughProfile);

}  // namespace

BENCHMARK_MAIN();
