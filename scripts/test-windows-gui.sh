#!/usr/bin/env bash
# test-windows-gui.sh [mingw32|mingw64|all]   (default: all)
#
# The Windows desktop program (velio-interface.exe) under Wine on a private
# Xvfb, driven with xdotool and read back with xprop and the program's form
# dump (VELIO_FORM_DUMP: every window's caption, controls' texts and places,
# and every message box, written as they show):
#   - in each mode the main window's caption; Alt+F4 gives the password prompt,
#     a wrong password the "提示" box with "密码错误 ！", the right one ends the
#     program with exit code 0 and the stop line in the memo;
#   - member mode: the options dialog, opened from the menu through the
#     prompt, changes the sector and saves; Option.ini is then byte for byte
#     what the Linux program (build/bin/velio-interface, driven the same way
#     on the same X server) writes for that change, or, without a Linux
#     build, the bytes the shared options code writes;
#   - member mode: the test window writes a card on the simulator Reader.dll
#     and reads it back;
#   - the about box in each mode; the change-password dialog refuses two
#     different entries and saves two equal ones;
#   - door-lock mode: the test window issues a key card on the simulated
#     encoder and the record store (the host's SQLite ODBC driver) holds the room;
#   - the end of the Windows session (wineboot --end-session) stops it in
#     order without the prompt;
#   - every window opened is checked against the form table
#     (forms/FormTableUnit.cpp): caption, client size, each control's text
#     and place, the pictures, the menus, menu items and tool buttons.
# 64-bit always; 32-bit where the system runs 32-bit programs (said in the
# output). There is no window manager: keys go straight to a window
# (xdotool key --window). Exits non-zero on any failure.
set -uo pipefail
cd "$(dirname "$0")/.."
which=${1:-all}
export WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2}
TMP=$(mktemp -d)
status=0
xvfb=
prefixes=()
cleanup() {
  for p in "${prefixes[@]}"; do scripts/wine-run.sh "${p%:*}" "${p##*:}" --stop; done
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
  rm -rf "$TMP"
}
trap cleanup EXIT

fail() { echo "FAIL: $*"; status=1; }
pass() { echo "ok    $*"; }

# A private X server on the first free display.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$TMP/display" 2>"$TMP/xvfb.log" &
xvfb=$!
for _ in $(seq 50); do [ -s "$TMP/display" ] && break; sleep 0.1; done
[ -s "$TMP/display" ] || { echo "test-windows-gui.sh: Xvfb did not start: $(cat "$TMP/xvfb.log")"; exit 1; }
export DISPLAY=:$(cat "$TMP/display")

