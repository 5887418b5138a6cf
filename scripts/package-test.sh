#!/usr/bin/env bash
# The package test: builds the two packages (scripts/package-deb.sh), runs
# lintian on both, checks that the server package needs nothing of Qt or X
# (its Depends and their closure, and the libraries every ELF file in it
# loads), installs the server package alone, checks the unit with
# systemd-analyze verify, runs the unit's ExecStart in member mode the way
# systemd would (as the user velio, in its working directory, with its
# environment and environment file, umask and descriptor limit; systemd itself
# does not run here), answers requests through the reader simulator, then
# installs the desktop package and checks it, removes and purges both (what the
# administrator made, a drop-in of "systemctl edit" among it, stays), and
# upgrades from the single package velio-interface that held everything before.
# The machine is left as it was, also when a step fails: the packages, the user
# velio, /var/lib/velio-interface, /etc/default/velio-interfaced and the
# unit's drop-in folder must not exist before, and are gone after.
#
# Needs root (uses sudo otherwise). VELIO_PACKAGE_PORT sets the member port of
# the test (default: a free port from 20000 up, never the product's 8881-8886).
# Exits non-zero with the reason on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" -ne 0 ]; then exec sudo -E "$0" "$@"; fi

SERVER=velio-interfaced
DESKTOP=velio-interface
BASE=/var/lib/velio-interface
UNIT=/lib/systemd/system/velio-interfaced@.service
ENVFILE=/etc/default/velio-interfaced
DROPIN=/etc/systemd/system/velio-interfaced@.service.d
WANTS=/etc/systemd/system/multi-user.target.wants/velio-interfaced@member.service
MULTIARCH=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
LIBDIR=/usr/lib/$MULTIARCH/velio-interface
TMP=$(mktemp -d)
chmod 0755 "$TMP"
daemon_pid=
made_dropin=
wants_dir_existed=
[ -d "$(dirname "$WANTS")" ] && wants_dir_existed=yes

fail() {
  echo "package-test: FAILED: $*" >&2
  exit 1
}
step() { echo "package-test: $*"; }
known() {  # package: dpkg knows it (installed, half-installed or its conffiles left)
  dpkg-query -W -f='${db:Status-Status}' "$1" 2> /dev/null | grep -Evxq "not-installed|"
}

# Refuse to run where the packages or what they make already exist: the test would change them.
for pkg in "$SERVER" "$DESKTOP"; do
  known "$pkg" && fail "$pkg is installed on this machine; the test installs and purges it"
done
getent passwd velio > /dev/null && fail "the user velio exists on this machine"
getent group velio > /dev/null && fail "the group velio exists on this machine"
for f in "$BASE" "$ENVFILE" "$DROPIN" "$WANTS"; do
  [ -e "$f" ] || [ -L "$f" ] && fail "$f exists on this machine"
done

cleanup() {
  local rc=$?
  if [ -n "$daemon_pid" ]; then
    kill -KILL "$daemon_pid" 2> /dev/null || true
    wait "$daemon_pid" 2> /dev/null || true
  fi
  for pkg in "$DESKTOP" "$SERVER"; do
    if known "$pkg"; then
      VELIO_PURGE_DATA=yes dpkg --purge "$pkg" > /dev/null 2>&1 || true
    fi
  done
  if [ -n "$made_dropin" ]; then
    rm -rf "$DROPIN"
    rm -f "$WANTS"
    [ -n "$wants_dir_existed" ] || rmdir "$(dirname "$WANTS")" 2> /dev/null || true
  fi
  rm -rf "$BASE"
  rm -f "$ENVFILE"
  getent passwd velio > /dev/null && deluser --system --quiet velio > /dev/null 2>&1 || true
  getent group velio > /dev/null && delgroup --system --quiet velio > /dev/null 2>&1 || true
  rm -rf "$TMP"
  if [ $rc -eq 0 ]; then echo "package-test: passed"; fi
  exit $rc
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A port nobody listens on.
port=${VELIO_PACKAGE_PORT:-}
if [ -z "$port" ]; then
  for p in $(seq 20000 20999); do
    if ! ss -Hltn "sport = :$p" | grep -q .; then
      port=$p
      break
    fi
  done
fi
[ -n "$port" ] || fail "no free port"

step "building the packages"
mapfile -t debs < <(scripts/package-deb.sh | tail -2)
server_deb=${debs[0]:-}
desktop_deb=${debs[1]:-}
arch=$(dpkg --print-architecture)
case "$(basename "$server_deb")" in
  ${SERVER}_*_"$arch".deb) ;;
  *) fail "unexpected server package name $server_deb" ;;
