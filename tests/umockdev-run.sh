#!/bin/sh
# Runs a test binary under umockdev's preload library. The preload library loads before the
# AddressSanitizer runtime, so the runtime's link-order check is switched off, and the leaks
# that glib, libudev and umockdev keep on purpose are suppressed (lsan.supp); the caller's
# options come first so that these two settings win.
here=$(dirname "$0")
ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$here/lsan.supp"
export ASAN_OPTIONS LSAN_OPTIONS
exec umockdev-wrapper "$@"
