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
  libbenchmark-dev util-linux tmux iproute2

.PHONY: all deps interfaces build build-asan build-tsan test demo soak format clean

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

# build TREE CMAKE-FLAGS...
define configure_and_build
	if [ ! -f $(BUILD_DIR)/$(1)/CMakeCache.txt ]; then
	  cmake -S . -B $(BUILD_DIR)/$(1) $(CMAKE_ARGS) $(2)
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

# The whole suite, then again under AddressSanitizer + UndefinedBehaviorSanitizer,
# then the tests of threaded code under ThreadSanitizer.
test: build build-asan build-tsan
	ctest --test-dir $(BUILD_DIR)/default --output-on-failure -j$(CTEST_JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(BUILD_DIR)/asan --output-on-failure -j$(CTEST_JOBS) -LE no_sanitizer
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(abspath ros2_layer/tsan.supp) \
	  ctest --test-dir $(BUILD_DIR)/tsan --output-on-failure -j$(CTEST_JOBS) -L thread

demo: build
	tools/demo.sh $(BUILD_DIR)/default

# An hour of controller events against the demo robot; not part of `make test`.
# Shorter: `make soak SOAK_SECONDS=300`. Loopback only, on a DDS domain of its own.
SOAK_SECONDS ?= 3600
soak: build
	ROS_LOCALHOST_ONLY=1 ROS_DOMAIN_ID=232 $(BUILD_DIR)/default/bench/tavrin_soak $(SOAK_SECONDS)

format:
	git ls-files '*.cpp' '*.hpp' | xargs clang-format -i

clean:
	rm -rf $(BUILD_DIR)
