# Thin wrapper over CMake. Every target installs missing Debian packages first.
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)

.PHONY: all deps configure build run test test-sanitize bench screenshot clean

all: build

deps:
	@sh tools/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	$(BUILD_DIR)/src/app/psmerge

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

# Every test again, built with AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize: deps
	cmake -S . -B $(BUILD_DIR)-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPSMERGE_SANITIZE=ON
	cmake --build $(BUILD_DIR)-sanitize -j $(JOBS)
	ctest --test-dir $(BUILD_DIR)-sanitize --output-on-failure -j $(JOBS)

bench: build
	cmake --build $(BUILD_DIR) --target run-bench

# The README's picture of the window, drawn by the program's own code.
screenshot: build
	$(BUILD_DIR)/tools/psmerge-screenshot docs/screenshot.png 2

clean:
	rm -rf $(BUILD_DIR) $(BUILD_DIR)-sanitize $(BUILD_DIR)-fuzz
