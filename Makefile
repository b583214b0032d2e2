# Convenience targets; the build itself is CMake. `make deps`, `make demo`, `make test` and
# the targets that need packages of their own (windows, sanitize, fuzz, bench, screenshot)
# install what is missing; `make check`, `build`, `run` and `package` only build what changed.
BUILD_DIR ?= build
WERROR ?= OFF
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
# One clang tree serves the sanitizer suite and the fuzzers; -O1 with line tables only, as
# sanitizers are usually built: a tenth faster to build than -O2 -g, the suite as fast.
SANITIZE_DIR ?= build-sanitize
SANITIZE_FLAGS = -DCMAKE_CXX_COMPILER=clang++ -DLORVEX_SANITIZE=ON -DLORVEX_FUZZ=ON \
	-DCMAKE_BUILD_TYPE=Debug '-DCMAKE_CXX_FLAGS_DEBUG=-O1 -gline-tables-only' \
	-DLORVEX_WERROR=$(WERROR) $(CMAKE_FLAGS)
# Seconds per fuzzer: `make fuzz` runs them long, `make test` briefly.
FUZZ_SECONDS ?= 30
TEST_FUZZ_SECONDS ?= 10
WINDOWS_DIR ?= build-windows
BENCH_ARGS ?=
# Any AddressSanitizer, LeakSanitizer or UndefinedBehaviorSanitizer report fails the test.
SANITIZER_ENV = ASAN_OPTIONS=abort_on_error=1:detect_leaks=1:strict_string_checks=1 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:abort_on_error=1

.PHONY: all deps configure build check test test-windows sanitize test-sanitize fuzz demo run \
	package screenshot \
	bench bench-deps windows windows-package clean format

all: build

deps:
	@scripts/install-deps

# Configures only a new tree or one whose WERROR or CMAKE_FLAGS changed; the build re-runs
# CMake by itself when a CMakeLists.txt changes.
configure:
	@scripts/configure $(BUILD_DIR) -DLORVEX_WERROR=$(WERROR) $(CMAKE_FLAGS)

build: configure
	@env -u MAKEFLAGS -u MAKELEVEL cmake --build $(BUILD_DIR) -j $(JOBS)

# The fast inner loop: the native build and its unit tests (CTest label "unit"), no
# installer.
check: build
	@ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS) -L unit

# Everything: the native suite (unit, system and slow tests), the Windows suites under
# wine, the suite again with sanitizers, and each fuzzer briefly.
test: deps
	@$(MAKE) --no-print-directory build
	@ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)
	@$(MAKE) --no-print-directory windows
	@# The Windows suite mostly waits on wine: the sanitizer tree is built meanwhile, and
	@# the suite's output shown once both are done.
	@ctest --test-dir $(WINDOWS_DIR) --output-on-failure -j $(JOBS) \
		> $(WINDOWS_DIR)/suite.log 2>&1 & suite=$$!; \
	$(MAKE) --no-print-directory sanitize; built=$$?; \
	wait $$suite; passed=$$?; cat $(WINDOWS_DIR)/suite.log; \
	test $$built -eq 0 && test $$passed -eq 0
	@$(SANITIZER_ENV) ctest --test-dir $(SANITIZE_DIR) --output-on-failure -j $(JOBS)
	@$(MAKE) --no-print-directory fuzz FUZZ_SECONDS=$(TEST_FUZZ_SECONDS)

sanitize: deps
	@scripts/configure $(SANITIZE_DIR) $(SANITIZE_FLAGS)
	@env -u MAKEFLAGS -u MAKELEVEL cmake --build $(SANITIZE_DIR) -j $(JOBS)

test-sanitize: sanitize
	@$(SANITIZER_ENV) ctest --test-dir $(SANITIZE_DIR) --output-on-failure -j $(JOBS)

# Windows: lorvex.exe, lorvex.com and the data files in $(WINDOWS_DIR)/bin, cross-built
# with MinGW-w64; the tests run under wine.
windows:
	@scripts/install-deps windows
	@scripts/configure $(WINDOWS_DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
		-DLORVEX_WERROR=$(WERROR)
	@env -u MAKEFLAGS -u MAKELEVEL cmake --build $(WINDOWS_DIR) -j $(JOBS)

test-windows: windows
	@ctest --test-dir $(WINDOWS_DIR) --output-on-failure -j $(JOBS)

# The portable zip and the installer, in $(WINDOWS_DIR).
windows-package: windows
	@env -u MAKEFLAGS -u MAKELEVEL cmake --build $(WINDOWS_DIR) --target windows-package

# The fuzzers, built in the sanitizer tree, FUZZ_SECONDS each, JOBS at a time.
fuzz: deps
	@scripts/configure $(SANITIZE_DIR) $(SANITIZE_FLAGS)
	@JOBS=$(JOBS) scripts/fuzz $(SANITIZE_DIR) $(FUZZ_SECONDS)

demo: deps
	@$(MAKE) --no-print-directory build
	@scripts/demo $(BUILD_DIR)/bin

run: build
	@$(BUILD_DIR)/bin/lorvex

package: build
	@cd $(BUILD_DIR) && cpack -G DEB

screenshot: build windows
	@scripts/install-deps screenshot
	@scripts/screenshot $(BUILD_DIR)/bin docs/window.png
	@scripts/screenshot-windows $(WINDOWS_DIR)/bin docs/window-windows.png

# Benchmarks, not tests: lorvex against a minimal mover and a shell pipeline, and Google
# Benchmark of the scan and the pass. Prints the table and writes it to docs/performance.md.
bench: bench-deps
	@$(MAKE) --no-print-directory build CMAKE_FLAGS="$(CMAKE_FLAGS) -DLORVEX_BUILD_BENCH=ON"
	@bench/run-bench $(BUILD_DIR) $(BENCH_ARGS)

bench-deps:
	@scripts/install-deps bench

format:
	@clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	@WINEPREFIX="$(CURDIR)/$(WINDOWS_DIR)/wineprefix" wineserver -k 2>/dev/null || true
	@rm -rf $(BUILD_DIR) $(SANITIZE_DIR) $(WINDOWS_DIR)
