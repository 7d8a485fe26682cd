# The two commands of README.md: `make demo` and `make test`. Both install what is
# missing on a fresh Debian 12 machine (as root; a normal user is told what to install) and are
# quick when nothing changed.
SHELL := /bin/bash
.ONESHELL:
.SHELLFLAGS := -eu -o pipefail -c
# Recipes speak only when something happens: a package installed, a file compiled, a test run.
.SILENT:

BUILD_DIR   ?= build
PREFIX      := $(abspath $(BUILD_DIR))/ros_prefix
JOBS        ?= $(shell nproc)
CTEST_JOBS  ?= 2
CMAKE_ARGS  := -DCMAKE_PREFIX_PATH=$(PREFIX) -DPython3_EXECUTABLE=/usr/bin/python3

DEBIAN_PACKAGES := g++ make cmake ninja-build pkg-config python3-empy python3-yaml \
  cyclonedds-dev rosidl-cmake rosidl-generator-c-cpp librosidl-runtime-c-cpp-dev \
  librosidl-typesupport-introspection-c-cpp-dev ament-cmake librcutils-dev librcpputils-dev \
  libspdlog-dev libfmt-dev libsystemd-dev libyaml-cpp-dev libgtest-dev util-linux tmux \
  clang-format openssl clang-14 libclang-rt-14-dev iproute2

# What tools/demo.sh runs.
DEMO_TARGETS := tavrin_arm_teleop_node tavrin_demo_robot tavrin_virtual_controller

.PHONY: all deps interfaces build build-demo build-asan build-tsan build-fuzz test fuzz demo \
  soak soak-lifetime deb deb-check mutate format check-format clean

all: build

deps:
	installed=$$({ dpkg-query -W -f='$${Package} $${db:Status-Abbrev}\n' $(DEBIAN_PACKAGES) 2>/dev/null || true; } |
	  awk '$$2 == "ii" {print $$1}')
	missing=$$(for p in $(DEBIAN_PACKAGES); do grep -qxF "$$p" <<< "$$installed" || echo $$p; done)
	if [ -n "$$missing" ] && [ "$$(id -u)" != 0 ]; then
	  echo "missing Debian packages; install them as root, then run make again:" >&2
	  echo "  apt-get install" $$missing >&2
	  exit 1
	fi
	if [ -n "$$missing" ]; then
	  echo "installing:" $$missing
	  apt-get update -qq
	  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $$missing
	fi

# Rebuilt only when an interface definition changed since the last build.
interfaces: deps
	stamp=$(PREFIX)/.interfaces_built
	if [ ! -f $$stamp ] || [ -n "$$(find ros2_layer/interfaces tavrin_protocol -newer $$stamp -print -quit)" ]; then
	  ros2_layer/interfaces/build.sh $(PREFIX)
	  touch $$stamp
	fi

