#!/usr/bin/env bash
# Every text the window shows has an entry, translated, in each language's catalogue: the texts
# passed to tr()/Tr() and those marked Translatable() in the window code and the presentation
# are gathered with xgettext and compared with res/po/*.po (msgcmp counts an untranslated entry
# as missing).
#   tools/check_catalogue.sh [SOURCE_DIR]
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"
template=$(mktemp --suffix=.pot)
trap 'rm -f "$template"' EXIT
xgettext --from-code=UTF-8 --language=C++ --keyword= --keyword=Tr --keyword=tr --keyword=Translatable \
  --output="$template" ui/*.cpp ui/include/ui/*.h app/*.cpp platform/*.cpp platform/include/platform/*.h \
  presentation/*.cpp presentation/include/presentation/*.h
texts=$(grep -c '^msgid "' "$template")
status=0
for catalogue in res/po/*.po; do
  # Texts the program no longer shows may stay in a catalogue; only missing ones count.
  if ! msgcmp "$catalogue" "$template" 2> >(grep -v "this message is not used" >&2); then
    echo "$catalogue lacks texts the window shows (above)" >&2
    status=1
  fi
done
echo "$((texts - 1)) texts checked against $(ls res/po/*.po | wc -l) catalogue(s)"
exit "$status"
