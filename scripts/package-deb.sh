#!/usr/bin/env bash
# Builds the two binary packages from one default build (build/, configured
# and brought up to date here) with Debian's own tools: the files are staged by
# hand, the manual pages made by help2man from each program's --help, the
# dependencies found by dpkg-shlibdeps, and each package put together by
# dpkg-deb with root as owner. Prints the two packages' paths, the server's
# first:
#
#   dist/velio-interfaced_<version>_<arch>.deb   the headless server and everything
#                                                but the desktop program; no Qt
#   dist/velio-interface_<version>_<arch>.deb    the desktop program; depends on the
#                                                server package of the same version
#
#   scripts/package-deb.sh            # build/ as the default preset makes it
#   VELIO_BUILD_DIR=DIR scripts/package-deb.sh
#
# What goes where (velio-interfaced):
#   /usr/bin                               velio-interfaced, pms-client, cardsim, velio-readers
#   /usr/lib/<multiarch>/velio-interface   the reader libraries (libReader.so, the
#                                          simulator; libReaderPcsc.so, PC/SC)
#   /lib/systemd/system                    velio-interfaced@.service
#   /etc/default/velio-interfaced          the service's environment (a conffile)
#   /usr/share/polkit-1/rules.d            pcscd access for the user velio
#   /usr/share/man, doc/velio-interfaced
# (velio-interface):
#   /usr/bin                               velio-interface
#   /usr/libexec/velio-interface           the desktop menu's launcher
#   /usr/share/applications, icons, man, doc/velio-interface
#
# The version is the project's with the packaging's revision: revision 2 is
# the first of the two packages; before, one package named velio-interface
# (version 1.0.0, no revision) held everything, so the server package replaces
# the files of velio-interface older than that.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${VELIO_BUILD_DIR:-$ROOT/build}
SERVER=velio-interfaced
DESKTOP=velio-interface
REVISION=2
SPLIT_VERSION=1.0.0-2
SRC=$ROOT/packaging/deb
DIST=$ROOT/dist

for tool in dpkg-deb dpkg-shlibdeps dpkg-architecture help2man patchelf strip gzip; do
  command -v "$tool" > /dev/null || {
    echo "package-deb.sh: $tool is missing (scripts/deps.sh installs it)" >&2
    exit 1
  }
done

# The default build, with what the packages hold.
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  cmake --preset default > /dev/null
fi
server_programs=(velio-interfaced pms-client cardsim velio-readers)
desktop_programs=(velio-interface)
libraries=(libReader.so libReaderPcsc.so)
cmake --build "$BUILD" --target "${server_programs[@]}" "${desktop_programs[@]}" Reader ReaderPcsc
BIN=$BUILD/bin
for f in "${server_programs[@]}" "${desktop_programs[@]}" "${libraries[@]}"; do
  [ -f "$BIN/$f" ] || {
    echo "package-deb.sh: $BIN/$f was not built" >&2
    exit 1
  }
done

UPSTREAM=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")
[ -n "$UPSTREAM" ] || UPSTREAM=$(sed -n 's/^project(VelioInterface VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
VERSION=$UPSTREAM-$REVISION
ARCH=$(dpkg-architecture -qDEB_HOST_ARCH)
MULTIARCH=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
LIBDIR=usr/lib/$MULTIARCH/velio-interface
MAINTAINER="Velio interface developers <$(git config user.email 2> /dev/null || echo root@localhost)>"
# Dates in the packages follow the last commit, so a rebuild of one commit gives the same files.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2> /dev/null || date +%s)}
COMMIT=$(git rev-parse --short HEAD 2> /dev/null || echo unknown)

S_STAGE=$DIST/stage-$SERVER
D_STAGE=$DIST/stage-$DESKTOP
rm -rf "$S_STAGE" "$D_STAGE"
mkdir -p "$S_STAGE/DEBIAN" "$D_STAGE/DEBIAN"
umask 022
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# Programs and libraries: the build's RUNPATH ($ORIGIN) and debugging data go.
install_elf() {  # source, stage, destination folder
  local dest
  dest=$2/$3/$(basename "$1")
  install -D -m 0755 "$1" "$dest"
  patchelf --remove-rpath "$dest"
  strip --strip-unneeded --remove-section=.comment --remove-section=.note "$dest"
  case "$dest" in *.so) chmod 0644 "$dest" ;; esac
}
for p in "${server_programs[@]}"; do install_elf "$BIN/$p" "$S_STAGE" usr/bin; done
for l in "${libraries[@]}"; do install_elf "$BIN/$l" "$S_STAGE" "$LIBDIR"; done
for p in "${desktop_programs[@]}"; do install_elf "$BIN/$p" "$D_STAGE" usr/bin; done

