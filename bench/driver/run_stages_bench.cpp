// The stages of a whole run on the three 200000-point peaks of the whole-run
// comparison (tools/make_bench_peaks.py, tools/bench_run.sh): points 0.0001 apart, a
// Gaussian peak of height 100 and width 0.5 ten time units after the first point,
// written as the tool writes them ("%.4f %.6f" lines; the noise here comes from
// another generator, of the same spread):
//   peak 0, noisy:   times from 0, uniform noise of +-10
//   peak 1, centred: times from -10, the same noise (the peak centred on t = 0)
//   peak 2, smooth:  times from 0, no noise
// Stages: reading the file into the tables (READ_PAIR through load_table), building
// the profile's index, and the integration of the area report (Q2AGS with both
// tolerances 0.001 and up to 200000 subintervals; its warning is not printed), the
// latter also with the integrand called one abscissa at a time.
#include <benchmark/benchmark.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "console.h"
#include "driver.h"
#include "errors.h"
#include "quadrature.h"

namespace {

constexpr int kMaxSub = 200000;
float xleft[kMaxSub], xright[kMaxSub], subint[kMaxSub], suberr[kMaxSub];
int errord[kMaxSub];

// The text of a peak, in a file in memory; returns its 20-character name.
std::string peak_file(int peak) {
  static std::string names[3];
  if (!names[peak].empty()) return names[peak];
  const double start = peak == 1 ? -10.0 : 0.0;
  std::mt19937 rng(2024u);
  std::string text;
  char line[64];
  for (int i = 0; i < driver::CAPACITY; ++i) {
    const double t = start + 0.0001 * i;
    const double z = (t - start - 10.0) / 0.5;
    double c = 100.0 * std::exp(-z * z / 2.0);
    if (peak != 2) c += 20.0 * (static_cast<double>(rng()) / 4294967296.0 - 0.5);
    text.append(line, static_cast<std::size_t>(std::snprintf(line, sizeof line, "%.4f %.6f\n", t, c)));
  }
  const int fd = memfd_create("peak", 0);
  if (fd < 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) std::abort();
  names[peak] = "/proc/self/fd/" + std::to_string(fd);
  names[peak].resize(20, ' ');
  return names[peak];
}

void load_peak(int peak) {
  char name[20];
  peak_file(peak).copy(name, sizeof name);
  OPEN_DATA_FILE(4, name);
  if (!driver::load_table(READ_PAIR) || driver::N != driver::CAPACITY) std::abort();
  close_data_unit();
}

void BM_Read(benchmark::State& state) {
  const int peak = static_cast<int>(state.range(0));
  peak_file(peak);
  for (auto _ : state) {
    load_peak(peak);
    benchmark::DoNotOptimize(driver::CMAX);
  }
  state.SetItemsProcessed(state.iterations() * driver::N);
}

void BM_BuildIndex(benchmark::State& state) {
  load_peak(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    driver::use_profile_table(1);
    benchmark::ClobberMemory();
  }
}

void integrate(benchmark::State& state, bool one_at_a_time) {
  load_peak(static_cast<int>(state.range(0)));
  driver::use_profile_table(1);
  if (one_at_a_time) QSETNODES(nullptr, nullptr);
  INIT_ERROR_STATE();
  ERROR_STATE.PRINT_FLAG[TYPE_WARNING] = 0;  // the noisy peaks' warning, posted each time
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
void BM_Integrate(benchmark::State& state) { integrate(state, false); }
void BM_IntegrateOneAbscissaAtATime(benchmark::State& state) { integrate(state, true); }

BENCHMARK(BM_Read)->ArgName("peak")->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BuildIndex)->ArgName("peak")->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Integrate)->ArgName("peak")->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IntegrateOneAbscissaAtATime)->ArgName("peak")->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