# The window of exactly this caption (the newest), waiting up to 20 s.
wait_window() {
  local id
  for _ in $(seq 100); do
    id=$(xdotool search --name "^$1\$" 2>/dev/null | tail -1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.2
  done
  return 1
}
# Waits until no window of this caption is left.
wait_gone() {
  for _ in $(seq 50); do
    [ -z "$(xdotool search --name "^$1\$" 2>/dev/null)" ] && return 0
    sleep 0.2
  done
  return 1
}
keys() { local w=$1; shift; xdotool key --window "$w" --delay 80 "$@" 2>/dev/null; sleep 0.3; }
type_text() { xdotool type --window "$1" --delay 50 "$2" 2>/dev/null; sleep 0.3; }
caption_of() { xprop -id "$1" _NET_WM_NAME | sed -E 's/^[^"]*"(.*)"$/\1/'; }
# The last dump line of form.control (the field after the name: its text).
dumped() { awk -F'\t' -v f="$2" -v c="$3" '$1==f && $2==c {t=$3} END {print t}' "$1"; }

# The request server of every mode on a free port (0), never on one in use.
PORTS='[SysOption]\r\nDoorlockPortNo=0\r\nPolicePortNo=0\r\nMemberPortNo=0\r\n'

# Starts the program in mode with home; sets app (its pid) and dump.
start_program() {
  local mode=$1 home=$2
  mkdir -p "$home"
  [ -f "$home/Option.ini" ] || printf "$PORTS" >"$home/Option.ini"
  dump=$home/dump.txt
  : >"$dump"
  VELIO_FORM_DUMP="Z:$dump" "$WINE" "$EXE" --home "Z:$home" --mode "$mode" "${@:3}" \
    >"$home/stdout" 2>"$home/stderr" &
  app=$!
}
# Answers the open password prompt with text.
answer_prompt() {
  local p
  p=$(wait_window "请输入管理员密码") || { fail "$label: no password prompt"; return 1; }
  type_text "$p" "$1"
  keys "$p" Return
}
# Closes the main window through Alt+F4 and the right password; checks exit 0
# and the stop line.
close_program() {
  local main=$1 rc=0
  keys "$main" alt+F4
  answer_prompt qelvan || return 1
  for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.2; done
  wait "$app" || rc=$?
  [ $rc -eq 0 ] || fail "$label: exit code $rc after the right password ($(cat "$home/stderr"))"
  dumped "$dump" TMainForm InfoMemo | grep -q '接口监听服务器已经停止。' ||
    fail "$label: no stop line in the memo: $(dumped "$dump" TMainForm InfoMemo)"
}

# Every window in the dump against its table row: caption (the main window's
# and the about box's are the mode's), client size, each control's text
# (those the window fills when it opens aside) and place.
check_table() {
  python3 - "$1" forms/FormTableUnit.cpp <<'EOF'
import re, sys
dump, source = open(sys.argv[1], encoding='utf-8').read(), open(sys.argv[2], encoding='utf-8').read()
arrays = {}
for name, body in re.findall(r'const TControlRow (k\w+)\[\] = \{(.*?)\n\};', source, re.S):
    arrays[name] = {m[0]: m for m in re.findall(
        r'\{"(\w+)", K::(\w+), "((?:[^"\\]|\\.)*)", (-?\d+), (-?\d+), (-?\d+), (-?\d+)'
        r'(?:,\s*-?\d+,\s*\w+,\s*\w+,\s*"[^"]*",\s*"[^"]*",\s*"([^"]*)")?', body)}
forms = {m[0]: m for m in re.findall(r'\{"(T\w+)", "([^"]*)", (\d+), (\d+), (k\w+)', source)}
filled = {'TAboutForm': {'lblAppTitle', 'lblVersion', 'lblCopyright', 'lblCompany'},
          'TMainForm': {'InfoMemo'}, 'TDoorlockTestForm': {'CheckInDateTimeTxt', 'CheckOutDateTimeTxt', 'CardNoTxt'},
          'TMemberTestForm': {'CardNoEdit', 'PasswordEdit'}}
bad, seen, shown = [], set(), False
for line in dump.splitlines():
    f = line.split('\t')
    if f[0] == 'MessageBox' or f[0] not in forms:
        continue
    form = forms[f[0]]
    if f[1] == '':
        # Only what a window shows when it opens; later lines carry results.
        shown = f[4] == 'shown'
        if not shown:
            continue
        seen.add(f[0])
        if form[1] and f[0] != 'TAboutForm' and f[2] != form[1]:
            bad.append(f'{f[0]} caption {f[2]!r}, table {form[1]!r}')
        if f[3] != f'{form[2]},{form[3]}':
            bad.append(f'{f[0]} client size {f[3]}, table {form[2]},{form[3]}')
        continue
    if not shown:
        continue
    row = arrays[form[4]].get(f[1])
    if row is None:
        bad.append(f'{f[0]}.{f[1]} is not in the table')
        continue
    # A picture shows its file name once loaded.
    expected = row[7] if row[1] == 'Image' else row[2]
    if row[1] != 'ComboBox' and f[1] not in filled.get(f[0], ()) and f[2] != expected:
        bad.append(f'{f[0]}.{f[1]} text {f[2]!r}, table {expected!r}')
    if row[1] not in ('ToolBar', 'Menu', 'MenuItem', 'ToolButton') and f[3] != f'{row[3]},{row[4]}':
        bad.append(f'{f[0]}.{f[1]} at {f[3]}, table {row[3]},{row[4]}')
print('\n'.join(bad) if bad else 'windows checked against the table: ' + ' '.join(sorted(seen)))
sys.exit(1 if bad else 0)
EOF
}

# The main window in mode: caption, the prompt on Alt+F4, a wrong password,
# the right one.
test_close() {
  local mode=$1 caption=$2 main prompt box rc about
  label="$preset $mode"
  home=$TMP/$preset-$mode
  start_program "$mode" "$home"
  main=$(wait_window "$caption") || { fail "$label: no main window \"$caption\" ($(cat "$home/stderr"))"; kill "$app"; return; }
  pass "$label: main window \"$(caption_of "$main")\""
  keys "$main" alt+h a
  about=$(wait_window "关于 $caption") && keys "$about" Return && wait_gone "关于 $caption" &&
    pass "$label: Help > About -> \"关于 $caption\", closed by Enter" ||
    fail "$label: the about box \"关于 $caption\" did not open and close"
  keys "$main" alt+F4
  prompt=$(wait_window "请输入管理员密码") || { fail "$label: Alt+F4 gave no password prompt"; kill "$app"; return; }
  pass "$label: Alt+F4 -> \"$(caption_of "$prompt")\""
  type_text "$prompt" wrong
  keys "$prompt" Return
  box=$(wait_window "提示") || { fail "$label: a wrong password gave no \"提示\" box"; kill "$app"; return; }
  grep -q $'^MessageBox\t提示\t密码错误 ！$' "$dump" && pass "$label: wrong password -> \"提示\" / \"密码错误 ！\"" ||
    fail "$label: the box says $(grep MessageBox "$dump")"
  keys "$box" Return
  wait_gone "提示" || fail "$label: the \"提示\" box stays"
  keys "$prompt" BackSpace BackSpace BackSpace BackSpace BackSpace
  type_text "$prompt" qelvan
  keys "$prompt" Return
  rc=0
  for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.2; done
  wait "$app" || rc=$?
  [ $rc -eq 0 ] && dumped "$dump" TMainForm InfoMemo | grep -q '接口监听服务器已经停止。' &&
    pass "$label: right password -> exit 0, stop line" ||
    fail "$label: right password -> exit $rc, memo: $(dumped "$dump" TMainForm InfoMemo)"
  check_table "$dump" >"$TMP/table" && pass "$label: $(cat "$TMP/table")" || fail "$label: $(cat "$TMP/table")"
}

# Member options: menu -> prompt -> dialog; the sector becomes 5; Option.ini
# compared with the expected bytes.
test_options() {
  local main dialog box
  label="$preset member options"
  home=$TMP/$preset-options
  mkdir -p "$home"
  # The system options already there, as an installed program has them.
  printf "$PORTS"'Password=qelvan\r\n' >"$home/Option.ini"
  start_program member "$home"
  main=$(wait_window "TarvikVelio会员卡接口") || { fail "$label: no main window"; kill "$app"; return; }
  keys "$main" alt+t o
  answer_prompt qelvan || { kill "$app"; return; }
  dialog=$(wait_window "Zenta会员卡接口配置") || { fail "$label: no options dialog"; kill "$app"; return; }
  # Focus starts on the port box; the sector box is next.
  keys "$dialog" Tab ctrl+a BackSpace
  type_text "$dialog" 5
  keys "$dialog" Return
  box=$(wait_window "提示") || { fail "$label: no \"提示\" box after saving"; kill "$app"; return; }
  grep -q $'^MessageBox\t提示\t请重新启动程序,以启用设置的参数！$' "$dump" || fail "$label: box: $(grep MessageBox "$dump")"
  keys "$box" Return
  close_program "$main"
  # The Linux program's file for the same change, when the Linux build is
  # there (./test.sh builds it first); else what the shared options code
  # writes for it: the system section kept, the member section added after a
  # blank line in its key order, CR LF lines.
  if linux_options_file "$TMP/expected.ini"; then
    what="what the Linux program writes"
  else
    printf "$PORTS"'Password=qelvan\r\n\r\n[MemberOption]\r\nPortName=COM1\r\nSector=5\r\nBlock=0\r\nKey=7D2A9C41E6B3\r\nKeyFlag=KEY_A\r\n' >"$TMP/expected.ini"
    what="the expected bytes (no Linux build in build/ to compare with)"
  fi
  if cmp -s "$TMP/expected.ini" "$home/Option.ini"; then
    pass "$label: sector 5 saved; Option.ini byte for byte $what"
  else
    fail "$label: Option.ini differs from $what:"; diff <(od -c "$TMP/expected.ini") <(od -c "$home/Option.ini")
  fi
  check_table "$dump" >"$TMP/table" && pass "$label: $(cat "$TMP/table")" || fail "$label: $(cat "$TMP/table")"
}

# The same change in the Linux program (build/bin/velio-interface, Qt on this
# X server): its Option.ini is copied to $1. False when there is no Linux build
# or it did not get through.
linux_options_file() {
  local program=build/bin/velio-interface lhome=$TMP/linux-options main dialog box prompt
  [ -x "$program" ] || return 1
  [ -f "$lhome/done" ] && { cp "$lhome/Option.ini" "$1"; return 0; }  # once per run
  rm -rf "$lhome"
  mkdir -p "$lhome"
  printf "$PORTS"'Password=qelvan\r\n' >"$lhome/Option.ini"
  # Qt takes no sent events: the window gets the keyboard, then real keys.
  qwait() {
    local id
    for _ in $(seq 100); do
      id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | tail -1)
      [ -n "$id" ] && { echo "$id"; return 0; }
      sleep 0.2
    done
    return 1
  }
  qkeys() {
    xdotool windowfocus "$1" 2>/dev/null
    sleep 0.2
    for k in "${@:2}"; do xdotool key "$k" 2>/dev/null; sleep 0.2; done
  }
  qtype() { xdotool windowfocus "$1" 2>/dev/null; sleep 0.2; xdotool type --delay 50 "$2" 2>/dev/null; }
  QT_QPA_PLATFORM=xcb "$program" --home "$lhome" --mode member >"$lhome/out" 2>&1 &
  local pid=$!
  main=$(qwait "TarvikVelio会员卡接口") && sleep 1 &&
    qkeys "$main" alt+t o && prompt=$(qwait "请输入管理员密码") &&
    qtype "$prompt" qelvan && qkeys "$prompt" Return &&
    dialog=$(qwait "Zenta会员卡接口配置") && qkeys "$dialog" Tab ctrl+a BackSpace &&
    qtype "$dialog" 5 && qkeys "$dialog" Return && box=$(qwait "提示") &&
    qkeys "$box" Return && sleep 0.5 && qkeys "$main" alt+f x &&
    prompt=$(qwait "请输入管理员密码") && qtype "$prompt" qelvan && qkeys "$prompt" Return
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
  kill "$pid" 2>/dev/null && { echo "    (the Linux program did not get through: $(cat "$lhome/out"))"; return 1; }
  wait "$pid" || return 1
  touch "$lhome/done"
  cp "$lhome/Option.ini" "$1"
}

