# Thin wrapper over CMake. Every target installs missing Debian packages first.
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)

WINDOWS_BUILD_DIR ?= $(BUILD_DIR)-windows

.PHONY: all deps deps-run configure build run test test-sanitize fuzz bench package screenshot clean \
	configure-windows build-windows test-windows package-windows

all: build

deps:
	@sh tools/install-deps.sh

# Only what building and running the window needs.
deps-run:
	@sh tools/install-deps.sh --run

configure: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

# The window and a5merge-cli: no test, benchmark or fuzz program is built for them.
run: deps-run
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)
	cmake --build $(BUILD_DIR) -j $(JOBS) --target a5merge a5merge-cli
	@echo "a5merge-cli is $(BUILD_DIR)/src/cli/a5merge-cli"
	$(BUILD_DIR)/src/app/a5merge

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

# Every test again, built with AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize: deps
	cmake -S . -B $(BUILD_DIR)-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DA5MERGE_SANITIZE=ON
	cmake --build $(BUILD_DIR)-sanitize -j $(JOBS)
	ctest --test-dir $(BUILD_DIR)-sanitize --output-on-failure -j $(JOBS)

# Windows: cross-built with mingw-w64, tested under wine in a prefix of the
# build folder's own, against a Ghostscript for Windows built once from
# Debian's sources (tools/build-ghostscript-windows.sh, cached).
configure-windows:
	@sh tools/install-deps.sh --windows
	cmake -S . -B $(WINDOWS_BUILD_DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
	    -DCMAKE_BUILD_TYPE=Release \
	    -DA5MERGE_WINDOWS_GHOSTSCRIPT="$$(sh tools/build-ghostscript-windows.sh)"

build-windows: configure-windows
	cmake --build $(WINDOWS_BUILD_DIR) -j $(JOBS)

test-windows: build-windows
	ctest --test-dir $(WINDOWS_BUILD_DIR) --output-on-failure -j $(JOBS)

# The programs for Windows in a zip, in $(WINDOWS_BUILD_DIR).
package-windows:
	@sh tools/install-deps.sh --windows
	cmake -S . -B $(WINDOWS_BUILD_DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
	    -DCMAKE_BUILD_TYPE=Release
	cmake --build $(WINDOWS_BUILD_DIR) -j $(JOBS) --target package-windows

# Each fuzz target for FUZZ_SECONDS, from its seeds in tests/fuzz/corpus.
# What it finds goes to $(BUILD_DIR)-fuzz; crashes stop the run.
FUZZ_SECONDS ?= 30
FUZZ_TARGETS := line_reader input_check writer path_helpers
fuzz:
	@sh tools/install-deps.sh clang libclang-rt-14-dev
	cmake -S . -B $(BUILD_DIR)-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DA5MERGE_FUZZ=ON
	cmake --build $(BUILD_DIR)-fuzz -j $(JOBS) --target $(FUZZ_TARGETS:%=%_fuzz)
	for t in $(FUZZ_TARGETS); do \
	    mkdir -p $(BUILD_DIR)-fuzz/corpus/$$t && \
	    $(BUILD_DIR)-fuzz/tests/fuzz/$${t}_fuzz -max_total_time=$(FUZZ_SECONDS) \
	        -artifact_prefix=$(BUILD_DIR)-fuzz/$$t- $(BUILD_DIR)-fuzz/corpus/$$t tests/fuzz/corpus/$$t \
	        || exit 1; \
	done

# pstops, Xvfb and the X C binding are needed for the benchmark only.
bench: deps
	@sh tools/install-deps.sh psutils xvfb libxcb1-dev
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)
	cmake --build $(BUILD_DIR) -j $(JOBS)
	cmake --build $(BUILD_DIR) --target run-bench

# The Debian package, in $(BUILD_DIR); its dependencies come from the libraries
# linked. Only what it holds is built.
package:
	@sh tools/install-deps.sh --run dpkg-dev file
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)
	cmake --build $(BUILD_DIR) -j $(JOBS) --target a5merge-installed-files
	cd $(BUILD_DIR) && cpack -G DEB

# The README's pictures of the window and its preview, drawn by the program's own code.
screenshot: build
	$(BUILD_DIR)/tools/a5merge-screenshot docs/screenshot.png 2
	$(BUILD_DIR)/tools/a5merge-screenshot --preview docs/preview.png \
	    $(CURDIR)/tests/data/top.ps $(CURDIR)/tests/data/bottom.ps

clean:
	rm -rf $(BUILD_DIR) $(BUILD_DIR)-sanitize $(BUILD_DIR)-fuzz $(WINDOWS_BUILD_DIR)
