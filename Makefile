# Set-up and everyday commands. `make demo` and `make test` install what is missing first.
JOBS        ?= $(shell nproc)
BUILD       ?= build
TEST_BUILD  ?= build-test
BENCH_BUILD ?= build-bench
FUZZ_BUILD  ?= build-fuzz
CLANG_BUILD ?= build-clang
# Seconds each fuzz target runs: briefly in `make test`, longer in `make fuzz`.
FUZZ_SMOKE_SECONDS ?= 5
FUZZ_SECONDS ?= 300
CMAKE_FLAGS ?=
# What tools/tidy-changed.sh compares with; empty: the merge base with origin/main.
TIDY_BASE ?=
# ccache, where it is installed, speeds up the clang build; nothing requires it.
CCACHE_LAUNCHER := $(if $(shell command -v ccache 2>/dev/null),\
	-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

.PHONY: all deps build test demo bench gallery fuzz fuzz-build clang-check tidy clean

all: build

deps:
	@tools/install-deps.sh deps/debian.txt

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

# The whole suite, under AddressSanitizer, LeakSanitizer and UndefinedBehaviorSanitizer (the
# format check included); lumora built by clang in Release and checked as a host sees it;
# clang-tidy on the sources changed since TIDY_BASE; every fuzz target for a few seconds.
test: deps
	cmake -S . -B $(TEST_BUILD) -DCMAKE_BUILD_TYPE=Debug -DQORV_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build $(TEST_BUILD) -j $(JOBS)
	cd $(TEST_BUILD) && ctest --output-on-failure -j $(JOBS)
	$(MAKE) --no-print-directory clang-check
	$(MAKE) --no-print-directory tidy
	$(MAKE) --no-print-directory fuzz-build
	tools/run-fuzz.sh $(FUZZ_BUILD) $(FUZZ_SMOKE_SECONDS)

# liblumora.so built by clang in Release, warnings as errors, then its export list and the
# installed package used by a host project (tests lumora_exports, lumora_consumer). Only the
# library is built: the rest of the product meets clang in the fuzz build.
clang-check: deps
	cmake -S . -B $(CLANG_BUILD) -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_COMPILER=clang \
		-DCMAKE_CXX_COMPILER=clang++ -DQORV_WERROR=ON -DQORV_TESTS=ON $(CCACHE_LAUNCHER) \
		$(CMAKE_FLAGS)
	cmake --build $(CLANG_BUILD) -j $(JOBS) --target lumora
	cd $(CLANG_BUILD) && ctest --output-on-failure --no-tests=error \
		-R '^lumora_(exports|consumer)$$'

# clang-tidy (.clang-tidy) on the C++ sources changed since TIDY_BASE, with the compile
# commands of the test build (built, so that the files moc generates exist).
tidy:
	JOBS=$(JOBS) tools/tidy-changed.sh "$(TIDY_BASE)" $(TEST_BUILD)

# The libFuzzer targets, built with clang (fuzz/CMakeLists.txt).
fuzz-build: deps
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
		-DCMAKE_CXX_COMPILER=clang++ -DQORV_FUZZ=ON -DQORV_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_targets

# Every fuzz target for FUZZ_SECONDS, each from the corpus it gathered in earlier runs.
fuzz: fuzz-build
	tools/run-fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

# Only what the demo runs: the updater, the cipher it loads and the administrator's tool.
demo: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS) --target qorv_update lmget qorv_admin
	tools/demo.sh $(BUILD)

# lumora's gallery window; without a display its test shows it under Xvfb and saves two
# screenshots.
gallery: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQORV_TESTS=ON $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS) --target lumora_gallery gallery_test
	examples/gallery/run.sh $(BUILD)

bench: deps
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DQORV_TESTS=OFF -DQORV_BENCH=ON $(CMAKE_FLAGS)
	cmake --build $(BENCH_BUILD) -j $(JOBS)
	bench/run.sh $(BENCH_BUILD)

clean:
	rm -rf $(BUILD) $(TEST_BUILD) $(BENCH_BUILD) $(FUZZ_BUILD) $(CLANG_BUILD) demo
