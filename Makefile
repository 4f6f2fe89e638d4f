# Two promises: `make run` sets up, builds and starts Vidmora; `make test` sets up, builds and
# passes every test. Both work on a fresh Debian 12 machine (scripts/setup installs the packages).
BUILD ?= build
ASAN_BUILD ?= build-asan
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
FORMAT_FILES = $(shell git ls-files '*.cpp' '*.h' 2>/dev/null)

.PHONY: setup configure build run test test-asan test-cluster bench fuzz format format-check clean

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

bench: build
	bash bench/run $(BUILD)

fuzz: setup
	bash scripts/fuzz

format:
	clang-format-14 -i $(FORMAT_FILES)

format-check:
	clang-format-14 --dry-run --Werror $(FORMAT_FILES)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) build-fuzz
