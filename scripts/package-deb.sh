#!/usr/bin/env bash
# Builds dist/velio-interface_<version>_<arch>.deb from the default build
# (build/, configured and brought up to date here) with Debian's own tools:
# the files are staged by hand, the manual pages made by help2man from each
# program's --help, the dependencies found by dpkg-shlibdeps, and the package
# put together by dpkg-deb with root as owner. Prints the package's path.
#
#   scripts/package-deb.sh            # build/ as the default preset makes it
#   VELIO_BUILD_DIR=DIR scripts/package-deb.sh
#
# What goes where:
#   /usr/bin                               velio-interface, velio-interfaced, pms-client,
#                                          cardsim, velio-readers (when built)
#   /usr/lib/<multiarch>/velio-interface   the reader libraries (libReader.so, the
#                                          simulator; libReaderPcsc.so when built)
#   /usr/libexec/velio-interface           the desktop menu's launcher
#   /lib/systemd/system                    velio-interfaced@.service
#   /usr/share/polkit-1/rules.d            pcscd access for the user velio
#   /usr/share/applications, icons, man, doc/velio-interface
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${VELIO_BUILD_DIR:-$ROOT/build}
PKG=velio-interface
SRC=$ROOT/packaging/deb
DIST=$ROOT/dist

for tool in dpkg-deb dpkg-shlibdeps dpkg-architecture help2man patchelf strip gzip; do
  command -v "$tool" > /dev/null || {
    echo "package-deb.sh: $tool is missing (scripts/deps.sh installs it)" >&2
    exit 1
  }
done

# The default build, with what the package holds. Targets that only some
# versions of the tree have (the PC/SC reader library, the readers'
# diagnostic) are built when the build knows them.
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  cmake --preset default > /dev/null
fi
targets=(velio-interfaced velio-interface pms-client cardsim Reader)
while read -r t; do
  targets+=("$t")
done < <(cmake --build "$BUILD" --target help 2> /dev/null |
  sed -n 's/^\([A-Za-z0-9_.-]*\): phony$/\1/p' | grep -Ei '^(ReaderPcsc|velio-readers|.*reader.*(diag|check|probe).*|.*diag.*reader.*)$' |
  grep -Ev '_tests?$' || true)
cmake --build "$BUILD" --target "${targets[@]}"
BIN=$BUILD/bin

VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")
[ -n "$VERSION" ] || VERSION=$(sed -n 's/^project(VelioInterface VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
ARCH=$(dpkg-architecture -qDEB_HOST_ARCH)
MULTIARCH=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
LIBDIR=usr/lib/$MULTIARCH/velio-interface
MAINTAINER="Velio interface developers <$(git config user.email 2> /dev/null || echo root@localhost)>"
# Dates in the package follow the last commit, so a rebuild of one commit gives the same files.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2> /dev/null || date +%s)}
COMMIT=$(git rev-parse --short HEAD 2> /dev/null || echo unknown)

STAGE=$DIST/stage
rm -rf "$STAGE"
mkdir -p "$STAGE/DEBIAN"
umask 022

# Programs and libraries: the build's RUNPATH ($ORIGIN) and debugging data go.
install_elf() {  # source, destination folder
  local dest
  dest=$STAGE/$2/$(basename "$1")
  install -D -m 0755 "$1" "$dest"
  patchelf --remove-rpath "$dest"
  strip --strip-unneeded --remove-section=.comment --remove-section=.note "$dest"
  case "$dest" in *.so) chmod 0644 "$dest" ;; esac
}
programs=(velio-interface velio-interfaced pms-client cardsim)
for p in "${programs[@]}"; do
  [ -x "$BIN/$p" ] || {
    echo "package-deb.sh: $BIN/$p was not built" >&2
    exit 1
  }
  install_elf "$BIN/$p" usr/bin