esac
case "$(basename "$desktop_deb")" in
  ${DESKTOP}_*_"$arch".deb) ;;
  *) fail "unexpected desktop package name $desktop_deb" ;;
esac
[ -f "$server_deb" ] && [ -f "$desktop_deb" ] || fail "scripts/package-deb.sh made no packages"
version=$(dpkg-deb -f "$server_deb" Version)
[ "$(dpkg-deb -f "$desktop_deb" Version)" = "$version" ] || fail "the two packages' versions differ"

for deb in "$server_deb" "$desktop_deb"; do
  step "lintian $(basename "$deb")"
  lintian --allow-root --fail-on error,warning --tag-display-limit 0 "$deb" | tee "$TMP/lintian" ||
    fail "lintian reports errors or warnings"
  dpkg-deb -I "$deb" | sed -n '/^ Package:/,$p'
done
dpkg-deb -f "$desktop_deb" Depends | grep -qF "$SERVER (= $version)" ||
  fail "$DESKTOP does not depend on $SERVER (= $version)"

step "nothing in $SERVER needs Qt or X"
# Qt, X, OpenGL, Wayland and what only they bring.
QTX='^(lib)?(qt[0-9]|libqt|libx11|libxcb|libxext|libxrender|libxkbcommon|libxi6|libsm6|libice6|libgl1|libglx|libegl|libopengl|libwayland|libdrm|libgbm|libfontconfig|libfreetype|x11-common)'
depends=$(dpkg-deb -f "$server_deb" Depends)
echo "Depends: $depends"
echo "$depends" | tr ',|' '\n' | sed 's/^ *//; s/[ (].*//' | grep -Ei "$QTX" &&
  fail "$SERVER depends on Qt or X"
# Every package the Depends may bring, each alternative included.
mapfile -t direct < <(echo "$depends" | tr ',|' '\n' | sed 's/^ *//; s/[ (].*//' | grep .)
apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
  --no-replaces --no-enhances "${direct[@]}" 2> /dev/null | sed -n 's/^<\{0,1\}\([^ >]*\)>\{0,1\}$/\1/p' |
  sed 's/:.*//' | sort -u > "$TMP/closure"
[ -s "$TMP/closure" ] || fail "apt-cache found no dependency closure (no package lists?)"
grep -Ei "$QTX" "$TMP/closure" && fail "the dependencies of $SERVER bring Qt or X"
echo "$(wc -l < "$TMP/closure") packages in the closure of its dependencies, none of Qt or X"
# The libraries every ELF file of the package names.
mkdir "$TMP/server"
dpkg-deb -x "$server_deb" "$TMP/server"
elves=0
while read -r f; do
  [ "$(head -c4 "$f" | od -An -c | tr -d ' ')" = '177ELF' ] || continue
  elves=$((elves + 1))
  needed=$(objdump -p "$f" | awk '$1 == "NEEDED" { print $2 }')
  [ -n "$needed" ] || fail "${f#"$TMP"/server} names no library"
  echo "$needed" | grep -Ei '^lib(Qt|X|xcb|GL|EGL|OpenGL|wayland|xkb|fontconfig|freetype)' &&
    fail "${f#"$TMP"/server} needs Qt or X"
