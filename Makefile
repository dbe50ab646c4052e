# The two commands a newcomer needs: `make test` and `make run`. Each installs what is missing first.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
export CCACHE_BASEDIR := $(CURDIR)
export QT_QPA_PLATFORM ?= offscreen

.PHONY: deps configure build test run bench fuzz fuzz-smoke format clean

deps:
	@bash tools/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

run: build
	@if [ -x $(BUILD)/quenda ]; then QT_QPA_PLATFORM= $(BUILD)/quenda; else $(BUILD)/app/cli/quenda-cli --help; fi

clean:
	rm -rf $(BUILD)
