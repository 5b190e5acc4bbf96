# The single way in: `make demo` runs the loopback demo, `make test` every test.
# Both install missing Debian/Ubuntu packages first.
SHELL := /bin/bash

GENERATOR := $(shell command -v ninja >/dev/null 2>&1 && echo Ninja || echo "Unix Makefiles")
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
FUZZ_SECONDS ?= 25
DEMO_PORT ?= 16454

.PHONY: all deps build demo test test-plain test-sanitize fuzz lint format clean

all: build

deps:
	@bash .ci/install-deps

build: deps
	cmake -S . -B build -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDMXKIT_BENCH=ON
	cmake --build build -j $(JOBS)

# The whole chain on loopback: showrun writes its demo file and plays it to
# 127.0.0.1 while framelog records it; then both reports (status lines as a
# terminal would finally show them) and the recording.
demo: build
	@set -e; out=demo-out; rm -rf $$out; mkdir -p $$out; \
	build/bin/showrun -d $$out/demo.csv 2> $$out/showrun-demo.log; \
	build/bin/framelog -f $$out/recording.csv -p $(DEMO_PORT) -u 0 2> $$out/framelog.log & recorder=$$!; \
	for i in $$(seq 50); do grep -q 'Press Ctrl+C' $$out/framelog.log && break; sleep 0.1; done; \
	build/bin/showrun -f $$out/demo.csv -t 127.0.0.1 -p $(DEMO_PORT) -u 0 2> $$out/showrun.log; \
	sleep 0.2; kill -INT $$recorder; wait $$recorder; \
	echo "== showrun -d $$out/demo.csv"; cat $$out/showrun-demo.log; \
	echo "== showrun -f $$out/demo.csv -t 127.0.0.1 -p $(DEMO_PORT)"; sed -E 's/\r$$//; s/.*\r//' $$out/showrun.log; \
	echo "== framelog -f $$out/recording.csv -p $(DEMO_PORT) -u 0"; sed -E 's/.*\r//' $$out/framelog.log; \
	echo "== $$out/recording.csv"; cat $$out/recording.csv

test: test-plain test-sanitize lint fuzz

test-plain: build
	ctest --test-dir build --output-on-failure -j $(JOBS)

test-sanitize: deps
	cmake -S . -B build-sanitize -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ -DDMXKIT_SANITIZE=ON
	cmake --build build-sanitize -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --test-dir build-sanitize --output-on-failure -j $(JOBS)

# Each fuzz target runs for FUZZ_SECONDS; any crash fails the run.
fuzz: deps
	cmake -S . -B build-fuzz -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ -DDMXKIT_FUZZ=ON
	cmake --build build-fuzz -j $(JOBS)
	mkdir -p build-fuzz/artifacts
	for target in build-fuzz/fuzzers/fuzz_*; do \
		echo "== $$target"; \
		$$target -max_total_time=$(FUZZ_SECONDS) -artifact_prefix=build-fuzz/artifacts/ -print_final_stats=1 2>&1 \
			| grep -E 'stat::number_of_executed_units|ERROR|SUMMARY|Test unit written' ; \
		test $${PIPESTATUS[0]} -eq 0 || exit 1; \
	done

lint: build
	git ls-files '*.cpp' '*.hpp' | xargs clang-format --dry-run --Werror
	git ls-files '*.cpp' | grep -v -E '^(tests|fuzz|bench)/' | xargs -P $(JOBS) -n 4 clang-tidy -p build --quiet 2>&1 \
		| grep -v -E 'warnings? generated|^Suppressed|^Use -header-filter' ; \
	test $${PIPESTATUS[1]} -eq 0

format:
	git ls-files '*.cpp' '*.hpp' | xargs clang-format -i

clean:
	rm -rf build build-sanitize build-fuzz
