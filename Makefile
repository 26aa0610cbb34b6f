# The two commands of the README, and the steps they are made of.
#   make run   builds KvWin101.exe and runs it under Wine against a sample installation
#   make test  builds everything and runs every test
# Both install what is missing first (Debian packages only).

ROOT := $(CURDIR)
BUILD := $(ROOT)/build
JOBS ?= $(shell nproc)
# The update program to embed; empty for the sample one built from tools/.
UPDATE_PROGRAM ?=

CMAKE_COMMON := -DCMAKE_BUILD_TYPE=Release
WINDOWS_ARGS = -DKV_LZSS_TOOL=$(BUILD)/native/kvlzss -DKV_UPDATE_PROGRAM=$(UPDATE_PROGRAM)

.PHONY: run test deps build native i686 x86_64 clean

run: build
	scripts/run-sample.sh

test: build
	ctest --test-dir $(BUILD)/native --output-on-failure

deps:
	@scripts/install-deps.sh

build: i686 x86_64

native: deps
	cmake -S . -B $(BUILD)/native $(CMAKE_COMMON) \
	  -DKV_WIN32_BUILD_DIR=$(BUILD)/i686 -DKV_WIN64_BUILD_DIR=$(BUILD)/x86_64 >/dev/null
	cmake --build $(BUILD)/native -j $(JOBS)

i686: native
	cmake -S . -B $(BUILD)/i686 $(CMAKE_COMMON) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake $(WINDOWS_ARGS) >/dev/null
	cmake --build $(BUILD)/i686 -j $(JOBS)

x86_64: native
	cmake -S . -B $(BUILD)/x86_64 $(CMAKE_COMMON) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake $(WINDOWS_ARGS) >/dev/null
	cmake --build $(BUILD)/x86_64 -j $(JOBS)

clean:
	rm -rf $(BUILD)