done < <(find "$TMP/server" -type f)
[ "$elves" -eq 6 ] || fail "$elves ELF files in $SERVER, expected 6 (4 programs, 2 libraries)"
dpkg-deb -c "$server_deb" | grep -q 'usr/bin/velio-interface$' && fail "$SERVER holds the desktop program"

step "installing $SERVER alone"
dpkg -i "$server_deb" || fail "dpkg -i $SERVER"
for f in /usr/bin/velio-interfaced /usr/bin/pms-client /usr/bin/cardsim /usr/bin/velio-readers \
  "$LIBDIR/libReader.so" "$LIBDIR/libReaderPcsc.so" "$UNIT" "$ENVFILE" \
  /usr/share/polkit-1/rules.d/50-velio-interface-pcscd.rules \
  /usr/share/man/man1/velio-interfaced.1.gz /usr/share/man/man1/cardsim.1.gz \
  /usr/share/doc/$SERVER/copyright "$BASE/doorlock/Client.db"; do
  [ -e "$f" ] || fail "$f was not installed"
done
for f in /usr/bin/velio-interface /usr/share/applications/velio-interface.desktop; do
  [ ! -e "$f" ] || fail "$f came with $SERVER"
done
dpkg-query -W -f='${Conffiles}\n' "$SERVER" | grep -q "^ $ENVFILE " || fail "$ENVFILE is no conffile"
# With the libraries resolved as installed: still nothing of Qt or X.
for f in /usr/bin/velio-interfaced /usr/bin/pms-client /usr/bin/cardsim /usr/bin/velio-readers \
  "$LIBDIR/libReader.so" "$LIBDIR/libReaderPcsc.so"; do
  ldd "$f" > "$TMP/ldd" || fail "ldd $f"
  ! grep -q "not found" "$TMP/ldd" || fail "$f: $(grep "not found" "$TMP/ldd")"
  ! grep -Ei '^\s*lib(Qt|X|xcb|GL|EGL|OpenGL|wayland|xkb|fontconfig|freetype)' "$TMP/ldd" ||
    fail "$f loads Qt or X"
done
for mode in member doorlock police; do
  [ "$(stat -c %U:%G:%a "$BASE/$mode")" = velio:velio:750 ] ||
    fail "$BASE/$mode: $(stat -c %U:%G:%a "$BASE/$mode"), not velio:velio:750"
done
getent passwd velio | grep -q ":$BASE:/usr/sbin/nologin$" || fail "user velio: $(getent passwd velio)"
zcat /usr/share/man/man1/velio-interfaced.1.gz | grep -qF -- '\-\-check' ||
  fail "the manual page lacks --check"

step "systemd-analyze verify"
mkdir -p "$TMP/units"
cp "$UNIT" "$TMP/units/"
(cd "$TMP/units" && SYSTEMD_LOG_LEVEL=notice systemd-analyze verify --man=no \
  "$TMP/units/velio-interfaced@member.service") 2>&1 | tee "$TMP/verify"
[ "${PIPESTATUS[0]}" -eq 0 ] && ! grep -q . "$TMP/verify" || fail "systemd-analyze verify"

# The unit's service settings for instance member.
unit_value() { sed -n "s/^$1=//p" "$UNIT" | sed 's/%i/member/g'; }
exec_start=$(unit_value ExecStart | grep . | tail -1)
user=$(unit_value User)
group=$(unit_value Group)
workdir=$(unit_value WorkingDirectory)
umask_value=$(unit_value UMask)
nofile=$(unit_value LimitNOFILE)
[ "$(unit_value StartLimitBurst)" = 5 ] && [ "$(unit_value StartLimitIntervalSec)" = 60 ] ||
  fail "the unit does not stop after 5 failed starts in 60 s"
