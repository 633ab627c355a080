# Set-up and everyday commands. `make demo` and `make test` install what is missing first.
JOBS        ?= $(shell nproc)
BUILD       ?= build
TEST_BUILD  ?= build-test
BENCH_BUILD ?= build-bench
CMAKE_FLAGS ?=

.PHONY: all deps build test demo bench gallery clean

all: build

deps:
	@tools/install-deps.sh deps/debian.txt

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

# The whole suite, under AddressSanitizer and UndefinedBehaviorSanitizer.
test: deps
	cmake -S . -B $(TEST_BUILD) -DCMAKE_BUILD_TYPE=Debug -DQORV_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build $(TEST_BUILD) -j $(JOBS)
	cd $(TEST_BUILD) && ctest --output-on-failure -j $(JOBS)

demo: build
	tools/demo.sh $(BUILD)

# lumora's gallery window; without a display it runs under Xvfb and saves two screenshots.
gallery: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS) --target lumora_gallery
	examples/gallery/run.sh $(BUILD)

bench: deps
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DQORV_TESTS=OFF -DQORV_BENCH=ON $(CMAKE_FLAGS)
	cmake --build $(BENCH_BUILD) -j $(JOBS)
	bench/run.sh $(BENCH_BUILD)

clean:
	rm -rf $(BUILD) $(TEST_BUILD) $(BENCH_BUILD) demo