# The change-password dialog: two different entries are refused and the
# dialog stays; two equal ones change the password, which then closes the program.
test_change_password() {
  local main dialog box
  label="$preset change password"
  home=$TMP/$preset-password
  start_program member "$home"
  main=$(wait_window "TarvikVelio会员卡接口") || { fail "$label: no main window"; kill "$app"; return; }
  keys "$main" alt+t c
  answer_prompt qelvan || { kill "$app"; return; }
  dialog=$(wait_window "更改管理员密码") || { fail "$label: no dialog"; kill "$app"; return; }
  type_text "$dialog" abc
  keys "$dialog" Tab
  type_text "$dialog" abd
  keys "$dialog" Return
  box=$(wait_window "提示") || { fail "$label: no box for different entries"; kill "$app"; return; }
  grep -q $'^MessageBox\t提示\t您两次输入的密码不一致，请重新输入！$' "$dump" ||
    fail "$label: box: $(grep MessageBox "$dump")"
  keys "$box" Return
  wait_gone "提示"
  [ -n "$(xdotool search --name '^更改管理员密码$' 2>/dev/null)" ] || fail "$label: the dialog closed on different entries"
  keys "$dialog" Escape
  wait_gone "更改管理员密码" || fail "$label: Esc leaves the dialog open"
  keys "$main" alt+t c
  answer_prompt qelvan || { kill "$app"; return; }
  dialog=$(wait_window "更改管理员密码") || { fail "$label: no dialog the second time"; kill "$app"; return; }
  type_text "$dialog" s3cret
  keys "$dialog" Tab
  type_text "$dialog" s3cret
  keys "$dialog" Return
  box=$(wait_window "提示") || { fail "$label: no box after the change"; kill "$app"; return; }
  grep -q $'^MessageBox\t提示\t管理员密码更改成功！$' "$dump" || fail "$label: box: $(grep MessageBox "$dump" | tail -1)"
  keys "$box" Return
  wait_gone "更改管理员密码" || fail "$label: the dialog stays after the change"
  keys "$main" alt+F4
  answer_prompt s3cret || { kill "$app"; return; }
  local rc=0
  for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.2; done
  wait "$app" || rc=$?
  [ $rc -eq 0 ] && grep -q $'^Password=s3cret\r$' "$home/Option.ini" &&
    pass "$label: different entries refused; the new password saved and closes the program" ||
    fail "$label: exit $rc; Option.ini: $(cat "$home/Option.ini")"
  check_table "$dump" >"$TMP/table" && pass "$label: $(cat "$TMP/table")" || fail "$label: $(cat "$TMP/table")"
}

