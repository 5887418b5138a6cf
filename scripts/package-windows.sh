#!/usr/bin/env bash
# Builds the 32-bit Windows programs (preset mingw32) and writes
# dist/velio-interface-windows-x86.zip: velio-interfaced.exe, pms-client.exe,
# cardsim.exe, the simulator Reader.dll, ReaderPcsc.dll (when the build has
# it), a default Option.ini and a short read-me in Chinese and English.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh

cmake --preset mingw32 >/dev/null
targets=(velio-interfaced pms-client cardsim Reader)
if grep -q '^ReaderPcsc' <(cmake --build --preset mingw32 --target help 2>/dev/null | sed 's/:.*//'); then
  targets+=(ReaderPcsc)
fi
cmake --build --preset mingw32 --target "${targets[@]}"

bin=build-mingw32/bin
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
dir=$stage/velio-interface
mkdir -p "$dir"
for f in velio-interfaced.exe pms-client.exe cardsim.exe Reader.dll; do
  cp "$bin/$f" "$dir/"
done
if [ -f "$bin/ReaderPcsc.dll" ]; then
  cp "$bin/ReaderPcsc.dll" "$dir/"
else
  echo "package-windows.sh: ReaderPcsc.dll is not part of this build; the zip goes without it" >&2
fi
i686-w64-mingw32-strip "$dir"/*.exe "$dir"/*.dll

# The defaults the programs use when Option.ini is missing, CR LF line ends.
printf '%s\r\n' \
  '[SysOption]' 'Password=qelvan' 'DoorlockPortNo=8886' 'PolicePortNo=8885' 'MemberPortNo=8883' \
  'ScanPortNo=8881' '' \
  '[DoorlockOption]' 'DelayMinutes=0' 'DelayMinutes2=0' 'UseNativeDoorlockDb=0' \
  'SaveDoorlockRecord=0' '' \
  '[MemberOption]' 'PortName=COM1' 'Sector=4' 'Block=0' 'Key=7D2A9C41E6B3' 'KeyFlag=KEY_A' \
  >"$dir/Option.ini"

# The read-me: UTF-8 with a byte-order mark, CR LF line ends (Notepad).
{
  printf '\xEF\xBB\xBF'
  sed 's/$/\r/' <<'TEXT'
TarvikVelio 接口服务器 (Windows 32 位)
======================================

文件
  velio-interfaced.exe  接口服务器 (控制台程序或 Windows 服务)
  pms-client.exe        测试工具: 发送一个请求并显示应答
  cardsim.exe           读卡器模拟器的卡片工具
  Reader.dll            读卡器模拟器 (请换成读卡器厂商的 Reader.dll)
  ReaderPcsc.dll        PC/SC 读卡器库 (标准非接触读卡器)
  Option.ini            参数文件 (默认值)

使用厂商的读卡器
  用厂商提供的 32 位 Reader.dll 覆盖本目录中的 Reader.dll (模拟器)。
  stdcall 和 cdecl 两种调用方式都可以。使用 PC/SC 读卡器时, 将
  ReaderPcsc.dll 复制为 Reader.dll。

作为控制台程序运行
  velio-interfaced.exe --mode member      (会员卡, 端口 MemberPortNo)
  velio-interfaced.exe --mode doorlock    (门锁, 端口 DoorlockPortNo)
  velio-interfaced.exe --mode police      (公安, 端口 PolicePortNo)
  按 Ctrl+C 停止。

安装为 Windows 服务 (以管理员身份运行命令提示符)
  velio-interfaced.exe service install --mode member
  sc start VelioInterface-member
  sc stop VelioInterface-member
  velio-interfaced.exe service uninstall --mode member
  服务的启动和停止记录在当天的日志文件 (yyyymmdd.LOG) 中。

门锁数据库
  门锁模式使用本目录中的 Client.mdb (Windows 自带的 Access ODBC 驱动)。
  用 --store "ODBC 连接字符串" 可以改用其他 ODBC 数据源。


TarvikVelio interface server (32-bit Windows)
=============================================

Files
  velio-interfaced.exe  the interface server (console program or Windows service)
  pms-client.exe        test tool: sends one request and prints the reply
  cardsim.exe           card tool of the reader simulator
  Reader.dll            the reader simulator (replace it by the vendor's Reader.dll)
  ReaderPcsc.dll        PC/SC reader library (standard contact-less readers)
  Option.ini            options (the defaults)

Using the vendor's reader
  Copy the vendor's 32-bit Reader.dll over the Reader.dll (simulator) in this
  folder. Libraries with stdcall or cdecl functions both work. For a PC/SC
  reader, copy ReaderPcsc.dll to Reader.dll.

Running as a console program
  velio-interfaced.exe --mode member      (membership cards, port MemberPortNo)
  velio-interfaced.exe --mode doorlock    (door lock, port DoorlockPortNo)
  velio-interfaced.exe --mode police      (police, port PolicePortNo)
  Ctrl+C stops it.

Installing the Windows service (in an administrator's command prompt)
  velio-interfaced.exe service install --mode member
  sc start VelioInterface-member
  sc stop VelioInterface-member
  velio-interfaced.exe service uninstall --mode member
  The service's start and stop are written to the day's log (yyyymmdd.LOG).

Door-lock database
  Door-lock mode uses Client.mdb in this folder (through the Access ODBC
  driver that Windows provides). --store "ODBC connection string" points it
  at any other ODBC source.
TEXT
} >"$dir/README.txt"

mkdir -p dist
rm -f dist/velio-interface-windows-x86.zip
(cd "$stage" && zip -q -r -X - velio-interface) >dist/velio-interface-windows-x86.zip
echo "dist/velio-interface-windows-x86.zip"
unzip -l dist/velio-interface-windows-x86.zip
