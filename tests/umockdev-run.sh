#!/bin/sh
# Runs a test binary under umockdev's preload library. The preload library loads before the
# AddressSanitizer runtime, so the runtime's link-order check is switched off; what glib,
# libudev and umockdev do inside themselves is left to them (lsan.supp, tsan.supp). The
# caller's options come first so that these settings win.
here=$(dirname "$0")
ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$here/lsan.supp"
TSAN_OPTIONS="${TSAN_OPTIONS:+$TSAN_OPTIONS:}suppressions=$here/tsan.supp"
export ASAN_OPTIONS LSAN_OPTIONS TSAN_OPTIONS
exec umockdev-wrapper "$@"
