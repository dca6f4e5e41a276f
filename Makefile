# CMake builds from one tree: build/win32 (mingw-w64 i686: the stub, vexa.exe, the
# Windows test programs) and build/native (the vexa tool, unit tests, benchmarks).
# The native tool embeds the stub, so the Windows side is built first. build/win64 is
# the same Windows sources for x86_64: the end-to-end tests take their helpers (the
# driver, the setup program) from it, which run natively where the shipped 32-bit
# programs run through qemu-user.

BUILD    ?= build
PREFIX   ?= /usr/local
JOBS     ?= $(shell nproc)
WIN32DIR := $(BUILD)/win32
WIN64DIR := $(BUILD)/win64
NATDIR   := $(BUILD)/native
ASANDIR  := $(BUILD)/asan
FUZZDIR  := $(BUILD)/fuzz
FUZZ_SECONDS ?= 60
CMAKE_BUILD_TYPE ?= Release

.PHONY: all setup win32 win64 native test unit sanitize e2e demo bench fuzz install dist \
        dist-test clean

all: setup
	$(MAKE) native

setup:
	@tools/setup.sh

$(WIN32DIR)/CMakeCache.txt:
	cmake -S . -B $(WIN32DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=MinSizeRel \
	  -DVEXA_SOURCE_CACHE=$(abspath $(BUILD))/sources

win32: $(WIN32DIR)/CMakeCache.txt
	cmake --build $(WIN32DIR) -j $(JOBS)

$(WIN64DIR)/CMakeCache.txt:
	cmake -S . -B $(WIN64DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=MinSizeRel \
	  -DVEXA_SOURCE_CACHE=$(abspath $(BUILD))/sources

win64: $(WIN64DIR)/CMakeCache.txt
	cmake --build $(WIN64DIR) -j $(JOBS)

$(NATDIR)/CMakeCache.txt:
	cmake -S . -B $(NATDIR) -DCMAKE_BUILD_TYPE=$(CMAKE_BUILD_TYPE) -DVEXA_WIN32_BUILD_DIR=$(abspath $(WIN32DIR)) \
	  -DVEXA_SOURCE_CACHE=$(abspath $(BUILD))/sources

native: win32 $(NATDIR)/CMakeCache.txt
	cmake --build $(NATDIR) -j $(JOBS)

unit: native sanitize
	cd $(NATDIR) && ctest --output-on-failure -j $(JOBS)

# The unit tests, and the fuzz targets replaying their seeds and every kept crash input,
# under AddressSanitizer and UndefinedBehaviorSanitizer: any report fails the run.
$(ASANDIR)/CMakeCache.txt:
	cmake -S . -B $(ASANDIR) -DCMAKE_BUILD_TYPE=Debug -DVEXA_SANITIZE=ON -DVEXA_WIN32_BUILD_DIR=$(abspath $(WIN32DIR)) \
	  -DVEXA_SOURCE_CACHE=$(abspath $(BUILD))/sources

sanitize: win32 $(ASANDIR)/CMakeCache.txt
	cmake --build $(ASANDIR) -j $(JOBS) --target vexa_unit_tests vexa_fuzz_targets
	cd $(ASANDIR) && ctest --output-on-failure -j $(JOBS)

# libFuzzer needs clang (Debian's clang, which make setup leaves out: only this target
# uses it). Each target runs FUZZ_SECONDS; crash inputs land in $(FUZZDIR)/fuzz/crashes/
# (see fuzz/run_fuzz.sh).
$(FUZZDIR)/CMakeCache.txt:
	@command -v clang++ >/dev/null || \
	  { echo "make fuzz: needs clang and libFuzzer (clang, libclang-rt-14-dev)"; exit 1; }
	CC=clang CXX=clang++ cmake -S . -B $(FUZZDIR) -DCMAKE_BUILD_TYPE=Debug -DVEXA_FUZZ=ON \
	  -DVEXA_SOURCE_CACHE=$(abspath $(BUILD))/sources

fuzz: $(FUZZDIR)/CMakeCache.txt
	cmake --build $(FUZZDIR) -j $(JOBS) --target vexa_fuzz_targets
	FUZZ_SECONDS=$(FUZZ_SECONDS) fuzz/run_fuzz.sh $(FUZZDIR)

e2e: native win64
	python3 tests/e2e/run.py --build $(BUILD)

test: setup
	$(MAKE) unit
	$(MAKE) e2e
	$(MAKE) dist-test

demo: setup
	$(MAKE) native win64
	python3 tools/demo.py --build $(BUILD)

# One table of ratios against named references, measured side by side in one run.
bench: setup
	$(MAKE) native
	/usr/bin/python3 bench/run_bench.py --native $(NATDIR) --win32 $(WIN32DIR) \
	  --work $(BUILD)/bench --command "make bench"

# The packages users install from, in dist/ (tools/make_dist.py): the .deb, the Linux
# tarball and the Windows zip. SOURCE_DATE_EPOCH (default: the last commit's date) dates
# everything in them, so the same commit gives the same bytes.
dist: setup
	$(MAKE) native
	python3 tools/make_dist.py --native $(NATDIR) --win32 $(WIN32DIR) --out dist

# Builds the packages twice and installs them where no harm is done: the .deb into a scratch
# root, the tarball in place, the zip's vexa.exe under Wine.
dist-test: native
	python3 tests/tools/make_dist_test.py --build $(BUILD)

install: native
	cmake --install $(NATDIR) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD) dist