# configure TREE CMAKE-FLAGS... [ENVIRONMENT]: once, and again only when a flag differs from the tree's cache.
# A new tree uses Ninja: its run with nothing to do is quick and silent.
define configure
	cache=$(BUILD_DIR)/$(1)/CMakeCache.txt
	generator=$$([ -f $$cache ] || echo "-G Ninja")
	for flag in $(2); do
	  setting=$${flag#-D}
	  if [ ! -f $$cache ] || ! grep -q "^$${setting%%=*}:[A-Z]*=$${setting#*=}$$" $$cache; then
	    $(3) cmake -S . -B $(BUILD_DIR)/$(1) $$generator $(CMAKE_ARGS) $(2) > $(BUILD_DIR)/$(1).configure.log ||
	      { cat $(BUILD_DIR)/$(1).configure.log; exit 1; }
	    break
	  fi
	done
endef

build: interfaces
	$(call configure,default,-DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVRIN_BENCHMARKS=ON)
	cmake --build $(BUILD_DIR)/default -j$(JOBS)

build-demo: interfaces
	$(call configure,default,-DCMAKE_BUILD_TYPE=RelWithDebInfo)
	cmake --build $(BUILD_DIR)/default -j$(JOBS) --target $(DEMO_TARGETS)

build-asan: interfaces
	$(call configure,asan,-DCMAKE_BUILD_TYPE=Debug -DTAVRIN_SANITIZE=address$(,)undefined)
	cmake --build $(BUILD_DIR)/asan -j$(JOBS)

build-tsan: interfaces
	$(call configure,tsan,-DCMAKE_BUILD_TYPE=Debug -DTAVRIN_SANITIZE=thread)
	cmake --build $(BUILD_DIR)/tsan -j$(JOBS)

, := ,

# The fuzzers, with the layer and the node's sources instrumented for them.
build-fuzz: interfaces
	$(call configure,fuzz,-DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVRIN_FUZZ=ON \
	  -DTAVRIN_SANITIZE=fuzzer-no-link$(,)address$(,)undefined,CC=clang-14 CXX=clang++-14)
	cmake --build $(BUILD_DIR)/fuzz -j$(JOBS)

# Each fuzzer for FUZZ_RUNS executions (ten million by default), one after the other.
FUZZ_RUNS ?= 10000000
fuzz: build-fuzz
	cmake $(BUILD_DIR)/fuzz -DTAVRIN_FUZZ_RUNS=$(FUZZ_RUNS) > /dev/null
	for fuzzer in joystick_events_fuzzer joy_samples_fuzzer cdr_fuzzer; do
	  cmake --build $(BUILD_DIR)/fuzz --target run_$$fuzzer
	done

# The whole suite, then again under AddressSanitizer + UndefinedBehaviorSanitizer but for the
# slow field-fault cases, then the tests of threaded code under ThreadSanitizer (each sanitizer
# tree builds only the tests it runs), then a short run of each fuzzer.
test: check-format build build-asan build-tsan build-fuzz
	ctest --test-dir $(BUILD_DIR)/default --output-on-failure -j$(CTEST_JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(BUILD_DIR)/asan --output-on-failure -j$(CTEST_JOBS) -LE no_sanitizer
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(abspath ros2_layer/tsan.supp) \
	  ctest --test-dir $(BUILD_DIR)/tsan --output-on-failure -j$(CTEST_JOBS) -L thread
	ctest --test-dir $(BUILD_DIR)/fuzz --output-on-failure -L fuzz

demo: build-demo
	tools/demo.sh $(BUILD_DIR)/default

# An hour of controller events against the demo robot; not part of `make test`.
# Shorter: `make soak SOAK_SECONDS=300`. Loopback only, on a DDS domain of its own.
SOAK_SECONDS ?= 3600
soak: build
	ROS_LOCALHOST_ONLY=1 ROS_DOMAIN_ID=232 $(BUILD_DIR)/default/bench/tavrin_soak $(SOAK_SECONDS)

# Half an hour of a robot's long shift: grabs and e-stops at ten times the soak's rate, the robot
# killed mid-grab every 20 s, e-stops left unanswered; fails when the node's memory spreads over
# more than 256 KiB from minute 1 on. Shorter: `make soak-lifetime SOAK_SECONDS=300`.
soak-lifetime: interfaces
	$(call configure,default,-DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVRIN_BENCHMARKS=ON)
	cmake --build $(BUILD_DIR)/default -j$(JOBS) --target tavrin_soak
	ROS_LOCALHOST_ONLY=1 ROS_DOMAIN_ID=230 $(BUILD_DIR)/default/bench/tavrin_soak --lifetime \
	  $(if $(filter command line,$(origin SOAK_SECONDS)),$(SOAK_SECONDS),1860)

# The Debian package of the bundled build, for an operator station without ROS 2, built by
# dpkg-buildpackage from a copy of the tracked sources (kept, so that a rebuild is incremental).
DEB_VERSION := $(shell sed -n '1s/^[^(]*(\([^)]*\)).*/\1/p' debian/changelog)
DEB_ARCH    := $(shell dpkg --print-architecture)
DEB         := $(BUILD_DIR)/deb/tavrin-arm-teleop_$(DEB_VERSION)_$(DEB_ARCH).deb
DEB_TOOLS   := dpkg-dev debhelper lintian debootstrap

deb: deps
	installed=$$({ dpkg-query -W -f='$${Package} $${db:Status-Abbrev}\n' $(DEB_TOOLS) 2>/dev/null || true; } |
	  awk '$$2 == "ii" {print $$1}')
	missing=$$(for p in $(DEB_TOOLS); do grep -qxF "$$p" <<< "$$installed" || echo $$p; done)
	if [ -n "$$missing" ]; then
	  echo "installing:" $$missing
	  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $$missing
	fi
	source=$(BUILD_DIR)/deb/tavrin-arm-teleop-$(DEB_VERSION)
	mkdir -p $$source
	git ls-files -z | xargs -0 tar -c | tar -x -C $$source
	# Without a clean, dh would skip the build it has done once: ninja decides what to redo.
	rm -f $$source/debian/debhelper-build-stamp
	(cd $$source && dpkg-buildpackage -us -uc -b -nc) > $(BUILD_DIR)/deb/build.log 2>&1 ||
	  { tail -40 $(BUILD_DIR)/deb/build.log; exit 1; }
	echo "deb: $(DEB)"
	lintian --fail-on error $(DEB)

# Installs the package into a clean Debian 12 root (debootstrap, cached in build/deb-root), runs
# the demo session there on loopback with the installed programs, purges it and checks that
# nothing is left. Not part of `make test`: it takes minutes and the Debian archive.
deb-check: deb
	time test/packaging/deb_check.sh $(DEB) $(BUILD_DIR)/deb-root

# Mutation testing: each mutant of tools/mutate/mutants.py is built in a copy of the tree under
# $(BUILD_DIR)/mutate and run against the node's tests, killed or survived. A few of them:
# `make mutate MUTANTS=3,7`. Loopback only, like every test.
MUTANTS ?=
mutate: interfaces
	tools/mutate/mutate.py --work $(abspath $(BUILD_DIR))/mutate --prefix $(PREFIX) \
	  --jobs $(CTEST_JOBS) $(if $(MUTANTS),--mutants $(MUTANTS))

SOURCES = git ls-files '*.cpp' '*.hpp' '*.h'

format: deps
	$(SOURCES) | xargs clang-format -i

check-format: deps
	$(SOURCES) | xargs clang-format --dry-run -Werror

clean:
	rm -rf $(BUILD_DIR)
