# Front door: `make run` builds the program and starts it on the bundled sample
# (press Enter at the prompt to take examples/peak.txt); `make test` builds and runs
# every test: the suite in the ordinary build, the same suite built with the address
# and undefined-behaviour sanitizers, and a minute of fuzzing for each harness. All
# of them install the Debian build packages first when some are missing.
# `make check` runs the ordinary suite alone.
# `make mutate` (not part of `make test`) puts small faults into the libraries one
# at a time and reports which of them the ordinary suite misses; see tools/mutate.py.
# MUTATE_ARGS chooses the sample, e.g. make mutate MUTATE_ARGS="--count 80 --seed 1".

BUILD ?= build
JOBS ?= 2
FUZZ_SECONDS ?= 60
MUTATE_ARGS ?=

.PHONY: all deps build run test check check-sanitized fuzz bench mutate clean

all: build

deps:
	@tools/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j$(JOBS)

run: build
	$(BUILD)/quintolex examples/peak.txt

test: check check-sanitized fuzz

check: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

check-sanitized: deps
	cmake -S . -B $(BUILD)-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUINTOLEX_SANITIZE=ON
	cmake --build $(BUILD)-sanitize -j$(JOBS)
	cd $(BUILD)-sanitize && ctest --output-on-failure -j$(JOBS)

fuzz: deps
	FUZZ_BUILD=$(BUILD)-fuzz FUZZ_SECONDS=$(FUZZ_SECONDS) JOBS=$(JOBS) tools/fuzz.sh

# BASELINE=path/to/quintolex also times whole runs of build/quintolex against that
# binary on the three 200000-point peaks (tools/bench_run.sh, needs hyperfine).
bench: build
	$(BUILD)/bench/quadrature/quadrature_bench
	$(BUILD)/bench/driver/profile_bench
	$(BUILD)/bench/driver/run_stages_bench
	$(if $(BASELINE),tools/bench_run.sh $(BASELINE) $(BUILD)/quintolex)
	python3 bench/batch/run.py $(BUILD)

# Builds in its own scratch copy (build-mutate/); the working tree is only read.
mutate: deps
	python3 tools/mutate.py --jobs $(JOBS) $(MUTATE_ARGS)

clean:
	rm -rf $(BUILD) $(BUILD)-sanitize $(BUILD)-fuzz build-mutate
