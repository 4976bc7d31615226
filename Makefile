# The two front doors: `make demo` runs the control on the embedded default
# catalogue, `make test` runs every test (and once more under AddressSanitizer
# and UndefinedBehaviorSanitizer, then a short run of every fuzz target).
# Both install what they need first.
BUILD ?= build
ASAN_BUILD ?= build-asan
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
# Seconds each fuzz target runs in the test command; docs/reliability.md
# gives the command for a long run.
FUZZ_SECONDS ?= 20

.PHONY: all deps build demo test format-check test-fast test-asan test-fuzz bench clean

all: build

deps:
	@tools/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS)

demo: build
	tools/run-demo.sh $(BUILD)

test-fast: build
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DKEVRA_SANITIZE=ON -DKEVRA_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(ASAN_BUILD) -j$(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure -j$(JOBS) -LE no-sanitizer

test-fuzz: deps
	fuzz/run.sh $(FUZZ_SECONDS)

# Every C and C++ file as .clang-format has it (tools/format.sh --fix mends).
format-check: deps
	tools/format.sh --check

test: format-check test-fast test-asan test-fuzz

# The full benchmark run (Release build in build-bench/, figures and plot).
bench: deps
	tools/run-bench.sh

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) build-fuzz
