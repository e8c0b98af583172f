#!/usr/bin/env bash
# Builds the Debian package from a configured build folder and checks what it holds.
#   tools/check_package.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$(dirname "$0")/.." && pwd)
desktop-file-validate "$source/res/kestrow.desktop"
cd "$build"
rm -f kestrow_*.deb
cpack -G DEB >/dev/null
package=$(ls kestrow_*.deb)
echo "package: $package"
# Captured first: "grep -q" in a pipeline would close it early and fail the script (pipefail).
info=$(dpkg-deb --info "$package")
grep ' Depends:' <<<"$info"
contents=$(dpkg-deb --contents "$package")
echo "$contents"
missing=0
for path in ./usr/bin/kestrow ./usr/bin/kestrow-cli ./usr/share/applications/kestrow.desktop \
    ./usr/share/icons/hicolor/48x48/apps/kestrow.png ./usr/share/icons/hicolor/256x256/apps/kestrow.png \
    ./usr/share/man/man1/kestrow.1.gz ./usr/share/man/man1/kestrow-cli.1.gz \
    ./usr/share/doc/kestrow/README.md ./usr/share/doc/kestrow/copyright \
    ./usr/share/locale/zh_CN/LC_MESSAGES/kestrow.mo; do
  if ! grep -q " $path\$" <<<"$contents"; then
    echo "missing from the package: $path" >&2
    missing=1
  fi
done
grep -q '^ Depends:.*libwxgtk3.2' <<<"$info" || { echo "no wx dependency found" >&2; missing=1; }
grep -q '^ Depends:.*libsqlite3' <<<"$info" || { echo "no sqlite dependency found" >&2; missing=1; }
grep -q '^ Depends:.*libssl' <<<"$info" || { echo "no libcrypto dependency found" >&2; missing=1; }
grep -q '^ Depends:.*libplist' <<<"$info" || { echo "no libplist dependency found" >&2; missing=1; }
exit $missing
