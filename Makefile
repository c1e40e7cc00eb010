# Kelp: `make run` builds and starts Kelp on the sample workbook; `make test` builds
# with AddressSanitizer and UndefinedBehaviorSanitizer and runs every test.
# Both install the Debian packages they need first. `make bench` ends with bench/peers.sh,
# whole kelpcli conversions timed beside ssconvert.

JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60

PACKAGES := cmake ninja-build g++ pkg-config googletest libgtest-dev libgmock-dev libbenchmark-dev \
            libfreetype-dev libpng-dev libsdl2-dev libsdl2-image-dev fonts-dejavu-core fonts-liberation2
FUZZ_PACKAGES := clang libclang-rt-dev

SUDO := $(shell [ "$$(id -u)" -eq 0 ] || echo sudo)

.PHONY: all run test bench fuzz deps fuzz-deps clean web web-deps test-web

all: test

# Installs only what is missing, so a prepared machine does not touch the network.
deps:
	@missing=$$(for p in $(PACKAGES); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "Installing:" $$missing; \
	  $(SUDO) apt-get update && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y --no-install-recommends $$missing; \
	fi

fuzz-deps:
	@missing=$$(for p in $(FUZZ_PACKAGES); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  $(SUDO) apt-get update && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y --no-install-recommends $$missing; \
	fi

build/release/build.ninja: | deps
	cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELP_TESTS=OFF

run: deps build/release/build.ninja
	cmake --build build/release -j $(JOBS)
	./build/release/app/kelp examples/sample.kp

test: deps
	cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKELP_SANITIZE=ON -DKELP_WERROR=ON
	cmake --build build/test -j $(JOBS)
	cd build/test && ctest --output-on-failure -j $(JOBS)

bench: deps
	cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELP_TESTS=OFF -DKELP_BENCH=ON
	cmake --build build/bench -j $(JOBS)
	@for b in build/bench/bench/bench_*; do [ -x "$$b" ] && echo "== $$b" && "$$b" || exit 1; done
	@echo "== bench/peers.sh" && bench/peers.sh build/bench/cli/kelpcli

fuzz: deps fuzz-deps
	CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELP_TESTS=OFF -DKELP_FUZZ=ON
	cmake --build build/fuzz -j $(JOBS)
	@for f in build/fuzz/fuzz/fuzz_*; do \
	  [ -x "$$f" ] || continue; name=$$(basename $$f); mkdir -p build/fuzz/corpus/$$name; \
	  echo "== $$name ($(FUZZ_SECONDS) s)"; \
	  seeds=""; [ -d fuzz/corpus/$$name ] && seeds=fuzz/corpus/$$name; \
	  "$$f" -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 build/fuzz/corpus/$$name $$seeds > build/fuzz/$$name.log 2>&1 \
	    || { tail -n 30 build/fuzz/$$name.log; exit 1; }; \
	  grep -E '^(Done|stat::number_of_executed_units)' build/fuzz/$$name.log; \
	done

# The page: emscripten builds Kelp for the browser into build/web/ (see the README's "Kelp in a
# web page"); FreeType comes from Debian's source package, built the same way.
WEB_PACKAGES := emscripten fonts-dejavu-core fonts-liberation2 xz-utils patch
WEB_TEST_PACKAGES := chromium cmake ninja-build g++ libfreetype-dev libpng-dev

web-deps:
	@missing=$$(for p in $(WEB_PACKAGES); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "Installing:" $$missing; \
	  $(SUDO) apt-get update && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y --no-install-recommends $$missing; \
	fi

web: web-deps
	web/build-freetype.sh build/web-deps/freetype
	NODE_PATH=/usr/share/nodejs emcmake cmake -S . -B build/web-cmake -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELP_TESTS=OFF \
	  -DCMAKE_INTERPROCEDURAL_OPTIMIZATION=OFF \
	  -DFREETYPE_INCLUDE_DIRS=$(CURDIR)/build/web-deps/freetype/include \
	  -DFREETYPE_LIBRARY=$(CURDIR)/build/web-deps/freetype/lib/libfreetype.a
	NODE_PATH=/usr/share/nodejs cmake --build build/web-cmake -j $(JOBS) --target kelp kelp_recalc
	@# The single-threaded kelp-st.js, for hosts that cannot send the isolation headers.
	NODE_PATH=/usr/share/nodejs emcmake cmake -S . -B build/web-cmake-st -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELP_TESTS=OFF \
	  -DCMAKE_INTERPROCEDURAL_OPTIMIZATION=OFF -DKELP_WEB_SINGLE_THREAD=ON \
	  -DFREETYPE_INCLUDE_DIRS=$(CURDIR)/build/web-deps/freetype/include \
	  -DFREETYPE_LIBRARY=$(CURDIR)/build/web-deps/freetype/lib/libfreetype-st.a
	NODE_PATH=/usr/share/nodejs cmake --build build/web-cmake-st -j $(JOBS) --target kelp kelp_recalc

# Serves build/web on 127.0.0.1 and replays tests/web's key scripts in headless chromium,
# comparing each picture with the headless backend's.
test-web: web
	$(MAKE) web-deps WEB_PACKAGES="$(WEB_TEST_PACKAGES)"
	@# Debian's npm only where no npm came with the node already here (nodesource's ships one).
	@command -v npm >/dev/null || $(MAKE) web-deps WEB_PACKAGES=npm
	cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELP_TESTS=OFF
	cmake --build build/release -j $(JOBS) --target kelp kelpcli
	tests/web/run.sh build/release build/web

clean:
	rm -rf build
