#!/usr/bin/env bash
# Sets up a Debian 12 machine for Kestrow (installing only the missing packages), builds it,
# and then either runs the companion on the bundled samples (demo) or runs every test (test).
#   tools/bootstrap.sh demo   build kestrow-cli and kestrow, show and recover the samples
#                             (default and deep) and write an HTML report of each
#   tools/bootstrap.sh test   build twice (normal; clang with AddressSanitizer, UBSan and
#                             libFuzzer) and run the whole suite in each
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config
  libsqlite3-dev sqlite3 libcli11-dev nlohmann-json3-dev
  libgtest-dev libbenchmark-dev
  libwxgtk3.2-dev libgtk-3-dev xvfb xauth fonts-wqy-microhei fonts-noto-color-emoji
  libssl-dev libxml2-dev gettext libplist-dev libarchive-dev libphonenumber-dev
  dpkg-dev file desktop-file-utils tzdata
)

install_missing() {
  local missing=() package
  for package in "${PACKAGES[@]}"; do
    [ "$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null)" = "install ok installed" ] \
      || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  echo "Installing: ${missing[*]}"
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
}

configure() {  # configure DIR [cmake options...]
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
}

first_lines() {  # first_lines N COMMAND...: the first N lines of a command's output
  local count=$1 output
  shift
  output=$("$@")
  head -n "$count" <<<"$output"
}

demo() {
  configure build/main
  cmake --build build/main --target kestrow-cli kestrow
  local cli=build/main/cli/kestrow-cli db
  for db in samples/android/mmssms.db samples/iphone/sms.db samples/iphone-current/sms.db; do
    echo
    echo "== $cli conversations $db"
    "$cli" conversations "$db"
    echo
    echo "== $cli messages $db (first 30 lines)"
    first_lines 30 "$cli" messages "$db"
    echo
    echo "== $cli recover $db (first 40 lines)"
    first_lines 40 "$cli" recover "$db"
    echo
    echo "== $cli recover --deep $db (first 20 lines)"
    first_lines 20 "$cli" recover --deep "$db"
  done
  # Reports to hand on: one HTML page per sample, after a deep recovery.
  local reports=build/main/demo-reports name
  for db in samples/android/mmssms.db samples/iphone/sms.db samples/iphone-current/sms.db; do
    name=$(basename "$(dirname "$db")")
    echo
    echo "== $cli export $db --to $reports/$name --all --single --recover --deep --format html"
    rm -rf "${reports:?}/$name"
    "$cli" export "$db" --to "$reports/$name" --all --single --recover --deep --format html
  done
  # What people hold: iPhone backups, plain and encrypted, and an Android extraction archive.
  local backup=samples/iphone-backup/00008030-000A1B2C3D4E5F60
  local locked=samples/iphone-backup-encrypted/00008030-000A1B2C3D4E5F60
  local archive=samples/android-extraction/extraction.tar.gz
  for source in "$backup" "$locked" "$archive"; do
    echo
    echo "== $cli conversations $source"
    KESTROW_PASSWORD=kestrow-sample "$cli" conversations "$source"
  done
  echo
  echo "The window: build/main/app/kestrow (File > Open, then pick one of the samples)."
}

run_tests() {
  configure build/main
  cmake --build build/main
  (cd build/main && ctest --output-on-failure -j "$(nproc)")
  # The same suite under the sanitizers, with the fuzzers running for a short while.
  configure build/sanitize -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
    -DKESTROW_SANITIZE=ON -DKESTROW_FUZZ=ON -DKESTROW_BENCH=OFF
  cmake --build build/sanitize
  # The fuzzers first, then what each covered (a passing test's output is not shown), then
  # the rest of the suite, whose summary closes the log.
  local status=0
  (cd build/sanitize && ctest --output-on-failure -j "$(nproc)" -L slow) || status=$?
  grep -h -E "edges covered|DONE +cov" build/sanitize/Testing/Temporary/LastTest.log 2>/dev/null || true
  (cd build/sanitize && ctest --output-on-failure -j "$(nproc)" -LE slow) || status=$?
  return "$status"
}

case "${1:-}" in
  demo) install_missing; demo ;;
  test) install_missing; run_tests ;;
  *) echo "usage: $0 demo|test" >&2; exit 2 ;;
esac
