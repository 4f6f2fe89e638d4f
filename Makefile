# Two promises: `make run` sets up, builds and starts Vidmora; `make test` sets up, builds and
# passes every test. Both work on a fresh Debian 12 machine (scripts/setup installs the packages).
BUILD ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
FORMAT_FILES = $(shell git ls-files '*.cpp' '*.h' 2>/dev/null)

.PHONY: setup configure build run test test-asan test-tsan test-cluster bench fuzz format format-check clean

setup:
	bash scripts/setup

configure: setup
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	./$(BUILD)/bin/vidmora

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# vidmora-cli plan/run/report on GNU parallel over ssh and on a Slurm array, all on this machine
# in a network namespace of its own (needs root; installs openssh-server, parallel, slurm-wlm).
test-cluster: configure
	cmake --build $(BUILD) -j $(JOBS) --target vidmora-cli vidmora-encoder
	bash tests/cluster/run $(BUILD)

# The same tests under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: setup
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVIDMORA_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

# The core, engine and vidmora-cli tests under ThreadSanitizer (the toolkit-free parts, where the
# worker threads, the scanner and the main-thread queue meet). Only their targets are built; the
# other suites show up as *_NOT_BUILT and are left out.
TSAN_TARGETS = vidmora_core_tests vidmora_engine_tests vidmora_cli_tests
test-tsan: setup
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVIDMORA_SANITIZE_THREAD=ON \
	  -DVIDMORA_BUILD_GUI=OFF $(CMAKE_FLAGS)
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target $(TSAN_TARGETS)
	TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$(CURDIR)/tests/tsan.supp" \
	  ctest --test-dir $(TSAN_BUILD) --output-on-failure -j $(JOBS) -E '_NOT_BUILT$$'

bench: build
	bash bench/run $(BUILD)

fuzz: setup
	bash scripts/fuzz

format:
	clang-format-14 -i $(FORMAT_FILES)

format-check:
	clang-format-14 --dry-run --Werror $(FORMAT_FILES)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) build-fuzz
