# Wraps the CMake builds. `make run` and `make test` are the whole set-up:
# both install missing Debian packages first.
#
#   make run      build and run the demo
#   make test     build and run every test
#   make bench    build and run the benchmarks
#   make asan     the whole test suite under AddressSanitizer + UBSan (the
#                 tests carry the sanitizer settings and the LeakSanitizer
#                 suppressions of tools/lsan.supp, so ctest in build-asan
#                 alone does the same)
#   make fuzz     every libFuzzer target for FUZZ_SECONDS each (clang)
#   make tsan     the real demo with audio, and the music sync tests (the event
#                 ring under two threads), under ThreadSanitizer
#   make test-compat  the tests of the build again against sdl12-compat (the
#                 SDL 1.2 of Debian 13, Fedora and Arch: SDL 1.2's interface
#                 over SDL 2), downloaded from Debian into $(BUILD)/sdl12-compat
#   make portable the music library with its plain mixing loops instead of
#                 SSE2 (ENGINE_PORTABLE_MIX) in build-portable: the music
#                 tests run there, and res/kevo.mod and the busy module
#                 rendered by both builds' modrender must be the same bytes
#   make check    test, test-compat, the install check, docs, asan, a short
#                 fuzz run, tsan and portable: what CI runs
#   make install  install the libraries, headers, CMake and pkg-config
#                 packages, programs and res/ under PREFIX (default /usr/local)
#   make uninstall  remove what the last `make install` from $(BUILD)
#                 installed, as its manifest lists it (tools/uninstall.sh)
#   make docs     the API reference from the headers, in $(BUILD)/docs/html
#   make web      the demo, the showcase, the examples and the starter for
#                 the browser (emscripten) in build-web/: NAME.html, .js,
#                 .wasm and .data each, and index.html with their pictures
#   make web-serve  serves the pages of build-web/ on http://127.0.0.1:8000/
#                 (PORT=8001 make web-serve: another port)
#   make web-test the pages in headless Chromium against the native
#                 programs (tools/web/web-test.mjs)
BUILD ?= build
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60
CMAKE_FLAGS ?=
PREFIX ?= /usr/local

# Every path on a command line below goes through `quote`: one shell word
# whatever it holds (spaces, quotes, shell characters), in single quotes
# with each ' inside written '\''. So PREFIX='/tmp/p q' or BUILD='my build'
# work as given.
quote = '$(subst ','\'',$(1))'

.PHONY: all deps configure build run test test-compat bench asan fuzz fuzz-build tsan portable check install uninstall docs \
  clean \
  web web-serve web-test

all: build

deps:
	@sh tools/install-deps.sh

configure: deps
	@cmake -S . -B $(call quote,$(BUILD)) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(call quote,$(BUILD)) -j $(JOBS)

# Only what the demo needs, so that it starts without building every test.
run: configure
	@cmake --build $(call quote,$(BUILD)) -j $(JOBS) --target kevo_demo
	$(call quote,$(BUILD))/demo

test: build
	cd $(call quote,$(BUILD)) && ctest --output-on-failure -j $(JOBS)

# The same binaries: only the loader's search path changes.
test-compat: build
	@sh tools/test-sdl12-compat.sh $(call quote,$(BUILD)) $(JOBS)