# The service: its unit, its environment (the PC/SC reader library, the
# simulator as the alternative), pcscd's permission for its user.
install -D -m 0644 "$SRC/velio-interfaced@.service" "$S_STAGE/lib/systemd/system/velio-interfaced@.service"
reader_library="VELIO_READER_LIBRARY=/$LIBDIR/libReaderPcsc.so
#VELIO_READER_LIBRARY=/$LIBDIR/libReader.so"
mkdir -p "$S_STAGE/etc/default"
awk -v lines="$reader_library" '$0 == "@READER_LIBRARY@" { print lines; next } { print }' \
  "$SRC/velio-interfaced.default" > "$S_STAGE/etc/default/velio-interfaced"
grep -q '@[A-Z_]*@' "$S_STAGE/etc/default/velio-interfaced" && {
  echo "package-deb.sh: a placeholder is left in /etc/default/velio-interfaced" >&2
  exit 1
}
echo /etc/default/velio-interfaced > "$S_STAGE/DEBIAN/conffiles"
install -D -m 0644 "$SRC/50-velio-interface-pcscd.rules" \
  "$S_STAGE/usr/share/polkit-1/rules.d/50-velio-interface-pcscd.rules"

# Desktop entry, its launcher and icon.
install -D -m 0755 "$SRC/velio-interface-desktop" "$D_STAGE/usr/libexec/velio-interface/velio-interface-desktop"
install -D -m 0644 "$SRC/velio-interface.desktop" "$D_STAGE/usr/share/applications/velio-interface.desktop"
install -D -m 0644 app/resources/appicon.png "$D_STAGE/usr/share/icons/hicolor/32x32/apps/velio-interface.png"

# Manual pages from the programs' own --help text.
declare -A summary=(
  [velio-interface]="Velio PMS interface server, the operator's desktop program"
  [velio-interfaced]="Velio PMS interface server without a window (service)"
  [pms-client]="send Velio PMS requests to the interface server"
  [cardsim]="put simulated cards on the simulated card reader"
  [velio-readers]="list the PC/SC card readers and their cards, read one block (installer's check)"
)
manual_page() {  # stage, program
  local stage=$1 p=$2 commands include=()
  [ -f "$SRC/$p.h2m" ] && include=(--include "$SRC/$p.h2m")
  # Programs with commands: each command's own --help as a section of its own.
  commands=$("$stage/usr/bin/$p" --help 2> /dev/null |
    awk '/^Subcommands:/ { on = 1; next } on && /^  [a-z]/ { print $1 }')
  if [ -n "$commands" ]; then
    {
      echo "[COMMANDS]"
      for c in $commands; do
        echo ".SS $c"
        echo ".nf"
        (exec -a "$p" "$stage/usr/bin/$p" "$c" --help 2>&1) | sed -e 's/\\/\\e/g' -e 's/^[.'\'']/\\\&&/'
        echo ".fi"
      done
    } > "$WORK/$p.commands"
    include+=(--include "$WORK/$p.commands")
  fi
  mkdir -p "$stage/usr/share/man/man1"
  env QT_QPA_PLATFORM=offscreen help2man --no-info --no-discard-stderr \
    --version-string="$UPSTREAM" --name="${summary[$p]:-part of the Velio PMS interface server}" \
    "${include[@]}" --output="$stage/usr/share/man/man1/$p.1" "$stage/usr/bin/$p"
  gzip -9n "$stage/usr/share/man/man1/$p.1"
}
for p in "${server_programs[@]}"; do manual_page "$S_STAGE" "$p"; done
for p in "${desktop_programs[@]}"; do manual_page "$D_STAGE" "$p"; done