# Member test window: write card 12345678, clear the box, read it back.
test_member_card() {
  local main test
  label="$preset member test window"
  home=$TMP/$preset-member-card
  mkdir -p "$home"
  "$WINE" "$(dirname "$EXE")/cardsim.exe" --home "Z:$home" new >"$home/cardsim" 2>&1 ||
    { fail "$label: cardsim new: $(cat "$home/cardsim")"; return; }
  start_program member "$home"
  main=$(wait_window "TarvikVelio会员卡接口") || { fail "$label: no main window"; kill "$app"; return; }
  keys "$main" alt+t t
  test=$(wait_window "测试") || { fail "$label: no test window"; kill "$app"; return; }
  # Tab order: OpenPortBtn beepBtn ClosePortBtn ChannelCmb CardNoEdit PasswordEdit ReadCardBtn WriteCardBtn.
  keys "$test" Tab Tab Tab Tab
  type_text "$test" 12345678
  keys "$test" Tab Tab Tab space
  keys "$test" shift+Tab shift+Tab shift+Tab End shift+Home Delete
  keys "$test" Tab Tab space
  keys "$test" Escape
  wait_gone "测试" || fail "$label: Esc leaves the test window open"
  if grep -q '^MessageBox' "$dump"; then fail "$label: $(grep MessageBox "$dump")"; fi
  # Sector 4, block 0 of the card image: the number's bytes, then 0xFF.
  [ "$(od -An -c -j 256 -N 8 "$home/ReaderSim/card.bin" | tr -d ' ')" = 12345678 ] ||
    fail "$label: the card image holds $(od -An -c -j 256 -N 16 "$home/ReaderSim/card.bin")"
  [ "$(dumped "$dump" TMemberTestForm CardNoEdit)" = 12345678 ] &&
    pass "$label: card 12345678 written and read back on the simulator Reader.dll" ||
    fail "$label: read back \"$(dumped "$dump" TMemberTestForm CardNoEdit)\""
  close_program "$main"
  check_table "$dump" >"$TMP/table" && pass "$label: $(cat "$TMP/table")" || fail "$label: $(cat "$TMP/table")"
}

