# CMake builds from one tree: build/win32 (mingw-w64 i686: the stub, vexa.exe, the
# Windows test programs) and build/native (the vexa tool, unit tests, benchmarks).
# The native tool embeds the stub, so the Windows side is built first. build/win64 is
# the same Windows sources for x86_64: the end-to-end tests run it under 64-bit Wine,
# because this kind of machine cannot execute 32-bit Linux binaries (32-bit Wine).

BUILD    ?= build
PREFIX   ?= /usr/local
JOBS     ?= $(shell nproc)
WIN32DIR := $(BUILD)/win32
WIN64DIR := $(BUILD)/win64
NATDIR   := $(BUILD)/native
CMAKE_BUILD_TYPE ?= Release

.PHONY: all setup win32 win64 native test unit e2e demo bench install clean

all: native

setup:
	@tools/setup.sh

$(WIN32DIR)/CMakeCache.txt:
	cmake -S . -B $(WIN32DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=MinSizeRel

win32: $(WIN32DIR)/CMakeCache.txt
	cmake --build $(WIN32DIR) -j $(JOBS)

$(WIN64DIR)/CMakeCache.txt:
	cmake -S . -B $(WIN64DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=MinSizeRel

win64: $(WIN64DIR)/CMakeCache.txt
	cmake --build $(WIN64DIR) -j $(JOBS)

$(NATDIR)/CMakeCache.txt:
	cmake -S . -B $(NATDIR) -DCMAKE_BUILD_TYPE=$(CMAKE_BUILD_TYPE) -DVEXA_WIN32_BUILD_DIR=$(abspath $(WIN32DIR))

native: win32 $(NATDIR)/CMakeCache.txt
	cmake --build $(NATDIR) -j $(JOBS)

unit: native
	cd $(NATDIR) && ctest --output-on-failure -j $(JOBS)

e2e: native win64
	python3 tests/e2e/run.py --build $(BUILD)

test: setup
	$(MAKE) unit
	$(MAKE) e2e

demo: setup
	$(MAKE) native
	tools/demo.sh $(BUILD)

bench: setup
	$(MAKE) native
	$(NATDIR)/bench/vexa_bench

install: native
	cmake --install $(NATDIR) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD)