# Documents: each package its copyright and changelog, the server the README.
documents() {  # stage, package
  local doc=$1/usr/share/doc/$2
  mkdir -p "$doc"
  sed "s|@MAINTAINER@|$MAINTAINER|" "$SRC/copyright" > "$doc/copyright"
  {
    echo "$2 ($VERSION) unstable; urgency=medium"
    echo
    echo "  * Built from the project's sources, commit $COMMIT."
    echo
    echo " -- $MAINTAINER  $(date -R -u -d "@$SOURCE_DATE_EPOCH")"
  } | gzip -9n > "$doc/changelog.Debian.gz"
}
documents "$S_STAGE" "$SERVER"
documents "$D_STAGE" "$DESKTOP"
gzip -9nc README.md > "$S_STAGE/usr/share/doc/$SERVER/README.md.gz"

# Dependencies of the ELF files of a stage, as dpkg-shlibdeps finds them.
shlib_depends() {  # stage
  local elves
  mapfile -t elves < <(find "$1" -path "$1/DEBIAN" -prune -o -type f -print |
    while read -r f; do [ "$(head -c4 "$f" | od -An -c | tr -d ' ')" = '177ELF' ] && echo "$f"; done)
  mkdir -p "$WORK/shlibs/debian"
  printf 'Source: %s\n\nPackage: %s\nArchitecture: any\n' "$SERVER" "$SERVER" > "$WORK/shlibs/debian/control"
  (cd "$WORK/shlibs" && dpkg-shlibdeps -O "${elves[@]}" | sed -n 's/^shlibs:Depends=//p')
}
server_depends=$(shlib_depends "$S_STAGE")
desktop_depends=$(shlib_depends "$D_STAGE")
[ -n "$server_depends" ] && [ -n "$desktop_depends" ] || {
  echo "package-deb.sh: dpkg-shlibdeps found no dependencies" >&2
  exit 1
}

# Control data, maintainer scripts (the server's), checksums; then the package.
build_package() {  # stage, package, depends
  local stage=$1 pkg=$2 depends=$3 size out s
  size=$(du -sk --apparent-size --exclude=DEBIAN "$stage" | cut -f1)
  sed -e "s|@VERSION@|$VERSION|" -e "s|@ARCH@|$ARCH|" -e "s|@MAINTAINER@|$MAINTAINER|" \
    -e "s|@INSTALLED_SIZE@|$size|" -e "s|@DEPENDS@|$depends|" -e "s|@SPLIT_VERSION@|$SPLIT_VERSION|" \
    "$SRC/$pkg.control.in" > "$stage/DEBIAN/control"
  for s in postinst prerm postrm; do
    [ -f "$SRC/$pkg.$s" ] && install -m 0755 "$SRC/$pkg.$s" "$stage/DEBIAN/$s"
  done
  (cd "$stage" && find . -path ./DEBIAN -prune -o -path ./etc -prune -o -type f -printf '%P\0' |
    LC_ALL=C sort -z | xargs -0 md5sum > DEBIAN/md5sums)
  chmod 0644 "$stage/DEBIAN/md5sums" "$stage/DEBIAN/control"
  [ -f "$stage/DEBIAN/conffiles" ] && chmod 0644 "$stage/DEBIAN/conffiles"
  find "$stage" -type d -exec chmod 0755 {} +
  find "$stage" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
  out=$DIST/${pkg}_${VERSION}_${ARCH}.deb
  rm -f "$out"
  dpkg-deb --root-owner-group -Zxz --build "$stage" "$out" > /dev/null
  rm -rf "$stage"
  echo "$out"
}
build_package "$S_STAGE" "$SERVER" "adduser, $server_depends"
build_package "$D_STAGE" "$DESKTOP" "$SERVER (= $VERSION), $desktop_depends"
