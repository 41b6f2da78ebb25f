# Entry points for newcomers and CI; see README.md.
PRESET ?= dev

.PHONY: all bootstrap configure build test test-asan bench demo package clean

all: build

bootstrap:
	./scripts/bootstrap.sh

configure: bootstrap
	cmake --preset $(PRESET)

build: configure
	cmake --build --preset $(PRESET)

test: build
	./scripts/run-tests.sh $(PRESET)

test-asan:
	$(MAKE) test PRESET=asan

bench:
	$(MAKE) build PRESET=release
	./scripts/run-bench.sh

demo:
	PRESET=$(PRESET) ./scripts/demo.sh

# The Debian package of an optimised build: build/release/brindle_<version>_<arch>.deb
package:
	$(MAKE) build PRESET=release
	cd build/release && cpack

clean:
	rm -rf build