sed -n '/^\[Unit\]/,/^\[/p' "$UNIT" | grep -q '^StartLimitBurst=' || fail "StartLimitBurst is not in [Unit]"
[ "$(unit_value EnvironmentFile)" = "$ENVFILE" ] || fail "the unit does not read $ENVFILE"
# A machine without CAP_SYS_RESOURCE (a container) cannot raise the hard limit as systemd would.
if ! prlimit --nofile="$nofile:$nofile" true 2> /dev/null; then
  step "LimitNOFILE=$nofile cannot be set on this machine; using its hard limit $(ulimit -Hn)"
  nofile=$(ulimit -Hn)
fi
mapfile -t unit_env < <(unit_value Environment)
# The environment file, read as systemd reads it (this one has no quotes), wins over Environment=.
mapfile -t file_env < <(grep -E '^[A-Za-z_][A-Za-z0-9_]*=' "$ENVFILE")
[ "${file_env[*]}" = "VELIO_READER_LIBRARY=$LIBDIR/libReaderPcsc.so" ] ||
  fail "$ENVFILE sets ${file_env[*]}, not the PC/SC reader library"
home=$(echo "$exec_start" | sed -n 's/.*--home \([^ ]*\).*/\1/p')
[ "$user" = velio ] && [ "$group" = velio ] || fail "the unit runs as $user:$group"
[ "$home" = "$BASE/member" ] || fail "the unit's home is $home"
[ "$workdir" = "$home" ] || fail "the unit's working directory is $workdir"
read -r -a command <<< "$exec_start"
envs=(PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME="$BASE" USER=velio
  LOGNAME=velio SHELL=/usr/sbin/nologin "${unit_env[@]}" "${file_env[@]}")
# Through the simulator, whatever reader library the unit names.
sim_lib="$LIBDIR/libReader.so"
envs+=(VELIO_READER_LIBRARY="$sim_lib")

as_velio() {  # runs a command as systemd would run the unit's
  (cd "$workdir" && umask "$umask_value" &&
    exec prlimit --nofile="$nofile:$nofile" setpriv --reuid="$user" --regid="$group" \
      --init-groups --no-new-privs env -i "${envs[@]}" "$@")
}
start_velio() {  # out, err, command: as_velio in the background; daemon_pid is the command's
  local out=$1 err=$2
  shift 2
  (cd "$workdir" && umask "$umask_value" &&
    exec prlimit --nofile="$nofile:$nofile" setpriv --reuid="$user" --regid="$group" \
      --init-groups --no-new-privs env -i "${envs[@]}" "$@") > "$out" 2> "$err" &
  daemon_pid=$!
}

step "the installed cardsim writes nothing under /usr"
for who in root velio; do
  rc=0
  runuser -u "$who" -- env -u VELIO_READER_SIM_DIR /usr/bin/cardsim new > "$TMP/cardsim" 2>&1 || rc=$?
  [ $rc -eq 2 ] && grep -q -- "--home" "$TMP/cardsim" ||
    fail "cardsim new as $who without --home: exit $rc, $(cat "$TMP/cardsim")"
done
[ ! -e /usr/bin/ReaderSim ] && [ ! -e "$LIBDIR/ReaderSim" ] || fail "a card folder under /usr"

step "member mode on port $port as $user"
printf '[SysOption]\r\nMemberPortNo=%s\r\n' "$port" > "$TMP/Option.ini"
install -o velio -g velio -m 0640 "$TMP/Option.ini" "$home/Option.ini"
# The card as the README lays it: the service's home, no VELIO_READER_SIM_DIR.
runuser -u velio -- env -u VELIO_READER_SIM_DIR /usr/bin/cardsim --home "$home" new > /dev/null ||
  fail "cardsim --home $home new as velio"
[ "$(stat -c %U "$home/ReaderSim/card.bin")" = velio ] || fail "the card is not velio's"
as_velio /usr/bin/velio-interfaced --check --home "$home" --mode member > "$TMP/check" ||
  { cat "$TMP/check"; fail "--check before start"; }
