#!/usr/bin/env bash
# Takes a screenshot of the window under a virtual X server with a sample database open and
# one conversation selected. Needs a build in build/main (tools/bootstrap.sh demo).
#   tools/screenshot.sh [DATABASE] [ROW] [OUTPUT] [recover|progress|export]
set -euo pipefail
cd "$(dirname "$0")/.."
database=${1:-samples/android/mmssms.db}
row=${2:-2}
output=${3:-docs/screenshot.png}
mode=${4:-}
demo=build/main/tools/kestrow-demo-window
[ -x "$demo" ] || cmake --build build/main --target kestrow-demo-window
command -v import >/dev/null || { echo "needs ImageMagick's import (apt-get install imagemagick)" >&2; exit 1; }
# The window changes nothing on disk; a copy keeps the samples safe all the same.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp "$database"* "$scratch/"
mkdir -p docs
GSETTINGS_BACKEND=memory xvfb-run -a -s "-screen 0 1000x700x24" sh -c \
  "\"$demo\" \"$scratch/$(basename "$database")\" $row 4 $mode & sleep 2.5; import -window root \"$output\"; wait"
echo "wrote $output"