done
# The readers' diagnostic program, when this tree builds one.
for f in "$BIN"/*; do
  name=$(basename "$f")
  case "$name" in *.so | *.so.* | *.a | *_test | *_tests) continue ;; esac
  [ -f "$f" ] && [ -x "$f" ] || continue
  if echo "$name" | grep -Eqi '^velio-readers$|reader.*(diag|check|probe)|diag.*reader|pcsc.*(check|diag|probe)'; then
    install_elf "$f" usr/bin
    programs+=("$name")
  fi
done
libraries=()
for lib in "$BIN"/libReader.so "$BIN"/libReaderPcsc.so; do
  [ -f "$lib" ] || continue
  install_elf "$lib" "$LIBDIR"
  libraries+=("$(basename "$lib")")
done
[ -f "$STAGE/$LIBDIR/libReader.so" ] || {
  echo "package-deb.sh: $BIN/libReader.so was not built" >&2
  exit 1
}

# The service: the PC/SC reader library when packaged, else the simulator.
if [ -f "$STAGE/$LIBDIR/libReaderPcsc.so" ]; then
  reader_env="Environment=VELIO_READER_LIBRARY=/$LIBDIR/libReaderPcsc.so
#Environment=VELIO_READER_LIBRARY=/$LIBDIR/libReader.so"
else
  reader_env="Environment=VELIO_READER_LIBRARY=/$LIBDIR/libReader.so"
fi
mkdir -p "$STAGE/lib/systemd/system"
awk -v env="$reader_env" '$0 == "@READER_ENVIRONMENT@" { print env; next } { print }' \
  "$SRC/velio-interfaced@.service.in" > "$STAGE/lib/systemd/system/velio-interfaced@.service"
install -D -m 0644 "$SRC/50-velio-interface-pcscd.rules" \
  "$STAGE/usr/share/polkit-1/rules.d/50-velio-interface-pcscd.rules"

# Desktop entry, its launcher and icon.
install -D -m 0755 "$SRC/velio-interface-desktop" "$STAGE/usr/libexec/velio-interface/velio-interface-desktop"
install -D -m 0644 "$SRC/velio-interface.desktop" "$STAGE/usr/share/applications/velio-interface.desktop"
install -D -m 0644 app/resources/appicon.png "$STAGE/usr/share/icons/hicolor/32x32/apps/velio-interface.png"

# Manual pages from the programs' own --help text.
declare -A summary=(
  [velio-interface]="Velio PMS interface server, the operator's desktop program"
  [velio-interfaced]="Velio PMS interface server without a window (service)"
  [pms-client]="send Velio PMS requests to the interface server"
  [cardsim]="put simulated cards on the simulated card reader"
  [velio-readers]="list the PC/SC card readers and their cards, read one block (installer's check)"
)
mkdir -p "$STAGE/usr/share/man/man1"
H2M=$(mktemp -d)
trap 'rm -rf "$H2M"' EXIT
for p in "${programs[@]}"; do
  include=()
  [ -f "$SRC/$p.h2m" ] && include=(--include "$SRC/$p.h2m")
  # Programs with commands: each command's own --help as a section of its own.
  commands=$("$STAGE/usr/bin/$p" --help 2> /dev/null |
    awk '/^Subcommands:/ { on = 1; next } on && /^  [a-z]/ { print $1 }')
  if [ -n "$commands" ]; then
    {
      echo "[COMMANDS]"
      for c in $commands; do
        echo ".SS $c"
        echo ".nf"
        (exec -a "$p" "$STAGE/usr/bin/$p" "$c" --help 2>&1) | sed -e 's/\\/\\e/g' -e 's/^[.'\'']/\\\&&/'
        echo ".fi"
      done
    } > "$H2M/$p.commands"
    include+=(--include "$H2M/$p.commands")
  fi
  env QT_QPA_PLATFORM=offscreen help2man --no-info --no-discard-stderr \
    --version-string="$VERSION" --name="${summary[$p]:-part of the Velio PMS interface server}" \
    "${include[@]}" --output="$STAGE/usr/share/man/man1/$p.1" "$STAGE/usr/bin/$p"
  gzip -9n "$STAGE/usr/share/man/man1/$p.1"
done

# Documents.
DOC=$STAGE/usr/share/doc/$PKG
mkdir -p "$DOC"
sed "s|@MAINTAINER@|$MAINTAINER|" "$SRC/copyright" > "$DOC/copyright"
gzip -9nc README.md > "$DOC/README.md.gz"
{
  echo "$PKG ($VERSION) unstable; urgency=medium"
  echo
  echo "  * Built from the project's sources, commit $COMMIT."
  echo
  echo " -- $MAINTAINER  $(date -R -u -d "@$SOURCE_DATE_EPOCH")"
} | gzip -9n > "$DOC/changelog.gz"

# Dependencies of every program and library.
elves=()
for p in "${programs[@]}"; do elves+=("$STAGE/usr/bin/$p"); done
for l in "${libraries[@]}"; do elves+=("$STAGE/$LIBDIR/$l"); done
SHLIBS=$H2M/shlibs
mkdir -p "$SHLIBS/debian"
printf 'Source: %s\n\nPackage: %s\nArchitecture: any\n' "$PKG" "$PKG" > "$SHLIBS/debian/control"
shlibs=$(cd "$SHLIBS" && dpkg-shlibdeps -O "${elves[@]}" | sed -n 's/^shlibs:Depends=//p')
[ -n "$shlibs" ] || {
  echo "package-deb.sh: dpkg-shlibdeps found no dependencies" >&2
  exit 1
}

# Control data.
size=$(du -sk --apparent-size --exclude=DEBIAN "$STAGE" | cut -f1)
sed -e "s|@VERSION@|$VERSION|" -e "s|@ARCH@|$ARCH|" -e "s|@MAINTAINER@|$MAINTAINER|" \
  -e "s|@INSTALLED_SIZE@|$size|" -e "s|@DEPENDS@|adduser, $shlibs|" \
  "$SRC/control.in" > "$STAGE/DEBIAN/control"
for s in postinst prerm postrm; do install -m 0755 "$SRC/$s" "$STAGE/DEBIAN/$s"; done
(cd "$STAGE" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | LC_ALL=C sort -z |
  xargs -0 md5sum > DEBIAN/md5sums)
chmod 0644 "$STAGE/DEBIAN/md5sums" "$STAGE/DEBIAN/control"
find "$STAGE" -type d -exec chmod 0755 {} +
find "$STAGE" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +

OUT=$DIST/${PKG}_${VERSION}_${ARCH}.deb
rm -f "$OUT"
dpkg-deb --root-owner-group -Zxz --build "$STAGE" "$OUT" > /dev/null
rm -rf "$STAGE"
echo "$OUT"
