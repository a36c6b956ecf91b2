# Front door for people and CI. `make run` and `make test` do all set-up themselves.
BUILD_DIR ?= build/release
TEST_DIR  ?= build/asan
RELEASE_TEST_DIR ?= build/test-release
BENCH_DIR ?= build/bench
FUZZ_DIR  ?= build/fuzz
FUZZ_SECONDS ?= 60
JOBS      ?= $(shell nproc)
CMAKE_WERROR := $(if $(CI),-DVANTREL_WERROR=ON,)

.PHONY: setup build run test bench fuzz-smoke fuzz-soak format clean

setup:
	bash scripts/setup.sh

build: setup
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTREL_BUILD_TESTS=OFF $(CMAKE_WERROR)
	cmake --build $(BUILD_DIR) -j $(JOBS)

# SANE for `make run`: the virtual test scanner of sane/ beside the system's own backends, so a
# machine without a scanner can still try every command. dll.conf and test.conf come from the
# generated folder, every other backend's configuration from /etc/sane.d (no trailing ':').
SANE_RUN_DIR := $(abspath $(BUILD_DIR))/sane-run

run: build
	mkdir -p $(SANE_RUN_DIR)
	{ cat sane/dll.conf; cat /etc/sane.d/dll.conf 2>/dev/null || true; } > $(SANE_RUN_DIR)/dll.conf
	cp sane/test.conf $(SANE_RUN_DIR)/test.conf
	SANE_CONFIG_DIR=$(SANE_RUN_DIR):/etc/sane.d $(BUILD_DIR)/app/vantrel

# The whole suite twice: with AddressSanitizer/UBSan, then in an optimised build without them,
# where the memory-limit tests run (ASan cannot run under an address-space limit) and where
# timing-dependent paths meet the real allocator (ASan's hides some deadlocks).
test: setup
	cmake -S . -B $(TEST_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVANTREL_SANITIZE=ON $(CMAKE_WERROR)
	cmake --build $(TEST_DIR) -j $(JOBS)
	ctest --test-dir $(TEST_DIR) --output-on-failure -j $(JOBS)
	cmake -S . -B $(RELEASE_TEST_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_WERROR)
	cmake --build $(RELEASE_TEST_DIR) -j $(JOBS)
	ctest --test-dir $(RELEASE_TEST_DIR) --output-on-failure -j $(JOBS)

bench: setup
	cmake -S . -B $(BENCH_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DVANTREL_BUILD_TESTS=OFF -DVANTREL_BUILD_BENCH=ON
	cmake --build $(BENCH_DIR) -j $(JOBS)
	bash bench/run.sh $(BENCH_DIR)

# libFuzzer targets (clang, ASan+UBSan) run for FUZZ_SECONDS each, seeded from the test images.
fuzz-smoke: setup
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTREL_BUILD_FUZZERS=ON -DVANTREL_BUILD_TESTS=OFF
	bash scripts/fuzz-smoke.sh $(FUZZ_DIR) $(FUZZ_SECONDS)

# Long runs: each target FUZZ_SECONDS in turn, corpus and CPU-time ledger kept in FUZZ_STATE.
FUZZ_STATE ?= $(HOME)/.cache/vantrel-fuzz
fuzz-soak: setup
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTREL_BUILD_FUZZERS=ON -DVANTREL_BUILD_TESTS=OFF
	cmake --build $(FUZZ_DIR) -j $(JOBS)
	bash scripts/fuzz-soak.sh $(FUZZ_DIR) $(FUZZ_STATE) $(FUZZ_SECONDS)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
