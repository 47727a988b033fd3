# Newcomer's entry points: `make run` and `make test`. Everything a fresh
# Debian 12 machine lacks is installed by the `deps` step below.

# The one list of Debian packages the project builds, tests and runs with.
PACKAGES := cmake ninja-build g++ pkg-config \
            libgtest-dev libgmock-dev libbenchmark-dev \
            qt6-base-dev libpugixml-dev rapidjson-dev \
            clang-14 clang-format-14 libclang-rt-14-dev \
            fonts-dejavu-core dpkg-dev file

BUILD    ?= build
# The newcomer's build is the one packagers and users make: Release. CI builds
# and tests it with warnings as errors; the sanitizer, thread-sanitizer and
# fuzz builds add Debug and -O2 builds of the same code.
BUILD_TYPE ?= Release
# Where `make release` and `make package` build (CI passes its test build).
RELEASE_BUILD ?= build-release
JOBS     ?= $(shell nproc)
SUDO     := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
FUZZ_SECONDS ?= 30
# CI sets WERROR=ON; a newcomer's or packager's build only warns.
WERROR   ?= OFF

CMAKE_COMMON := -G Ninja -DKDS_WERROR=$(WERROR)

.PHONY: all deps configure build run test sanitize tsan release package package-check format format-check fuzz-smoke bench clean

all: build

deps:
	@missing=""; \
	for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y --no-install-recommends $$missing; \
	fi

configure: deps
	cmake -S . -B $(BUILD) $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# Builds the programs (kdssv, and kdsterm for the tour) and starts kdssv.
# Action1 takes in the order files waiting in $(BUILD)/KDS/Before (beside the
# program) and moves them to $(BUILD)/KDS/AFTER; the program makes neither
# folder, so this step does when they are missing. Without a display the window runs offscreen, and the
# program says so.
run: configure
	cmake --build $(BUILD) -j $(JOBS) --target kds_programs
	@mkdir -p $(BUILD)/KDS/Before $(BUILD)/KDS/AFTER
	@echo "kdssv: drop order files into $(abspath $(BUILD))/KDS/Before and press Action1" \
	  "(samples: cp samples/orders/*.xml $(BUILD)/KDS/Before/)"
	$(BUILD)/kdssv

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) --timeout 300

# The same tests under AddressSanitizer (with LeakSanitizer) and UBSan.
sanitize: deps
	cmake -S . -B build-sanitize $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=Debug \
	  -DKDS_SANITIZE=ON -DKDS_BUILD_BENCH=OFF
	cmake --build build-sanitize -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	ctest --test-dir build-sanitize --output-on-failure -j $(JOBS) --timeout 600

# The tests of the code that runs threads (the wire layer's TCP server, the
# server's sessions, registry and channels, the client) under
# ThreadSanitizer; no window: Qt's own threads are not instrumented.
tsan: deps
	cmake -S . -B build-tsan $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DKDS_TSAN=ON -DKDS_WITH_UI=OFF -DKDS_BUILD_BENCH=OFF -DKDS_TESTS="wire;server;client"
	cmake --build build-tsan -j $(JOBS)
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	ctest --test-dir build-tsan --output-on-failure -j $(JOBS) --timeout 600

# The build packagers and users make: every target in Release.
release: deps
	cmake -S . -B $(RELEASE_BUILD) $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(RELEASE_BUILD) -j $(JOBS)

# The Debian package from the Release build's install rules (cmake/Packaging.cmake):
# $(RELEASE_BUILD)/packages/kdssv_<version>_<arch>.deb. Only what the package
# holds is built; the build folder is the one `make release` makes.
package: deps
	cmake -S . -B $(RELEASE_BUILD) $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(RELEASE_BUILD) -j $(JOBS) --target kds_programs
	rm -f $(RELEASE_BUILD)/packages/*.deb
	cd $(RELEASE_BUILD) && cpack -G DEB
# Builds the package and checks its file list, control fields and maintainer
# scripts (CI runs it).
package-check: package
	packaging/check-package.sh $(RELEASE_BUILD)/packages/*.deb

# Every C++ file of the tree against .clang-format.
FORMAT_FILES = $(shell git ls-files '*.cpp' '*.h')
format:
	clang-format-14 -i --style=file $(FORMAT_FILES)
format-check:
	@echo "clang-format-14 --dry-run -Werror on $(words $(FORMAT_FILES)) files"
	@clang-format-14 --dry-run -Werror --style=file $(FORMAT_FILES)

# Builds every fuzz target with clang and runs each for FUZZ_SECONDS.
fuzz-smoke: deps
	CXX=clang++-14 cmake -S . -B build-fuzz $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DKDS_FUZZ=ON -DKDS_WITH_UI=OFF -DKDS_BUILD_TESTS=OFF -DKDS_BUILD_BENCH=OFF
	cmake --build build-fuzz -j $(JOBS)
	@set -e; for f in build-fuzz/fuzz/fuzz_*; do \
	  [ -x "$$f" ] || continue; \
	  name=$$(basename $$f); corpus=build-fuzz/corpus/$$name; mkdir -p $$corpus; \
	  echo "== $$name for $(FUZZ_SECONDS) s"; \
	  seeds=""; [ -d fuzz/seeds/$$name ] && seeds=fuzz/seeds/$$name; \
	  $$f -max_total_time=$(FUZZ_SECONDS) -rss_limit_mb=2048 -print_final_stats=1 $$corpus $$seeds; \
	done

# Runs every benchmark; one that misses its aim exits non-zero, and the rest
# still run.
bench: build
	@missed=""; for b in $(BUILD)/bench/bench_*; do \
	  [ -x "$$b" ] || continue; echo "== $$(basename $$b)"; $$b || missed="$$missed $$(basename $$b)"; \
	done; if [ -n "$$missed" ]; then echo "Missed an aim:$$missed"; exit 1; fi

clean:
	rm -rf $(BUILD) build-sanitize build-tsan build-release build-fuzz