cat "$TMP/check"
# Installed programs find the packaged simulator without VELIO_READER_LIBRARY.
mkdir -p "$TMP/home"
cp "$TMP/Option.ini" "$TMP/home/"
# (With no settings file: the package's own file chooses the PC/SC library.)
env -u VELIO_READER_LIBRARY VELIO_DEFAULTS_FILE=/dev/null /usr/bin/velio-interfaced --check \
  --home "$TMP/home" > "$TMP/check2" ||
  { cat "$TMP/check2"; fail "--check in a home of its own"; }
grep -q "^OK       reader library $sim_lib loaded" "$TMP/check2" ||
  fail "the installed program does not find $sim_lib: $(cat "$TMP/check2")"
# Without VELIO_READER_LIBRARY, --check reads the library the service would
# load from /etc/default/velio-interfaced, and says so.
env -u VELIO_READER_LIBRARY -u VELIO_DEFAULTS_FILE /usr/bin/velio-interfaced --check \
  --home "$TMP/home" > "$TMP/check3" || true
grep -q "^OK       reader library .*libReaderPcsc.so loaded.*(chosen by /etc/default/velio-interfaced)" \
  "$TMP/check3" || fail "--check does not read /etc/default/velio-interfaced: $(cat "$TMP/check3")"

start_velio "$TMP/out" "$TMP/err" "${command[@]}"
for _ in $(seq 100); do
  grep -q "会员卡接口监听服务器已经启动" "$TMP/out" && ss -Hltn "sport = :$port" | grep -q . && break
  kill -0 "$daemon_pid" 2> /dev/null || break
  sleep 0.1
done
ss -Hltn "sport = :$port" | grep -q . || { cat "$TMP/out" "$TMP/err"; fail "the service does not listen"; }
[ "$(ps -o user= -p "$daemon_pid")" = velio ] || fail "the service does not run as velio"
grep -q "^Max open files *$nofile" "/proc/$daemon_pid/limits" || fail "LimitNOFILE not applied"

reply=$(/usr/bin/pms-client --port "$port" write-member-card --card-no 20261208) || fail "write: $reply"
echo "$reply"
echo "$reply" | grep -q "200" || fail "the write was not answered 200"
reply=$(/usr/bin/pms-client --port "$port" read-member-card) || fail "read: $reply"
echo "$reply"
echo "$reply" | grep -q "20261208" || fail "the read did not answer the card written"
runuser -u velio -- env -u VELIO_READER_SIM_DIR /usr/bin/cardsim --home "$home" show --sector 4 \
  --block 0 | grep -q "|20261208|" || fail "cardsim --home $home does not show the service's card"

# While it serves: the self-check names the running server as the port's
# holder (and passes), a second instance fails in words, and the journal would
# take that line as an error (systemd names the journal's stream in
# JOURNAL_STREAM; errors then carry the priority <3>).
as_velio /usr/bin/velio-interfaced --check --home "$home" --mode member > "$TMP/check" ||
  { cat "$TMP/check"; fail "--check fails while its own server serves"; }
grep -q "^OK       port $port is in use by the running server, pid $daemon_pid" "$TMP/check" ||
  { cat "$TMP/check"; fail "--check line"; }
: > "$TMP/err2"
chmod 0666 "$TMP/err2"
rc=0
(envs+=(JOURNAL_STREAM="$(stat -c %d:%i "$TMP/err2")") && as_velio "${command[@]}") > "$TMP/out2" 2>> "$TMP/err2" || rc=$?
[ $rc -eq 1 ] && grep -q "^<3>velio-interfaced: member mode, port $port (MemberPortNo in Option.ini): Could not bind socket" "$TMP/err2" ||
  fail "second instance: exit $rc, $(cat "$TMP/err2")"

