# The two set-up commands of the README: `make run` and `make test`.
RELEASE_DIR := build/release
TEST_DIR    := build/sanitize
CODEX_DIR   := build/codex
BROWSER_DRIVER_DIR := build/playwright

.PHONY: run test build bench

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

bench: build
	for benchmark in $(RELEASE_DIR)/bench/orvane_bench_*; do $$benchmark --benchmark_repetitions=5 --benchmark_report_aggregates_only=true; done