bench: build
	@for b in $(call quote,$(BUILD))/*_bench; do echo "== $$b"; "$$b" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true || exit 1; done

# Built with clang, which compiles the sanitized tree in about half the time
# g++ takes, with line tables only: all that a report needs of debug
# information.
asan: deps
	@CC=clang CXX=clang++ cmake -S . -B build-asan -DENGINE_SANITIZE=ON -DENGINE_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_CXX_FLAGS=-O1 -DCMAKE_CXX_FLAGS_DEBUG=-gline-tables-only >/dev/null
	@cmake --build build-asan -j $(JOBS)
	cd build-asan && ctest --output-on-failure -j $(JOBS)

fuzz-build: deps
	@CC=clang CXX=clang++ cmake -S . -B build-fuzz -DENGINE_FUZZ=ON -DENGINE_SANITIZE=ON \
	  -DENGINE_TESTS=OFF -DENGINE_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build build-fuzz -j $(JOBS) --target fuzzers

fuzz: fuzz-build
	@sh tools/run-fuzzers.sh build-fuzz $(FUZZ_SECONDS)

tsan: deps
	@CC=clang CXX=clang++ cmake -S . -B build-tsan -DENGINE_TSAN=ON -DENGINE_TESTS=ON \
	  -DENGINE_BENCH=OFF >/dev/null
	@cmake --build build-tsan -j $(JOBS) --target kevo_demo platform_music_sync_test
	@sh tools/run-tsan-demo.sh build-tsan/demo
	cd build-tsan && SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy TSAN_OPTIONS=halt_on_error=1 ./platform_music_sync_test

# The music tests that play through the mixer (the portable build differs
# from the default one in the mixer alone).
MUSIC_TESTS = music_voice_test music_render_test music_song_test music_formats_test
PORTABLE_COMPARE = build-portable/compare

# Only what the comparison needs: modrender and make_busy_mod from the
# default build, modrender and the mixer's music tests from the portable
# one.
portable: configure
	@cmake --build $(call quote,$(BUILD)) -j $(JOBS) --target kevo_modrender kevo_make_busy_mod kevo_make_test_modules
	@cmake -S . -B build-portable -DENGINE_PORTABLE_MIX=ON -DENGINE_BENCH=OFF -DENGINE_INSTALL=OFF \
	  -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
	@grep -q -- -DVOICE_PORTABLE_MIX build-portable/compile_commands.json || \
	  { echo "portable: the music library is not built with VOICE_PORTABLE_MIX" >&2; exit 1; }
	@cmake --build build-portable -j $(JOBS) --target kevo_modrender $(MUSIC_TESTS)
	@for t in $(MUSIC_TESTS); do \
	  SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy DISPLAY= build-portable/$$t --gtest_brief=1 || exit 1; \
	done
	@mkdir -p $(PORTABLE_COMPARE)
	@$(call quote,$(BUILD))/make_busy_mod $(PORTABLE_COMPARE)/busy.mod >/dev/null
	@$(call quote,$(BUILD))/make_test_modules $(PORTABLE_COMPARE) >/dev/null
	@for m in res/kevo.mod $(PORTABLE_COMPARE)/busy.mod $(PORTABLE_COMPARE)/showcase.xm \
	  $(PORTABLE_COMPARE)/showcase.s3m $(PORTABLE_COMPARE)/showcase.it; do \
	  n=$$(basename $$m); \
	  $(call quote,$(BUILD))/modrender $$m $(PORTABLE_COMPARE)/$$n-sse2.wav >/dev/null && \
	  build-portable/modrender $$m $(PORTABLE_COMPARE)/$$n-portable.wav >/dev/null && \
	  cmp $(PORTABLE_COMPARE)/$$n-sse2.wav $(PORTABLE_COMPARE)/$$n-portable.wav || exit 1; \
	  echo "portable: $$m renders the same bytes with both mixers"; \
	done

# The browser build. emscripten runs on the machine's node, which finds the
# acorn parser among Debian's node modules only through NODE_PATH.
WEB_PROGRAMS = kevo_demo kevo_demo_shot kevo_modrender kevo_showcase kevo_scene_viewer kevo_particle_fountain \
  kevo_text_showcase kevo_starter kevo_sync_tracks
web: export NODE_PATH = /usr/share/nodejs
web: configure
	@sh tools/install-deps.sh web
	@cmake --build $(call quote,$(BUILD)) -j $(JOBS) --target $(WEB_PROGRAMS)
	@emcmake cmake -S . -B build-web -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build build-web -j $(JOBS)
	@sh tools/web/make-pages.sh build-web $(call quote,$(BUILD))

# The pages and the files they load, nothing else of build-web/, on
# 127.0.0.1:$(PORT) (tools/web/serve.py).
PORT ?= 8000
web-serve: web
	@python3 tools/web/serve.py build-web $(PORT)

web-test: web
	@node --experimental-websocket --no-warnings tools/web/web-test.mjs build-web $(call quote,$(BUILD))

check: test
	@$(MAKE) --no-print-directory web-test
	@sh tools/test-sdl12-compat.sh $(call quote,$(BUILD)) $(JOBS)
	@sh tools/check-install.sh $(call quote,$(BUILD))
	@$(MAKE) --no-print-directory docs asan
	@$(MAKE) --no-print-directory fuzz FUZZ_SECONDS=5
	@$(MAKE) --no-print-directory tsan
	@$(MAKE) --no-print-directory portable

install: build
	@cmake --install $(call quote,$(BUILD)) --prefix $(call quote,$(PREFIX))

uninstall:
	@sh tools/uninstall.sh $(call quote,$(BUILD))

docs: deps
	@sh tools/make-docs.sh $(call quote,$(BUILD)/docs)

clean:
	rm -rf $(call quote,$(BUILD)) build-asan build-fuzz build-tsan build-portable build-web
