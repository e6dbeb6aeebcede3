#!/bin/sh
# Runs a test program on a real X display: a private Xvfb server, the xcb
# platform. Exit status 77 (skipped) where xvfb-run is not installed.
if ! command -v xvfb-run >/dev/null 2>&1; then
  echo "xvfb-run is not installed; skipped" >&2
  exit 77
fi
QD_UI_TEST_PLATFORM=xcb exec xvfb-run -a -s "-screen 0 1280x1024x24" "$@"
