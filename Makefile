# The two commands a newcomer needs: `make test` and `make run`. Each installs what is missing first.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
export CCACHE_BASEDIR := $(CURDIR)
export QT_QPA_PLATFORM ?= offscreen

.PHONY: deps configure build test run bench fuzz fuzz-build fuzz-smoke format clean

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

# Fuzzing: a separate clang build with the sanitizers. `make fuzz-smoke` runs each target for a minute;
# `make fuzz FUZZ_SECONDS=3600` runs longer (FUZZ_TARGETS="fuzz_csv_reader" picks some).
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 600
FUZZ_TARGETS ?=

fuzz-build: deps
	@cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
		-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache -DQUENDA_WITH_FUZZERS=ON >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) --target quenda_fuzzers

fuzz: fuzz-build
	@bash fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

fuzz-smoke: fuzz-build
	@bash fuzz/run.sh $(FUZZ_BUILD) 60 $(FUZZ_TARGETS)

# Every benchmark, one after the other (they are heavy: run them on a quiet machine).
bench: build
	@for b in $(BUILD)/bench/bench_*; do echo "== $$b"; $$b --benchmark_repetitions=3 --benchmark_report_aggregates_only=true; done

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(FUZZ_BUILD)
