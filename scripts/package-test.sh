#!/usr/bin/env bash
# The package test: builds the .deb (scripts/package-deb.sh), runs lintian on
# it, installs it on this machine, checks the unit with systemd-analyze verify,
# runs the unit's ExecStart in member mode the way systemd would (as the user
# velio, in its working directory, with its environment, umask and descriptor
# limit; systemd itself does not run here), answers requests through the
# reader simulator, then removes and purges the package. The machine is left
# as it was, also when a step fails: the package, the user velio and
# /var/lib/velio-interface must not exist before, and are gone after.
#
# Needs root (uses sudo otherwise). VELIO_PACKAGE_PORT sets the member port of
# the test (default: a free port from 20000 up, never the product's 8881-8886).
# Exits non-zero with the reason on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" -ne 0 ]; then exec sudo -E "$0" "$@"; fi

PKG=velio-interface
BASE=/var/lib/velio-interface
UNIT=/lib/systemd/system/velio-interfaced@.service
TMP=$(mktemp -d)
chmod 0755 "$TMP"
daemon_pid=

fail() {
  echo "package-test: FAILED: $*" >&2
  exit 1
}
step() { echo "package-test: $*"; }

# Refuse to run where the package or its user already exist: the test would change them.
dpkg-query -W -f='${Status}' "$PKG" 2> /dev/null | grep -q "installed" &&
  fail "$PKG is installed on this machine; the test installs and purges it"
getent passwd velio > /dev/null && fail "the user velio exists on this machine"
getent group velio > /dev/null && fail "the group velio exists on this machine"
[ -e "$BASE" ] && fail "$BASE exists on this machine"

cleanup() {
  local rc=$?
  if [ -n "$daemon_pid" ]; then
    kill -KILL "$daemon_pid" 2> /dev/null || true
    wait "$daemon_pid" 2> /dev/null || true
  fi
  if dpkg-query -W -f='${Status}' "$PKG" 2> /dev/null | grep -Eq "installed|config-files|half"; then
    VELIO_PURGE_DATA=yes dpkg --purge "$PKG" > /dev/null 2>&1 || true
  fi
  rm -rf "$BASE"
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

step "building the package"
deb=$(scripts/package-deb.sh | tail -1)
[ -f "$deb" ] || fail "scripts/package-deb.sh made no package"
case "$(basename "$deb")" in
  ${PKG}_*_"$(dpkg --print-architecture)".deb) ;;
  *) fail "unexpected package name $deb" ;;
esac

step "lintian $(basename "$deb")"
lintian --allow-root --fail-on error --tag-display-limit 0 "$deb" | tee "$TMP/lintian" ||
  fail "lintian reports errors"
dpkg-deb -I "$deb" | sed -n '/^ Package:/,$p'

step "installing"
dpkg -i "$deb" || fail "dpkg -i"
for f in /usr/bin/velio-interface /usr/bin/velio-interfaced /usr/bin/pms-client /usr/bin/cardsim \
  "/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/velio-interface/libReader.so" \
  "$UNIT" /usr/share/polkit-1/rules.d/50-velio-interface-pcscd.rules \
  /usr/share/applications/velio-interface.desktop /usr/share/man/man1/velio-interfaced.1.gz \
  /usr/share/doc/$PKG/copyright "$BASE/doorlock/Client.db"; do
  [ -e "$f" ] || fail "$f was not installed"
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
# A machine without CAP_SYS_RESOURCE (a container) cannot raise the hard limit as systemd would.
if ! prlimit --nofile="$nofile:$nofile" true 2> /dev/null; then
  step "LimitNOFILE=$nofile cannot be set on this machine; using its hard limit $(ulimit -Hn)"
  nofile=$(ulimit -Hn)
fi
mapfile -t unit_env < <(unit_value Environment)
home=$(echo "$exec_start" | sed -n 's/.*--home \([^ ]*\).*/\1/p')
[ "$user" = velio ] && [ "$group" = velio ] || fail "the unit runs as $user:$group"
[ "$home" = "$BASE/member" ] || fail "the unit's home is $home"
[ "$workdir" = "$home" ] || fail "the unit's working directory is $workdir"
read -r -a command <<< "$exec_start"
envs=(PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME="$BASE" USER=velio
  LOGNAME=velio SHELL=/usr/sbin/nologin "${unit_env[@]}")