kill -TERM "$daemon_pid"
rc=0
wait "$daemon_pid" || rc=$?
daemon_pid=
[ $rc -eq 0 ] || fail "SIGTERM: exit $rc; $(cat "$TMP/err")"
grep -q "接口监听服务器已经停止" "$TMP/out" || fail "no stop line: $(cat "$TMP/out")"
log=$(ls "$home"/*.LOG 2> /dev/null | head -1)
[ -n "$log" ] && [ "$(stat -c %U "$log")" = velio ] || fail "no daily log by velio in $home"

step "a reader library that is missing is reported to the journal as an error"
: > "$TMP/err3"
chmod 0666 "$TMP/err3"
envs+=(VELIO_READER_LIBRARY=/nonexistent/libReader.so JOURNAL_STREAM="$(stat -c %d:%i "$TMP/err3")")
start_velio "$TMP/out3" "$TMP/err3" "${command[@]}"
for _ in $(seq 100); do
  grep -q "the reader library /nonexistent/libReader.so could not be loaded" "$TMP/err3" && break
  sleep 0.1
done
kill -TERM "$daemon_pid"
wait "$daemon_pid" || true
daemon_pid=
grep -q "^<3>velio-interfaced: the reader library /nonexistent/libReader.so could not be loaded" "$TMP/err3" || fail "stderr: $(cat "$TMP/err3")"

step "installing $DESKTOP"
dpkg -i "$desktop_deb" || fail "dpkg -i $DESKTOP"
for f in /usr/bin/velio-interface /usr/libexec/velio-interface/velio-interface-desktop \
  /usr/share/applications/velio-interface.desktop /usr/share/icons/hicolor/32x32/apps/velio-interface.png \
  /usr/share/man/man1/velio-interface.1.gz /usr/share/doc/$DESKTOP/copyright; do
  [ -e "$f" ] || fail "$f was not installed"
done
ldd /usr/bin/velio-interface > "$TMP/ldd" || fail "ldd velio-interface"
! grep -q "not found" "$TMP/ldd" || fail "velio-interface: $(grep "not found" "$TMP/ldd")"
QT_QPA_PLATFORM=offscreen /usr/bin/velio-interface --help | grep -q -- "--home" ||
  fail "velio-interface --help"
dpkg -r "$SERVER" > /dev/null 2>&1 && fail "dpkg removed $SERVER while $DESKTOP needs it"
dpkg-query -W -f='${Status}' "$SERVER" | grep -q "install ok installed" || fail "$SERVER is not installed"

step "removing and purging both; what the administrator made stays"
# A drop-in of "systemctl edit", the link of "systemctl enable", a police guest record.
made_dropin=yes
mkdir -p "$DROPIN" "$(dirname "$WANTS")"
printf '[Service]\nEnvironment=VELIO_PCSC_READER=Virtual\n' > "$DROPIN/override.conf"
ln -s "$UNIT" "$WANTS"
printf '[Guest]\r\nGenderID=1\r\n' > "$TMP/Guest.ini"
install -o velio -g velio -m 0640 "$TMP/Guest.ini" "$BASE/police/Guest.ini"
echo "# changed by the administrator" >> "$ENVFILE"
dpkg -r "$DESKTOP" "$SERVER" > /dev/null || fail "dpkg -r"
[ ! -e /usr/bin/velio-interfaced ] && [ ! -e /usr/bin/velio-interface ] && [ ! -e "$UNIT" ] ||
  fail "dpkg -r left programs"
[ -f "$log" ] || fail "dpkg -r removed the log"
[ -f "$ENVFILE" ] || fail "dpkg -r removed the conffile $ENVFILE"
known "$DESKTOP" && fail "dpkg -r left $DESKTOP known (it has no conffiles)"
dpkg --purge "$SERVER" > /dev/null || fail "dpkg --purge"
[ -f "$log" ] && [ -f "$home/Option.ini" ] || fail "purge removed the log or Option.ini it did not create"
[ -f "$BASE/police/Guest.ini" ] || fail "purge removed the administrator's Guest.ini"
[ -f "$DROPIN/override.conf" ] || fail "purge removed the administrator's drop-in $DROPIN/override.conf"
[ -L "$WANTS" ] || fail "purge removed the administrator's link $WANTS"
[ ! -e "$ENVFILE" ] || fail "purge left the conffile $ENVFILE"
[ ! -e "$BASE/doorlock" ] || fail "purge left the home it created"
[ ! -e "$home/ReaderSim" ] || fail "purge left the simulator's card"
rm -rf "$DROPIN"
rm -f "$WANTS"
[ -n "$wants_dir_existed" ] || rmdir "$(dirname "$WANTS")"
made_dropin=

step "upgrading from the single package $DESKTOP 1.0.0"
# The package as it was: everything in one, its scripts the server's, no
# environment file (the unit named the library), no Breaks or Replaces.
mkdir -p "$TMP/old"
dpkg-deb -R "$server_deb" "$TMP/old"
dpkg-deb -x "$desktop_deb" "$TMP/old"
rm -rf "$TMP/old/usr/share/doc/$SERVER" "$TMP/old/etc" "$TMP/old/DEBIAN/conffiles"
sed -i -e "s/^Package: .*/Package: $DESKTOP/" -e 's/^Version: .*/Version: 1.0.0/' \
  -e '/^Breaks:/d' -e '/^Replaces:/d' "$TMP/old/DEBIAN/control"
dpkg-deb --root-owner-group -Zxz --build "$TMP/old" "$TMP/old.deb" > /dev/null || fail "the old package"
dpkg -i "$TMP/old.deb" > /dev/null || fail "dpkg -i the old package"
[ -f "$log" ] || fail "a new install touched the kept log"
dpkg -i --auto-deconfigure "$server_deb" "$desktop_deb" > "$TMP/upgrade" 2>&1 ||
  { cat "$TMP/upgrade"; fail "dpkg -i over the old package"; }
for pkg in "$SERVER" "$DESKTOP"; do
  dpkg-query -W -f='${Status} ${Version}' "$pkg" | grep -qx "install ok installed $version" ||
    fail "$pkg after the upgrade: $(dpkg-query -W -f='${Status} ${Version}' "$pkg")"
done
[ "$(dpkg -S /usr/bin/velio-interfaced | cut -d: -f1)" = "$SERVER" ] || fail "velio-interfaced is not $SERVER's"
[ "$(dpkg -S /usr/bin/velio-interface | cut -d: -f1)" = "$DESKTOP" ] || fail "velio-interface is not $DESKTOP's"
for f in /usr/bin/velio-interfaced /usr/bin/velio-interface "$LIBDIR/libReader.so" "$UNIT" \
  "$ENVFILE" "$BASE/doorlock/Client.db"; do
  [ -e "$f" ] || fail "$f is missing after the upgrade"
done

step "purging both with VELIO_PURGE_DATA=yes"
dpkg --purge "$DESKTOP" > /dev/null || fail "dpkg --purge $DESKTOP"
VELIO_PURGE_DATA=yes dpkg --purge "$SERVER" > /dev/null || fail "dpkg --purge $SERVER (VELIO_PURGE_DATA=yes)"
[ ! -e "$BASE" ] || fail "$BASE is left"
! getent passwd velio > /dev/null || fail "the user velio is left"
! getent group velio > /dev/null || fail "the group velio is left"
for pkg in "$SERVER" "$DESKTOP"; do
  ! dpkg-query -W "$pkg" > /dev/null 2>&1 || fail "dpkg still knows $pkg"
done
for f in /usr/bin/velio-interface* /usr/bin/cardsim /usr/bin/pms-client /usr/bin/velio-readers \
  "$LIBDIR" /usr/share/polkit-1/rules.d/50-velio-interface-pcscd.rules \
  /usr/share/applications/velio-interface.desktop "$UNIT" "$ENVFILE"; do
  [ ! -e "$f" ] || fail "$f is left"
done
