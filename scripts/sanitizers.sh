# shellcheck shell=bash
# Sourced: how the sanitized programs report. Every finding ends the program with a failure;
# leaks are looked for too, except inside the system's libraries that keep memory for the
# whole run on purpose (fontconfig's caches, Qt's plugin loader).
export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1:detect_stack_use_after_return=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/lsan.supp:print_suppressions=0}
