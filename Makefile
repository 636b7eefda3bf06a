# Thin wrapper over the CMake presets.
#   make run     build (native) and convert the bundled sample script
#   make test    build the i386 and sanitize presets and run every test of both
#   make bench   build (native) and run the benchmarks
#   make fuzz    run each fuzz target for FUZZ_SECONDS (default 120)

# Jobs of each build and test run; JOBS=2 on a shared machine.
JOBS ?= $(shell nproc)

.PHONY: all bootstrap run test bench fuzz clean FORCE

all: build-native

bootstrap:
	@tools/bootstrap

build/%/build.ninja: | bootstrap
	cmake --preset $* > /dev/null

build-%: FORCE bootstrap build/%/build.ninja
	cmake --build --preset $* -j $(JOBS)

test-%: build-% FORCE
	ctest --preset $* -j $(JOBS)

test: test-i386 test-sanitize

run: build-native
	./build/native/subrite-host < /dev/null

bench: build-native
	bench/run

fuzz: build-fuzz
	fuzz/run

clean:
	rm -rf build

FORCE:

# The configured trees are kept, not treated as intermediate files.
.PRECIOUS: build/%/build.ninja
