# Thin driver over the CMake presets. `make test` installs what is missing (as root), builds the
# host, Win32 and Win32-test builds and runs every test: host, Wine and the fuzzers. The Wine
# tests run the i686 build under 32-bit Wine, or the x86_64 build of the same sources under
# 64-bit Wine where the machine runs no 32-bit program (scripts/test-win32.sh decides).
SHELL := /bin/bash
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 30
SOAK_SEEDS ?= 3000

.PHONY: all deps host win32 win32-tests win64-tests test test-host test-win32 fuzz fuzz-build demo dist clean bench soak package sample-files

all: host win32

deps:
	@bash scripts/install-deps.sh

host: deps
	cmake --preset host
	cmake --build --preset host -j $(JOBS)

win32: deps
	cmake --preset win32
	cmake --build --preset win32 -j $(JOBS)

win32-tests: deps
	cmake --preset win32-tests
	cmake --build --preset win32-tests -j $(JOBS)

win64-tests: deps
	cmake --preset win64-tests
	cmake --build --preset win64-tests -j $(JOBS)

test-host: host
	ctest --preset host -j $(JOBS) --output-on-failure

test-win32: host win32
	bash scripts/test-win32.sh $(JOBS)

fuzz-build: deps
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)

fuzz: fuzz-build
	@bash scripts/run-fuzzers.sh build/fuzz $(FUZZ_SECONDS)

test: test-host test-win32 fuzz

# Benchmark figures (build/bench, -O2, no sanitizers), also written to bench/RESULTS.md, and
# uninst-sim timed as a whole process on generated exports (a release build in build/bench-sim)
# and on a 2 GB disk image (the sanitized host build).
bench: deps
	cmake --preset bench
	cmake --build --preset bench -j $(JOBS)
	cmake --preset release -B build/bench-sim
	cmake --build build/bench-sim -j $(JOBS) --target uninst-sim
	cmake --preset host
	cmake --build --preset host -j $(JOBS) --target uninst-sim
	bash bench/run.sh

# The random-machine invariants over many more seeds than `make test` runs.
soak: host
	UNINST_RANDOM_SEEDS=$(SOAK_SEEDS) build/host/uninst_tests --gtest_filter='RandomMachines.*'

# The uninstaller on the bundled sample machine, answering Yes, No, No: uninst-sim alone, in a
# release build of its own, with only the packages it needs.
demo:
	@bash scripts/install-deps.sh --demo
	cmake --preset release
	cmake --build --preset release -j $(JOBS) --target uninst-sim
	build/release/tools/uninst-sim --machine samples/win98 --answers yes,no,no

# The win98 sample as a registry file and a disk image, to try --hive and --disk on:
# build/samples/SYSTEM.DAT and build/samples/win98.img.
sample-files: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS) --target uninst-sim sample-hive
	bash samples/make-sample-files.sh build/release/sample-hive build/samples

# A Debian package of uninst-sim (the release build): build/release/uninst-sim_VERSION_ARCH.deb.
package: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS) --target package

# Uninst.exe and the floppy and CD images a Windows 98/ME machine takes it from, in dist/. The
# win32 build relinks only when out of date: a link stamps the time, so the copy stays the build's.
dist: win32
	bash scripts/make-dist.sh build/win32/app/Uninst.exe dist

clean:
	rm -rf build