# Door-lock test window: issue a key card for room 00-01-01; the store holds it.
test_doorlock_card() {
  local main test store rows
  label="$preset door-lock test window"
  home=$TMP/$preset-doorlock-card
  mkdir -p "$home"
  store="Driver=SQLite3;Database=$home/Client.db;"
  # The store keeps the room's time and every issue.
  printf "$PORTS"'\r\n[DoorlockOption]\r\nUseNativeDoorlockDb=1\r\nSaveDoorlockRecord=1\r\n' >"$home/Option.ini"
  "$WINE" "$(dirname "$EXE")/velio-interfaced.exe" --init-db --home "Z:$home" --store "$store" \
    >"$home/init" 2>&1 || { fail "$label: --init-db: $(cat "$home/init")"; return; }
  start_program doorlock "$home" --store "$store"
  main=$(wait_window "TarvikVelio门锁接口") || { fail "$label: no main window"; kill "$app"; return; }
  keys "$main" alt+t t
  test=$(wait_window "测试") || { fail "$label: no test window"; kill "$app"; return; }
  # Tab order: OpenPortBtn ClosePortBtn CardNoTxt RoomNoTxt RoomFloorCodeTxt
  # RoomBuildingCodeTxt ReadCardBtn WriteCardBtn.
  keys "$test" Tab Tab Tab Tab Tab Tab Tab space
  keys "$test" Escape
  wait_gone "测试" || fail "$label: Esc leaves the test window open"
  if grep -q '^MessageBox' "$dump"; then fail "$label: $(grep MessageBox "$dump")"; fi
  close_program "$main"
  rows=$(sqlite3 "$home/Client.db" "select RoomNo from T_Room; select RoomNo, GuestName from T_IssueCardRecord" 2>&1)
  [ "$rows" = $'000101\n000101|Test' ] &&
    pass "$label: key card issued; the store holds room 000101 and its issue record" ||
    fail "$label: the store holds: $rows; log: $(iconv -f gbk -t utf-8 "$home"/*.LOG)"
  check_table "$dump" >"$TMP/table" && pass "$label: $(cat "$TMP/table")" || fail "$label: $(cat "$TMP/table")"
}

