# The two set-up commands: `make demo` renders the bundled demo scene (Targa and PNG), `make test` runs every test.
BUILD_DIR ?= build
SAN_DIR ?= build-sanitize
TSAN_DIR ?= build-tsan
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
GENERATOR := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")

.PHONY: deps build demo test sanitize-test tsan-test fuzz clean

deps:
	@./scripts/install-deps

build: deps
	cmake -S . -B $(BUILD_DIR) $(GENERATOR) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD_DIR) -j $(JOBS)

demo: build
	@mkdir -p out
	@rm -f out/demo.tga out/demo.png   # an existing image would be resumed rather than rendered again
	cd out && QUORVA_ROOT=$(CURDIR)/share ../$(BUILD_DIR)/quorva ../examples/demo -o demo -p </dev/null; status=$$?; \
	  echo; if [ -f demo.png ]; then echo "demo images: $(CURDIR)/out/demo.tga, $(CURDIR)/out/demo.png"; fi; exit $$status

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# The window tests load the system's OpenGL drivers, which keep allocations they never free: they run
# with every check but the leak report.
sanitize-test: deps
	cmake -S . -B $(SAN_DIR) $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DQUORVA_SANITIZE=ON
	cmake --build $(SAN_DIR) -j $(JOBS)
	cd $(SAN_DIR) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS) -E '^PreviewWindow'
	cd $(SAN_DIR) && ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS) -R '^PreviewWindow'

# The tests of the parallel render loops, in-process and through the renderer, under ThreadSanitizer: any
# race report fails them (a reporting renderer exits with status 66).
TSAN_TESTS := ParallelRender*:ParallelCli*:ParallelGi*:PhotonParallel*:RenderRows*:AdaptiveAntialiasing*:Undersampling*:SamplingLoops*:PixelFilter*:HierarchyFastBuild*:PlacedMesh.TreeIsTheSameOnWorkers:WorkUnits*
tsan-test: deps
	cmake -S . -B $(TSAN_DIR) $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE=-O1 -DQUORVA_TSAN=ON
	cmake --build $(TSAN_DIR) -j $(JOBS) --target quorva_tests
	cd $(TSAN_DIR) && TSAN_OPTIONS="halt_on_error=1 exitcode=66" ./quorva_tests --gtest_filter='$(TSAN_TESTS)'

clean:
	rm -rf $(BUILD_DIR) $(SAN_DIR) $(TSAN_DIR) out
