# The two commands of README.md: `make demo` and `make test`. Both install what is
# missing on a fresh Debian 12 machine (as root) and are quick when nothing changed.
SHELL := /bin/bash
.ONESHELL:
.SHELLFLAGS := -eu -o pipefail -c

BUILD_DIR   ?= build
PREFIX      := $(abspath $(BUILD_DIR))/ros_prefix
JOBS        ?= $(shell nproc)
CTEST_JOBS  ?= 2
CMAKE_ARGS  := -DCMAKE_PREFIX_PATH=$(PREFIX) -DPython3_EXECUTABLE=/usr/bin/python3

DEBIAN_PACKAGES := g++ make cmake pkg-config python3-empy python3-yaml \
  cyclonedds-dev rosidl-cmake rosidl-generator-c-cpp librosidl-runtime-c-cpp-dev \
  librosidl-typesupport-introspection-c-cpp-dev ament-cmake librcutils-dev librcpputils-dev \
  libspdlog-dev libfmt-dev libsystemd-dev libyaml-cpp-dev libgtest-dev libgmock-dev \
  libbenchmark-dev util-linux tmux clang-14 libclang-rt-14-dev

.PHONY: all deps interfaces build build-asan build-tsan build-fuzz test fuzz demo format clean

all: build

deps:
	missing=$$(for p in $(DEBIAN_PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; done)
	if [ -n "$$missing" ]; then
	  echo "installing:" $$missing
	  apt-get update
	  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $$missing
	fi

interfaces: deps
	ros2_layer/interfaces/build.sh $(PREFIX)

# build TREE CMAKE-FLAGS... [ENVIRONMENT]
define configure_and_build
	if [ ! -f $(BUILD_DIR)/$(1)/CMakeCache.txt ]; then
	  $(3) cmake -S . -B $(BUILD_DIR)/$(1) $(CMAKE_ARGS) $(2)
	fi
	cmake --build $(BUILD_DIR)/$(1) -j$(JOBS)
endef

build: interfaces
	$(call configure_and_build,default,-DCMAKE_BUILD_TYPE=RelWithDebInfo)

build-asan: interfaces
	$(call configure_and_build,asan,-DCMAKE_BUILD_TYPE=Debug -DTAVRIN_SANITIZE=address$(,)undefined)

build-tsan: interfaces
	$(call configure_and_build,tsan,-DCMAKE_BUILD_TYPE=Debug -DTAVRIN_SANITIZE=thread)

, := ,

# The fuzzers, with the layer and the node's sources instrumented for them.
build-fuzz: interfaces
	$(call configure_and_build,fuzz,-DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVRIN_FUZZ=ON \
	  -DTAVRIN_SANITIZE=fuzzer-no-link$(,)address$(,)undefined,CC=clang-14 CXX=clang++-14)

# Each fuzzer for FUZZ_RUNS executions (ten million by default), one after the other.
FUZZ_RUNS ?= 10000000
fuzz: build-fuzz
	cmake $(BUILD_DIR)/fuzz -DTAVRIN_FUZZ_RUNS=$(FUZZ_RUNS) > /dev/null
	for fuzzer in joystick_events_fuzzer joy_samples_fuzzer cdr_fuzzer; do
	  cmake --build $(BUILD_DIR)/fuzz --target run_$$fuzzer
	done

# The whole suite, then again under AddressSanitizer + UndefinedBehaviorSanitizer,
# then the tests of threaded code under ThreadSanitizer, then a short run of each fuzzer.
test: build build-asan build-tsan build-fuzz
	ctest --test-dir $(BUILD_DIR)/default --output-on-failure -j$(CTEST_JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(BUILD_DIR)/asan --output-on-failure -j$(CTEST_JOBS) -LE no_sanitizer
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(abspath ros2_layer/tsan.supp) \
	  ctest --test-dir $(BUILD_DIR)/tsan --output-on-failure -j$(CTEST_JOBS) -L thread
	ctest --test-dir $(BUILD_DIR)/fuzz --output-on-failure -L fuzz

demo: build
	tools/demo.sh $(BUILD_DIR)/default

format:
	git ls-files '*.cpp' '*.hpp' | xargs clang-format -i

clean:
	rm -rf $(BUILD_DIR)
