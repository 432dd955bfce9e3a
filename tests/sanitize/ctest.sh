#!/usr/bin/env bash
# Runs ctest in a sanitizer build (ORVANE_SANITIZE=ON): every process stops at
# its first AddressSanitizer, LeakSanitizer or UndefinedBehaviorSanitizer
# report, and the run fails if any process reported anything, even one whose
# test did not look at its exit status.
#   tests/sanitize/ctest.sh BUILD_DIR [CTEST_ARGS...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
shift
reports=$build/sanitizer-reports
rm -rf "$reports"
mkdir -p "$reports"

# Reports go to one file per process under $reports (not to the program's
# standard error, which some tests read), and the process exits with 86.
# The symbolizer is started through a static launcher that keeps the preloaded
# libraries below out of it (tests/sanitize/symbolizer_launcher.cpp).
stop="halt_on_error=1:exitcode=86:log_path=$reports/report:log_exe_name=1"
export ASAN_OPTIONS="$stop:external_symbolizer_path=$build/tests/sanitize/llvm-symbolizer:detect_leaks=1:detect_stack_use_after_return=1:strict_string_checks=1:check_initialization_order=1:verify_asan_link_order=0"
export LSAN_OPTIONS="suppressions=$here/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="$stop:external_symbolizer_path=$build/tests/sanitize/llvm-symbolizer:print_stacktrace=1"
# Mesa's driver unloads itself when GLUT closes the display, after which its
# leaks would be reported from "<unknown module>" and could not be told from
# anyone else's. Preloaded, it stays mapped until the leak check at exit.
driver=$(ls /usr/lib/*/dri/swrast_dri.so 2>/dev/null | head -n 1 || true)
export LD_PRELOAD="${driver}${LD_PRELOAD:+ $LD_PRELOAD}"

status=0
(cd "$build" && ctest --output-on-failure "$@") || status=$?
if compgen -G "$reports/report*" >/dev/null; then
  echo "Sanitizer reports (in $reports):" >&2
  head -n 60 "$reports"/report* >&2  # each under its name
  status=1
fi
exit "$status"
