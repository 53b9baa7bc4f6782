BUILD_DIR ?= build
SANITIZE_DIR ?= build-sanitize
JOBS ?= $(shell nproc)

.PHONY: deps configure build test test-sanitize screenshots clean

deps:
	@scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS) --timeout 300

# Any sanitizer report fails the run, also one from a tool a test started and whose exit status
# the test ignores: reports go to files, checked after the tests. The options hold for the
# build as well, where test discovery runs the test executables.
SANITIZE_REPORTS = $(abspath $(SANITIZE_DIR))/sanitizer-reports
test-sanitize: export ASAN_OPTIONS = halt_on_error=1:detect_leaks=1:log_exe_name=1:log_path=$(SANITIZE_REPORTS)/asan
test-sanitize: export UBSAN_OPTIONS = halt_on_error=1:print_stacktrace=1:log_exe_name=1:log_path=$(SANITIZE_REPORTS)/ubsan
test-sanitize: deps
	@rm -rf $(SANITIZE_REPORTS) && mkdir -p $(SANITIZE_REPORTS)
	@cmake -S . -B $(SANITIZE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANE_SANITIZE=ON \
		$(CMAKE_ARGS)
	@cmake --build $(SANITIZE_DIR) -j $(JOBS) && cd $(SANITIZE_DIR) && \
		ctest --output-on-failure -j $(JOBS) --timeout 300; status=$$?; \
		if [ -n "$$(ls -A $(SANITIZE_REPORTS))" ]; then \
			cat $(SANITIZE_REPORTS)/*; echo "Sanitizer reports above" >&2; exit 1; \
		fi; exit $$status

# Every page, the sheet and the alert, offscreen, against the local service.
screenshots: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target orvane_screenshots
	@QT_QPA_PLATFORM=offscreen $(BUILD_DIR)/src/ui/orvane_screenshots $(BUILD_DIR)/screenshots

# The application against the local service and the tool stand-ins, in its own build and profile
# folders (build-run/); without a display it runs headless and checks what it left behind.
.PHONY: run
run:
	@scripts/run.sh $(RUN_ARGS)

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR)
