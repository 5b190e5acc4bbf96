# The ways in: `make demo` builds the six programs and runs the loopback
# demo, `make test` every test and check, `make package` the packages. Each
# first installs what it needs and is missing (.ci/install-deps).
SHELL := /bin/bash

GENERATOR := $(shell command -v ninja >/dev/null 2>&1 && echo Ninja || echo "Unix Makefiles")
JOBS ?= $(shell nproc 2>/dev/null || sysctl -n hw.ncpu 2>/dev/null || echo 2)
FUZZ_SECONDS ?= 25
DEMO_PORT ?= 16454
PROGRAMS := cuetrig dmxscope framelog linecast rampgen showrun
PACKAGE_DIR ?= build-package
PREFIX ?= /usr/local
# $(call DEBIAN_FLAGS,<build folder>) sets the shell array flags to CMake
# options that hold Debian's own compiler and linker flags (hardening
# included) where dpkg-buildflags is. It is looked up when the recipe runs,
# after install-deps, and the flags are given at every configure, so that a
# folder configured before keeps up. CPPFLAGS join CXXFLAGS, as CMake reads no
# CPPFLAGS. dpkg-buildflags maps the source folder's path out of the debug
# information, which leaves the build folder's in (and so in the build ID
# that stripping keeps): it is mapped too, so that a build in another folder
# gives the same bytes.
DEB_FLAGS = $$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get $(1))
DEBIAN_FLAGS = flags=(); if command -v dpkg-buildflags >/dev/null 2>&1; then \
	flags=(-DCMAKE_CXX_FLAGS="$(call DEB_FLAGS,CPPFLAGS) $(call DEB_FLAGS,CXXFLAGS) -ffile-prefix-map=$(abspath $(1))=." \
		-DCMAKE_EXE_LINKER_FLAGS="$(call DEB_FLAGS,LDFLAGS)"); fi;

.PHONY: all programs build demo install uninstall test test-plain test-sanitize fuzz lint manlint format \
	release-builds install-check package package-check package-reproducible clean

all: programs

# The six programs and nothing else: all the demo needs.
programs:
	@bash .ci/install-deps demo
	cmake -S . -B build -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build -j $(JOBS) --target $(PROGRAMS)

# The programs, their manual pages, completions and documents under PREFIX
# (/usr/local unless given), staged under DESTDIR when it is set: `make`, then
# `sudo make install`. uninstall removes what the last install wrote, under
# the DESTDIR it used, and the folders it created once they are empty.
install: programs
	cmake --build build -j $(JOBS) --target manuals
	DESTDIR="$(DESTDIR)" cmake --install build --prefix "$(PREFIX)"

uninstall:
	cmake --build build --target uninstall

# Everything, warnings fatal.
build:
	@bash .ci/install-deps test
	cmake -S . -B build -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DDMXKIT_TESTS=ON -DDMXKIT_BENCH=ON -DDMXKIT_WERROR=ON
	cmake --build build -j $(JOBS)

# The whole chain on loopback: showrun writes its demo file and plays it to
# 127.0.0.1 while framelog records it; then both reports (status lines as a
# terminal would finally show them) and the recording.
demo: programs
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

test: test-plain test-sanitize lint fuzz release-builds install-check package-check package-reproducible

test-plain: build
	ctest --test-dir build --output-on-failure -j $(JOBS)

test-sanitize:
	@bash .ci/install-deps test
	cmake -S . -B build-sanitize -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
		-DDMXKIT_SANITIZE=ON -DDMXKIT_TESTS=ON -DDMXKIT_BENCH=OFF -DDMXKIT_WERROR=ON
	cmake --build build-sanitize -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --test-dir build-sanitize --output-on-failure -j $(JOBS)

# Each fuzz target runs for FUZZ_SECONDS; any crash fails the run. The
# targets' own output (usage texts, messages) is closed off; libFuzzer keeps its.
fuzz:
	@bash .ci/install-deps test
	cmake -S . -B build-fuzz -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
		-DDMXKIT_FUZZ=ON -DDMXKIT_WERROR=ON
	cmake --build build-fuzz -j $(JOBS)
	mkdir -p build-fuzz/artifacts
	for target in build-fuzz/fuzzers/fuzz_*; do \
		echo "== $$target"; \
		$$target -max_total_time=$(FUZZ_SECONDS) -close_fd_mask=3 -artifact_prefix=build-fuzz/artifacts/ -print_final_stats=1 2>&1 \
			| grep -E 'stat::number_of_executed_units|ERROR|SUMMARY|Test unit written' ; \
		test $${PIPESTATUS[0]} -eq 0 || exit 1; \
	done

