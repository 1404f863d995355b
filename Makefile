# Thin wrapper around CMake. Every target does its own set-up first.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)
GENERATOR  ?= Ninja

.PHONY: all setup build build-asan test test-normal test-asan demo gui-demo screenshots bench clean

all: build

setup:
	@./scripts/setup.sh

build: setup
	cmake -S . -B $(BUILD) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRENVO_WERROR=ON
	cmake --build $(BUILD) -j $(JOBS)

build-asan: setup
	cmake -S . -B $(ASAN_BUILD) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DBRENVO_WERROR=ON -DBRENVO_SANITIZE=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)

test-normal: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) --timeout 600

test-asan: build-asan
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS) --timeout 900

test: test-normal test-asan

demo: build
	./scripts/demo.sh $(BUILD)

# The window program on a fresh copy of the demo installation.
gui-demo: build
	rm -rf $(BUILD)/gui-demo
	cp -r demo $(BUILD)/gui-demo
	$(BUILD)/mainwindow/brenvo -d $(BUILD)/gui-demo

# Pictures of every tab of the demo installation (docs/screenshots/*.png).
screenshots: build
	QT_QPA_PLATFORM=offscreen $(BUILD)/tools/screenshots docs/screenshots

bench: build
	./scripts/bench.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
