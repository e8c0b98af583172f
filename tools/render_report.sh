#!/usr/bin/env bash
# Renders an HTML report of a sample database, after a deep recovery, as a browser shows it:
# a phone-wide page into docs/report.png. Uses a headless Chromium (apt-get install chromium);
# the tests do not need it. Needs a build in build/main.
#   tools/render_report.sh [DATABASE] [OUTPUT] [PARTNER]
set -euo pipefail
cd "$(dirname "$0")/.."
database=${1:-samples/android/mmssms.db}
output=${2:-docs/report.png}
partner=${3:-10086}
cli=build/main/cli/kestrow-cli
[ -x "$cli" ] || cmake --build build/main --target kestrow-cli
browser=$(command -v chromium || command -v chromium-browser || true)
[ -n "$browser" ] || { echo "needs a headless Chromium (apt-get install chromium)" >&2; exit 1; }
# The report is written from a copy: the samples stay as they are, and the page names the copy.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/evidence" "$scratch/out"
cp -p "$database"* "$scratch/evidence/"
TZ=${TZ:-Asia/Shanghai} "$cli" export "$scratch/evidence/$(basename "$database")" --to "$scratch/out" \
  --all --format html --recover --deep >/dev/null
page="$scratch/out/$partner.html"
[ -f "$page" ] || { echo "no conversation with $partner in $database" >&2; exit 1; }
mkdir -p "$(dirname "$output")"
# A phone's width; tall enough for the facts and the start of the thread.
"$browser" --headless --no-sandbox --disable-gpu --hide-scrollbars --force-device-scale-factor=2 \
  --window-size=420,1100 --screenshot="$output" "file://$page" 2>/dev/null
echo "wrote $output"
