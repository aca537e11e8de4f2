# Kestrova: `make run` and `make test` set everything up from Debian's packages, build and go.
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all setup configure build run test package bench asan tsan format format-check lint clean

all: build

setup:
	@bash scripts/setup.sh

$(BUILD_DIR)/build.ninja:
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS)

configure: setup $(BUILD_DIR)/build.ninja

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	./$(BUILD_DIR)/App/App/kestrova

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

# A Debian package of the program: $(BUILD_DIR)/kestrova_<version>_<arch>.deb.
package: build
	cd $(BUILD_DIR) && cpack -G DEB

# Benchmarks want an optimised build of their own.
bench: setup
	cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTROVA_BUILD_TESTS=OFF
	cmake --build build-release -j $(JOBS)
	./build-release/bench/pipeline_bench
	./build-release/bench/capture_bench
	./build-release/bench/click_rings_bench

# The whole suite under AddressSanitizer + UndefinedBehaviorSanitizer, and under ThreadSanitizer.
asan: setup
	$(MAKE) test BUILD_DIR=build-asan BUILD_TYPE=Debug CMAKE_FLAGS="-DKESTROVA_SANITIZE=address -DKESTROVA_BUILD_BENCH=OFF"

tsan: setup
	$(MAKE) test BUILD_DIR=build-tsan BUILD_TYPE=Debug CMAKE_FLAGS="-DKESTROVA_SANITIZE=thread -DKESTROVA_BUILD_BENCH=OFF"

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

format-check: setup
	git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

# The program built with clang, whose thread-safety analysis fails the build where a guarded field
# is touched without its lock or queue, then clang-tidy with the checks in .clang-tidy over App/.
# Tests and benchmarks are left out: they would double the time and hold no locking of their own.
lint: setup
	cmake -S . -B build-lint -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
	  -DKESTROVA_BUILD_TESTS=OFF -DKESTROVA_BUILD_BENCH=OFF
	cmake --build build-lint -j $(JOBS)
	run-clang-tidy -quiet -p build-lint -j $(JOBS) '^$(CURDIR)/App/.*\.cpp$$'

clean:
	rm -rf build build-release build-asan build-tsan build-lint