# The end of the Windows session (wineboot --end-session) with the test window
# open: the program stops in order without the prompt, exit 0, the stop line.
test_end_session() {
  local main rc=0
  label="$preset end of session"
  home=$TMP/$preset-session
  start_program doorlock "$home"
  main=$(wait_window "TarvikVelio门锁接口") || { fail "$label: no main window"; kill "$app"; return; }
  keys "$main" alt+t t
  wait_window "测试" >/dev/null || fail "$label: no test window"
  timeout 60 "$WINE" wineboot --end-session >/dev/null 2>&1
  for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.2; done
  kill -0 "$app" 2>/dev/null && { fail "$label: still running"; kill "$app"; return; }
  wait "$app" || rc=$?
  [ $rc -eq 0 ] && dumped "$dump" TMainForm InfoMemo | grep -q '接口监听服务器已经停止。' &&
    ! grep -q '^TCheckPasswordForm' "$dump" &&
    pass "$label: stopped in order without the prompt (exit 0, stop line)" ||
    fail "$label: exit $rc, memo: $(dumped "$dump" TMainForm InfoMemo)"
}

run_preset() {
  preset=$1
  local arch=$2
  echo "=== $preset: velio-interface.exe under Wine ($arch) on Xvfb $DISPLAY ==="
  cmake --preset "$preset" >/dev/null &&
    cmake --build --preset "$preset" --target velio-interface velio-interfaced Reader cardsim >/dev/null ||
    { fail "$preset: build"; return; }
  local prefix=$PWD/build-$preset/wineprefix
  scripts/wine-run.sh "$prefix" "$arch" --init || { fail "$preset: Wine prefix"; return; }
  prefixes+=("$prefix:$arch")
  export WINEPREFIX=$prefix WINEARCH=$arch
  if [ "$arch" = win64 ]; then
    WINE=/usr/lib/wine/wine64
    export WINELOADER=$WINE
  else
    WINE=/usr/lib/wine/wine
    unset WINELOADER
  fi
  EXE=$PWD/build-$preset/bin/velio-interface.exe
  test_close member "TarvikVelio会员卡接口"
  test_close doorlock "TarvikVelio门锁接口"
  test_close police "TarvikVelio公安接口"
  test_options
  test_change_password
  test_member_card
  test_doorlock_card
  test_end_session
}

if [ "$which" = all ] || [ "$which" = mingw64 ]; then
  run_preset mingw64 win64
fi
if [ "$which" = all ] || [ "$which" = mingw32 ]; then
  if [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
    run_preset mingw32 win32
  else
    echo "*** mingw32: NOT RUN: this system does not execute 32-bit programs (the kernel's" \
         "32-bit emulation is off), so the window was tested 64-bit only"
  fi
fi
[ $status -eq 0 ] && echo "test-windows-gui.sh: all passed" || echo "test-windows-gui.sh: FAILED"
exit $status
