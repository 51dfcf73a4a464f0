#!/usr/bin/env bash
# One entry point for people and CI:
#   scripts/run.sh demo   install what is missing, build, run the kestc tour
#   scripts/run.sh test   install what is missing, then build and test natively, under
#                         AddressSanitizer+UBSan, under ThreadSanitizer, and the Windows DLL under
#                         Wine
# Run as root on a fresh Debian 12 machine, or as a user that already has the packages.
set -euo pipefail

cd "$(dirname "$0")/.."
ROOT=$PWD
JOBS=$(nproc)

PACKAGES=(cmake ninja-build g++ clang-14 libclang-rt-14-dev libgtest-dev googletest
          libbenchmark-dev zlib1g-dev libisal-dev libfmt-dev libdw-dev g++-mingw-w64-x86-64-posix wine64 wine pkgconf
          python3)

install_missing() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages: ${missing[*]} (run as root to install them)" >&2
    exit 1
  fi
  echo "== installing ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

step() { echo; echo "== $* (at ${SECONDS} s)"; }

build_and_test() {
  local preset=$1
  step "configure + build: $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$JOBS"
  step "test: $preset"
  ctest --preset "$preset" -j "$JOBS"
}

cmd_demo() {
  install_missing cmake ninja-build g++
  step "configure + build: kestc"
  cmake --preset dev -DKEST_BUILD_TESTS=OFF >/dev/null
  cmake --build --preset dev -j "$JOBS" --target kestc
  step "kestc demo"
  "$ROOT/build/dev/tools/kestc" demo
}

# Bounded libFuzzer runs under ASan+UBSan, each from a copy of its corpus: "target:seconds"
# pairs, two at a time (one per core; each run is single-threaded).
fuzz() {
  local spec target seconds dir failed=0
  local -a pids=() names=()
  dir=$(mktemp -d)
  for spec in "$@"; do
    target=${spec%%:*} seconds=${spec##*:}
    mkdir -p "$dir/$target"
    cp "fuzz/corpus/$target"/* "$dir/$target"/
    "$ROOT/build/asan/fuzz/kest_fuzz_$target" -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=4096 -print_final_stats=1 "$dir/$target" >"$dir/$target.log" 2>&1 &
    pids+=($!) names+=("$target:$seconds")
    if [ ${#pids[@]} -eq 2 ]; then
      for i in 0 1; do
        step "fuzz: ${names[$i]%%:*}, ${names[$i]##*:} s under ASan+UBSan"
        wait "${pids[$i]}" || failed=1
        tail -n 12 "$dir/${names[$i]%%:*}.log"
      done
      pids=() names=()
    fi
  done
  for i in "${!pids[@]}"; do
    step "fuzz: ${names[$i]%%:*}, ${names[$i]##*:} s under ASan+UBSan"
    wait "${pids[$i]}" || failed=1
    tail -n 12 "$dir/${names[$i]%%:*}.log"
  done
  rm -rf "$dir"
  return $failed
}

# Our profile layer against the Windows functions on the whole corpus: kestc ini dump of every
# file must print the same from the native build and from the Windows build under Wine.
compare_ini_dumps() {
  step "kestc ini dump: the native and Windows builds agree on tests/ini_corpus"
  local f native windows failed=0
  for f in tests/ini_corpus/*.ini; do
    native=$("$ROOT/build/ci/tools/kestc" ini dump "$f")
    windows=$(/usr/lib/wine/wine64 "$ROOT/build/windows/tools/kestc.exe" ini dump "$f" \
              </dev/null 2>/dev/null | tr -d '\r')
    if [ "$native" != "$windows" ]; then
      echo "differs: $f"
      diff <(echo "$native") <(echo "$windows") | head -n 20 || true
      failed=1
    fi
  done
  [ $failed -eq 0 ] && echo "all $(ls tests/ini_corpus/*.ini | wc -l) files agree"
  return $failed
}

cmd_test() {
  install_missing "${PACKAGES[@]}"
  build_and_test ci
  build_and_test asan
  fuzz ini_file:20 color_value:20 brace_format:15 lang_file:15 registry_file:10 utf8:10 \
       order_hash:10
  # ThreadSanitizer watches the library's threads: the unit tests and kestc. The fuzz corpora and
  # the header check already run in the builds above.
  step "configure + build: tsan (unit tests and kestc)"
  cmake --preset tsan >/dev/null
  cmake --build --preset tsan -j "$JOBS" --target kest_tests kestc
  step "test: tsan"
  ctest --preset tsan -j "$JOBS" -E '^Fuzz\.'

  # Wine keeps its own prefix inside the build tree, made once up front (the first start of a
  # fresh prefix takes a while); a persistent server makes each test executable start in
  # milliseconds instead of most of a second.
  export WINEPREFIX="$ROOT/build/wineprefix" WINEDEBUG=-all
  WINESERVER=/usr/lib/wine/wineserver64
  [ -x "$WINESERVER" ] || WINESERVER=$(command -v wineserver || echo /usr/lib/wine/wineserver)
  trap '"$WINESERVER" -k >/dev/null 2>&1 || true' EXIT
  # A server left over from an earlier prefix at the same path would serve stale state.
  "$WINESERVER" -k >/dev/null 2>&1 || true
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    step "preparing the Wine prefix"
    /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1 || true
    "$WINESERVER" -w || true
  fi
  "$WINESERVER" -p >/dev/null 2>&1 || true
  # The test preset retries a failed Windows test once: now and then Wine fails to start a process
  # (the test then fails in no time with no output); a real failure fails both runs.
  # Wine starts its background services with the first program; start them here, away from
  # CTest's output pipes, which they would otherwise hold open until CTest gives up waiting.
  /usr/lib/wine/wine64 wineboot >/dev/null 2>&1 </dev/null || true
  # Window tests make real windows and menus; CI has no display, and Wine's null graphics driver
  # gives windows without one.
  /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f \
    >/dev/null 2>&1 </dev/null || true
  build_and_test windows
  compare_ini_dumps

  step "all test suites passed"
}

case "${1:-}" in
  demo) cmd_demo ;;
  test) cmd_test ;;
  *) echo "usage: scripts/run.sh demo|test" >&2; exit 2 ;;
esac