# Through the simulator, whatever reader library the unit names.
sim_lib="/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/velio-interface/libReader.so"
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

step "member mode on port $port as $user"
printf '[SysOption]\r\nMemberPortNo=%s\r\n' "$port" > "$TMP/Option.ini"
install -o velio -g velio -m 0640 "$TMP/Option.ini" "$home/Option.ini"
as_velio /usr/bin/cardsim new > /dev/null || fail "cardsim new as velio"
as_velio /usr/bin/velio-interfaced --check --home "$home" --mode member > "$TMP/check" ||
  { cat "$TMP/check"; fail "--check before start"; }
cat "$TMP/check"
# Installed programs find the packaged simulator without VELIO_READER_LIBRARY.
mkdir -p "$TMP/home"
cp "$TMP/Option.ini" "$TMP/home/"
env -u VELIO_READER_LIBRARY /usr/bin/velio-interfaced --check --home "$TMP/home" > "$TMP/check2" ||
  { cat "$TMP/check2"; fail "--check in a home of its own"; }
grep -q "^OK       reader library $sim_lib loaded" "$TMP/check2" ||
  fail "the installed program does not find $sim_lib: $(cat "$TMP/check2")"

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

# While it serves: the self-check names the port, a second instance fails in words.
if as_velio /usr/bin/velio-interfaced --check --home "$home" --mode member > "$TMP/check"; then
  fail "--check passes while the port is taken"
fi
grep -q "^FAILED   port $port cannot be bound" "$TMP/check" || { cat "$TMP/check"; fail "--check line"; }
rc=0
as_velio "${command[@]}" > "$TMP/out2" 2> "$TMP/err2" || rc=$?
[ $rc -eq 1 ] && grep -q "member mode, port $port (MemberPortNo in Option.ini): Could not bind socket" "$TMP/err2" || fail "second instance: exit $rc, $(cat "$TMP/err2")"

kill -TERM "$daemon_pid"
rc=0
wait "$daemon_pid" || rc=$?
daemon_pid=
[ $rc -eq 0 ] || fail "SIGTERM: exit $rc; $(cat "$TMP/err")"
grep -q "接口监听服务器已经停止" "$TMP/out" || fail "no stop line: $(cat "$TMP/out")"
log=$(ls "$home"/*.LOG 2> /dev/null | head -1)
[ -n "$log" ] && [ "$(stat -c %U "$log")" = velio ] || fail "no daily log by velio in $home"

step "a reader library that is missing is reported to the journal as an error"
# systemd names the journal's stream in JOURNAL_STREAM; errors then carry the priority <3>.
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

step "removing and purging"
dpkg -r "$PKG" > /dev/null || fail "dpkg -r"
[ ! -e /usr/bin/velio-interfaced ] && [ ! -e "$UNIT" ] || fail "dpkg -r left programs"
[ -f "$log" ] || fail "dpkg -r removed the log"
dpkg --purge "$PKG" > /dev/null || fail "dpkg --purge"
[ -f "$log" ] && [ -f "$home/Option.ini" ] || fail "purge removed the log or Option.ini it did not create"
[ ! -e "$BASE/doorlock" ] && [ ! -e "$BASE/police" ] || fail "purge left the homes it created"
[ ! -e "$home/ReaderSim" ] || fail "purge left the simulator's card"

step "installing again, purging with VELIO_PURGE_DATA=yes"
dpkg -i "$deb" > /dev/null || fail "dpkg -i (again)"
[ -f "$log" ] || fail "a new install touched the kept log"
VELIO_PURGE_DATA=yes dpkg --purge "$PKG" > /dev/null || fail "dpkg --purge (VELIO_PURGE_DATA=yes)"
[ ! -e "$BASE" ] || fail "$BASE is left"
! getent passwd velio > /dev/null || fail "the user velio is left"
! getent group velio > /dev/null || fail "the group velio is left"
! dpkg-query -W "$PKG" > /dev/null 2>&1 || fail "dpkg still knows $PKG"
for f in /usr/bin/velio-interface* /usr/share/polkit-1/rules.d/50-velio-interface-pcscd.rules \
  /usr/share/applications/velio-interface.desktop "$UNIT"; do
  [ ! -e "$f" ] || fail "$f is left"
done
