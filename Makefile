# Front door: `make run` builds the program and starts it on the bundled sample
# (press Enter at the prompt to take examples/peak.txt); `make test` builds and runs
# every test: the suite in the ordinary build, the same suite built with the address
# and undefined-behaviour sanitizers, a minute of fuzzing for each harness, and the
# Windows build of both programs under Wine. All of them install the Debian build
# packages first when some are missing.
# `make check` runs the ordinary suite alone.
# `make mutate` (not part of `make test`) puts small faults into the libraries one
# at a time and reports which of them the ordinary suite misses; see tools/mutate.py.
# MUTATE_ARGS chooses the sample, e.g. make mutate MUTATE_ARGS="--count 80 --seed 1".

BUILD ?= build
JOBS ?= 2
FUZZ_SECONDS ?= 60
MUTATE_ARGS ?=

.PHONY: all deps build run test check check-sanitized fuzz windows windows-dist check-windows bench mutate clean

all: build

deps:
	@tools/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j$(JOBS)

run: build
	$(BUILD)/quintolex examples/peak.txt

test: check check-sanitized fuzz check-windows

check: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

check-sanitized: deps
	cmake -S . -B $(BUILD)-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUINTOLEX_SANITIZE=ON
	cmake --build $(BUILD)-sanitize -j$(JOBS)
	cd $(BUILD)-sanitize && ctest --output-on-failure -j$(JOBS)

fuzz: deps
	FUZZ_BUILD=$(BUILD)-fuzz FUZZ_SECONDS=$(FUZZ_SECONDS) JOBS=$(JOBS) tools/fuzz.sh

# The Windows executables (the dialogue and the batch tool) and their unit tests,
# cross-built with mingw-w64 and linked statically.
windows: deps
	cmake -S . -B $(BUILD)-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release \
	    -DBUILD_TESTING=ON
	cmake --build $(BUILD)-windows -j$(JOBS)

# The zip for Windows users: the executables, README.txt and the manual pages as text.
windows-dist: windows
	python3 tools/windows_dist.py $(BUILD)-windows $(BUILD)-windows/quintolex-windows.zip

# The Windows build under Wine: its unit tests, the transcripts, and the same bytes as
# this system's build on the reference set's files and on random files
# (tools/check_windows.sh).
check-windows: windows build
	WINDOWS_BUILD=$(BUILD)-windows LINUX_BUILD=$(BUILD) JOBS=$(JOBS) tools/check_windows.sh

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
	rm -rf $(BUILD) $(BUILD)-sanitize $(BUILD)-fuzz $(BUILD)-windows build-mutate
