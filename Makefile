# One-command set-up on a fresh Debian machine: `make run` and `make test` install missing
# packages, configure, build, and then run the saver or every test.
BUILD ?= build
JOBS ?= 2
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all deps configure build run test unit integration install clean demo

all: build

deps:
	@bash scripts/deps.sh

configure: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# With a display: the saver in a window. Without one: a demo picture rendered headless.
run: build
	@bash scripts/run.sh $(BUILD)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS) -L unit
	@if [ -n "$$(cd $(BUILD) && ctest -N -L integration | grep 'Test #')" ]; then \
	  cd $(BUILD) && ctest --output-on-failure -L integration; fi

unit: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS) -L unit

integration: build
	@cd $(BUILD) && ctest --output-on-failure -L integration

install: build
	@cmake --install $(BUILD)

clean:
	@rm -rf $(BUILD)
