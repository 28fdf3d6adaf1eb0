# The two set-up commands of the README: `make run` and `make test`.
RELEASE_DIR := build/release
TEST_DIR    := build/sanitize
CODEX_DIR   := build/codex
BROWSER_DRIVER_DIR := build/playwright
FUZZ_DIR    := build/fuzz
# How long each fuzz target runs.
FUZZ_SECONDS ?= 60

.PHONY: run test build bench fuzz

run: build
	scripts/run.sh $(RELEASE_DIR)

build:
	scripts/install-deps.sh
	cmake -S . -B $(RELEASE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVANE_BUILD_TESTS=OFF
	cmake --build $(RELEASE_DIR)

test:
	scripts/install-deps.sh --test
	scripts/install-codex.sh $(CODEX_DIR)
	scripts/install-playwright.sh $(BROWSER_DRIVER_DIR)
	cmake -S . -B $(TEST_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORVANE_SANITIZE=ON \
	      -DORVANE_BUILD_BENCHMARKS=OFF -DORVANE_TEST_CODEX_DIR=$(CURDIR)/$(CODEX_DIR)/node_modules/.bin \
	      -DORVANE_TEST_PLAYWRIGHT_DIR=$(CURDIR)/$(BROWSER_DRIVER_DIR)/node_modules
	cmake --build $(TEST_DIR)
	ctest --test-dir $(TEST_DIR) --output-on-failure -j2

# Only the benchmark programs (the build also leaves orvane_bench_*_autogen folders); the first
# that fails fails the target.
bench: build
	@benchmarks=$$(find $(RELEASE_DIR)/bench -maxdepth 1 -type f -perm -u+x -name 'orvane_bench_*' | sort); \
	test -n "$$benchmarks" || { echo "No benchmarks were built in $(RELEASE_DIR)/bench." >&2; exit 1; }; \
	for benchmark in $$benchmarks; do \
		$$benchmark --benchmark_repetitions=5 --benchmark_report_aggregates_only=true || exit 1; \
	done

# The libFuzzer targets, built with clang (every library instrumented), each run for FUZZ_SECONDS.
# Release: clang 14 cannot write debug information for some of our coroutines.
fuzz:
	scripts/install-deps.sh --fuzz
	cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Release \
	      -DORVANE_FUZZ=ON -DORVANE_BUILD_TESTS=OFF -DORVANE_BUILD_BENCHMARKS=OFF
	cmake --build $(FUZZ_DIR) --target orvane_fuzz_targets
	scripts/run-fuzzers.sh $(FUZZ_DIR) $(FUZZ_SECONDS)