lint: build manlint
	git ls-files '*.cpp' '*.hpp' | xargs clang-format --dry-run --Werror
	git ls-files '*.cpp' | grep -v -E '^(tests|fuzz|bench)/' | xargs -P $(JOBS) -n 4 clang-tidy -p build --quiet 2>&1 \
		| grep -v -E 'warnings? generated|^Suppressed|^Use -header-filter' ; \
	test $${PIPESTATUS[1]} -eq 0

# mandoc prints nothing for a clean page. It does not see words run together
# (.BR joins its arguments, so `.BR \-p ), keeps the` renders as one word):
# each page is rendered wide, so that no line breaks hide a run, and a word
# of 22 or more letters in a row fails, paths and URLs aside.
manlint:
	@bash .ci/install-deps test
	@out=$$(mandoc -Tlint docs/man/*.1 2>&1); if [ -n "$$out" ]; then echo "$$out"; exit 1; fi
	@set -o pipefail; status=0; for page in docs/man/*.1; do \
		text=$$(mandoc -Tascii -Owidth=250 $$page | col -b) || exit 1; \
		words=$$(tr -s ' \t' '\n\n' <<<"$$text" | grep -v / | grep -E '[[:alpha:]]{22,}'); \
		if [ -n "$$words" ]; then echo "$$page: words run together:"; echo "$$words" | sed 's/^/  /'; status=1; fi; \
	done; exit $$status

# The builds users and packagers make, warnings fatal: Release with GCC and
# Debian's hardening flags (tests run), Release with Clang, and a configure
# that finds no GoogleTest.
release-builds:
	@bash .ci/install-deps test
	$(call DEBIAN_FLAGS,build-release) cmake -S . -B build-release -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=Release \
		-DCMAKE_CXX_COMPILER=g++ -DDMXKIT_WERROR=ON "$${flags[@]}"
	cmake --build build-release -j $(JOBS)
	ctest --test-dir build-release --output-on-failure -j $(JOBS)
	rm -rf build-release/staged
	mkdir -p build-release/staged/usr/local/share/man
	DESTDIR=$$PWD/build-release/staged cmake --install build-release --prefix /usr/local >/dev/null
	test -x build-release/staged/usr/local/bin/showrun
	DESTDIR=$$PWD/build-release/staged cmake --build build-release --target uninstall >/dev/null
	@# The install's files and folders are gone; the empty folders that were there before stay.
	diff <(cd build-release/staged && find . -mindepth 1 | sort) \
		<(printf '%s\n' ./usr ./usr/local ./usr/local/share ./usr/local/share/man)
	cmake -S . -B build-clang -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=clang++ \
		-DDMXKIT_WERROR=ON
	cmake --build build-clang -j $(JOBS)
	rm -rf build-nogtest
	cmake -S . -B build-nogtest -G "$(GENERATOR)" -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON \
		| tee build-nogtest.log | grep 'GTest not found'
	rm -f build-nogtest.log

# make install and make uninstall as a user types them, staged in a folder.
install-check: build
	rm -rf build/staged && mkdir build/staged
	$(MAKE) --no-print-directory install DESTDIR=$$PWD/build/staged PREFIX=/opt/dmxkit >/dev/null
	test -x build/staged/opt/dmxkit/bin/showrun
	test -f build/staged/opt/dmxkit/share/man/man1/framelog.1.gz -o -f build/staged/opt/dmxkit/share/man/man1/framelog.1
	$(MAKE) --no-print-directory uninstall >/dev/null
	test -z "$$(find build/staged -mindepth 1)"
	rm -rf build/staged

# A .tar.gz and, on Debian and Ubuntu, a .deb (install-deps brings dpkg-dev
# for it), in build-package/ (or PACKAGE_DIR). Both are reproducible (see
# packaging/package.cmake).
package:
	@bash .ci/install-deps package
	$(call DEBIAN_FLAGS,$(PACKAGE_DIR)) cmake -S . -B $(PACKAGE_DIR) -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=Release \
		-DDMXKIT_TESTS=OFF -DDMXKIT_BENCH=OFF "$${flags[@]}"
	cmake --build $(PACKAGE_DIR) -j $(JOBS)
	@# What CPack writes (folders, archive members) takes its mode from the umask.
	cd $(PACKAGE_DIR) && umask 022 && cpack

# What the .deb holds and whether it runs once unpacked; lintian's verdict.
package-check: package
	@bash .ci/install-deps test
	bash .ci/check-package build-package

# The packages built again from nothing in another folder are the same bytes:
# neither the time, nor the folder, nor an earlier build reaches them.
package-reproducible: package
	rm -rf build-package-again
	$(MAKE) --no-print-directory package PACKAGE_DIR=build-package-again
	bash .ci/same-packages build-package build-package-again
	rm -rf build-package-again

format:
	git ls-files '*.cpp' '*.hpp' | xargs clang-format -i

clean:
	rm -rf build build-sanitize build-fuzz build-release build-clang build-nogtest build-package build-package-again demo-out
