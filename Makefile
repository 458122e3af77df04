# Front door: `make run` builds the program and starts it on the bundled sample
# (press Enter at the prompt to take examples/peak.txt); `make test` builds and runs
# every test. Both install the Debian build packages first when some are missing.

BUILD ?= build
JOBS ?= 2

.PHONY: all deps build run test bench clean

all: build

deps:
	@tools/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j$(JOBS)

run: build
	$(BUILD)/quintolex examples/peak.txt

test: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

bench: build
	$(BUILD)/bench/quadrature/quadrature_bench
	$(BUILD)/bench/driver/profile_bench
	$(BUILD)/bench/driver/integration_bench

clean:
	rm -rf $(BUILD)
