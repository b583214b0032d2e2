# Convenience targets; the build itself is CMake. Every target installs what is missing.
BUILD_DIR ?= build
WERROR ?= OFF
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps configure build test demo run package screenshot clean format

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD_DIR) -DLORVEX_WERROR=$(WERROR) $(CMAKE_FLAGS) >/dev/null

build: configure
	@env -u MAKEFLAGS -u MAKELEVEL cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	@ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

demo: build
	@scripts/demo $(BUILD_DIR)/bin

run: build
	@$(BUILD_DIR)/bin/lorvex

package: build
	@cd $(BUILD_DIR) && cpack -G DEB

screenshot: build
	@scripts/install-deps screenshot
	@scripts/screenshot $(BUILD_DIR)/bin docs/window.png

format:
	@clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	@rm -rf $(BUILD_DIR)
