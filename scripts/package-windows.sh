#!/usr/bin/env bash
# Builds the 32-bit Windows programs (preset mingw32) and writes
# dist/velio-interface-windows-x86.zip: velio-interface.exe (the desktop
# program), velio-interfaced.exe, pms-client.exe,
# cardsim.exe, velio-readers.exe, the simulator Reader.dll, ReaderPcsc.dll
# (when the build has it), a default Option.ini and a short read-me in Chinese
# and English.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh

cmake --preset mingw32 >/dev/null
targets=(velio-interface velio-interfaced pms-client cardsim velio-readers Reader)
if grep -q '^ReaderPcsc' <(cmake --build --preset mingw32 --target help 2>/dev/null | sed 's/:.*//'); then
  targets+=(ReaderPcsc)
fi
cmake --build --preset mingw32 --target "${targets[@]}"

bin=build-mingw32/bin
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
dir=$stage/velio-interface
mkdir -p "$dir"
for f in velio-interface.exe velio-interfaced.exe pms-client.exe cardsim.exe velio-readers.exe Reader.dll; do
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
  velio-interface.exe   接口服务器的操作员窗口 (桌面程序)
  velio-interfaced.exe  接口服务器 (控制台程序或 Windows 服务)
  pms-client.exe        测试工具: 发送一个请求并显示应答
  cardsim.exe           读卡器模拟器的卡片工具
  velio-readers.exe     列出 PC/SC 读卡器和卡片, 读一个块
  Reader.dll            读卡器模拟器 (请换成读卡器厂商的 Reader.dll)
  ReaderPcsc.dll        PC/SC 读卡器库 (标准非接触读卡器)
  Option.ini            参数文件 (默认值)
  velio-interfaced.exe --help 列出所有选项和服务命令。

第一张卡 (模拟读卡器)
  模拟的读卡器上开始时没有卡, 会员卡请求会失败。先放一张新卡:
    cardsim.exe new
  卡片是本目录 ReaderSim\card.bin; 服务器用 --home 目录时, 卡在该目录的
  ReaderSim 中: cardsim.exe --home 目录 new。cardsim.exe show 显示卡片内容,
  cardsim.exe remove 拿走卡片。

操作员窗口 (velio-interface.exe)
  双击 velio-interface.exe 或在命令提示符中运行:
    velio-interface.exe --mode member      (会员卡; 也可以 --mode doorlock 或 police)
  选项与控制台程序相同 (--home 目录, --reader-library 库文件, --store ...)。
  窗口显示服务器的启动和停止; "工具" 菜单: 选项 (会员卡读卡器的端口、扇区、块号、
  Key), 测试 (写卡和读卡, 门锁测试发卡), 更改管理员密码。关闭窗口 (菜单、工具栏、
  Alt+F4、关闭按钮) 需要管理员密码 (默认 qelvan)。注销或关机时窗口自行停止服务器。
  窗口和服务 (或控制台程序) 使用同一个端口: 同一模式只能运行其中一个。
  窗口运行时先停止服务 (sc stop VelioInterface-<模式>), 反之亦然。

作为控制台程序运行
  velio-interfaced.exe --mode member      (会员卡, 端口 MemberPortNo)
  velio-interfaced.exe --mode doorlock    (门锁, 端口 DoorlockPortNo)
  velio-interfaced.exe --mode police      (公安, 端口 PolicePortNo)
  其他选项: --home 目录, --listen 地址, --allow 地址列表, --reader-library
  库文件, --verbose, --store "ODBC 连接字符串"。按 Ctrl+C 停止。

门锁数据库 (Client.mdb)
  门锁模式把发卡记录存在主目录 (本目录或 --home 目录) 的 Client.mdb 中, 通过
  Access ODBC 驱动 "Microsoft Access Driver (*.mdb)" (32 位 Windows 自带)。
  第一次使用前创建它:
    velio-interfaced.exe --init-db [--home 目录]
  Client.mdb 不存在时由 Access 驱动创建, 然后建表; 已有的文件只补上缺少的表,
  已有的记录不变。没有这个驱动时显示驱动的名称并退出 (退出码 1)。
  没有 Client.mdb 时服务器照常应答, 只在日志中记下数据库错误。
  --store "ODBC 连接字符串" 改用其他 ODBC 数据源 (--init-db --store "..." 在其中建表)。

安装为 Windows 服务 (以管理员身份运行命令提示符)
  velio-interfaced.exe service install --mode member --home C:\Velio --listen 192.168.10.5 --allow 192.168.10.20
    安装服务 VelioInterface-member (自动启动, 以 LocalSystem 账户运行)。控制台
    程序的选项都可以带上: --mode --home --listen --allow --reader-library
    --verbose --store (--check 和 --init-db 不可以, 退出码 2)。成功时显示安装的
    命令行, 例如:
      installed the service VelioInterface-member: "C:\Velio\velio-interfaced.exe" service run --mode member --home C:\Velio --listen 192.168.10.5 --allow 192.168.10.20
    --store 的连接字符串可能含有密码, 不放在命令行中 (所有用户都能看到命令行),
    而写在主目录的 Store-<模式>.conn 中, 只有 SYSTEM 和管理员可以读取; 显示时
    PWD= 和 Password= 的值显示为 ***。
    服务已经安装时显示 "the service VelioInterface-member is already installed",
    退出码 1。要改选项, 先 uninstall, 再用新的选项 install。
  sc start VelioInterface-member     启动
  sc query VelioInterface-member     状态 (RUNNING 表示正在服务)
  sc stop VelioInterface-member      停止
  velio-interfaced.exe service uninstall --mode member
    停止并删除服务和它的 Store-<模式>.conn, 显示 "removed the service
    VelioInterface-member"。
  服务没有控制台: 启动和停止记录在主目录当天的日志文件 (yyyymmdd.LOG) 中。
  端口被占用等无法启动时, 服务直接停止 (STOPPED, 服务特定错误码 1), 原因写在
  日志中。带 --verbose 时, 详细原因写在主目录的 Verbose-<模式>.log 中。
  同一模式同一端口只能运行一个服务器: 服务运行时不要再启动控制台程序。

PC/SC 读卡器 (ReaderPcsc.dll)
  ReaderPcsc.dll 通过 Windows 的智能卡服务使用任何 PC/SC 非接触读卡器。
    velio-readers.exe list                 列出读卡器 (编号, 名称, 卡片)
    velio-interfaced.exe --mode member --reader-library ReaderPcsc.dll
  安装服务时也带上 --reader-library ReaderPcsc.dll; 也可以把 ReaderPcsc.dll
  复制为 Reader.dll。Option.ini 的 PortName 选择读卡器: USB 为第一个有卡的
  读卡器, COM0 到 COM9 为 velio-readers.exe list 中该编号的读卡器 (默认值
  COM1 是第二个读卡器; 只有一个读卡器时改为 USB 或 COM0)。

使用厂商的读卡器
  用厂商提供的 32 位 Reader.dll 覆盖本目录中的 Reader.dll (模拟器)。
  stdcall 和 cdecl 两种调用方式都可以。


TarvikVelio interface server (32-bit Windows)
=============================================

Files
  velio-interface.exe   the operator's window of the interface server (desktop program)
  velio-interfaced.exe  the interface server (console program or Windows service)
  pms-client.exe        test tool: sends one request and prints the reply
  cardsim.exe           card tool of the reader simulator
  velio-readers.exe     lists the PC/SC readers and their cards, reads one block
  Reader.dll            the reader simulator (replace it by the vendor's Reader.dll)
  ReaderPcsc.dll        PC/SC reader library (standard contact-less readers)
  Option.ini            options (the defaults)
  velio-interfaced.exe --help lists every option and the service commands.

The first card (simulated reader)
  The simulated reader starts without a card, and membership card requests
  fail until one lies on it. Put a new card on it:
    cardsim.exe new
  The card is ReaderSim\card.bin in this folder; when the server runs with
  --home DIR, it is in that folder's ReaderSim: cardsim.exe --home DIR new.
  cardsim.exe show shows the card, cardsim.exe remove takes it off.

The operator's window (velio-interface.exe)
  Double-click velio-interface.exe, or run it in a command prompt:
    velio-interface.exe --mode member      (membership cards; or --mode doorlock, police)
  It takes the console program's options (--home DIR, --reader-library FILE,
  --store ...). The window shows the server start and stop; the Tools menu
  has the options (the membership card reader's port, sector, block and key),
  the test window (write and read a card, issue a test key card) and the
  administrator password. Closing the window (menu, tool bar, Alt+F4, the
  close box) asks for the administrator password (default qelvan); logging
  off or shutting Windows down stops the server without it.
  The window and the service (or the console program) serve the same port:
  run one of them per mode at a time; stop the service
  (sc stop VelioInterface-<mode>) before starting the window, and the other
  way round.

Running as a console program
  velio-interfaced.exe --mode member      (membership cards, port MemberPortNo)
  velio-interfaced.exe --mode doorlock    (door lock, port DoorlockPortNo)
  velio-interfaced.exe --mode police      (police, port PolicePortNo)
  Other options: --home DIR, --listen ADDRESS, --allow LIST, --reader-library
  FILE, --verbose, --store "ODBC connection string". Ctrl+C stops it.

Door-lock database (Client.mdb)
  Door-lock mode keeps its card records in Client.mdb in the home folder (this
  folder, or --home DIR), through the Access ODBC driver "Microsoft Access
  Driver (*.mdb)" that 32-bit Windows provides. Make it before first use:
    velio-interfaced.exe --init-db [--home DIR]
  When Client.mdb is missing, the Access driver creates it, then the tables
  are made; an existing file only gets the tables it lacks, its records stay.
  Without the driver it names the driver and exits 1. Without Client.mdb the
  server answers as usual and only logs the database errors.
  --store "ODBC connection string" uses any other ODBC source instead
  (--init-db --store "..." makes the tables there).

Installing the Windows service (in an administrator's command prompt)
  velio-interfaced.exe service install --mode member --home C:\Velio --listen 192.168.10.5 --allow 192.168.10.20
    installs the service VelioInterface-member (started automatically, as the
    LocalSystem account). Every option of the console program may be given:
    --mode --home --listen --allow --reader-library --verbose --store (not
    --check or --init-db: exit 2). It prints the command line it installed:
      installed the service VelioInterface-member: "C:\Velio\velio-interfaced.exe" service run --mode member --home C:\Velio --listen 192.168.10.5 --allow 192.168.10.20
    The --store connection string may hold a password: it is not put on the
    command line (which every user can read) but in Store-<mode>.conn in the
    home, readable by SYSTEM and administrators only; it is printed with the
    values of PWD= and Password= as ***.
    When the service is installed already it says "the service
    VelioInterface-member is already installed" and exits 1. To change its
    options, uninstall it and install it again with the new ones.
  sc start VelioInterface-member     starts it
  sc query VelioInterface-member     its state (RUNNING: serving)
  sc stop VelioInterface-member      stops it
  velio-interfaced.exe service uninstall --mode member
    stops and removes the service and its Store-<mode>.conn, and prints
    "removed the service VelioInterface-member".
  A service has no console: its start and stop are written to the day's log
  (yyyymmdd.LOG) in its home. A service that cannot start (its port taken, say)
  stops at once (STOPPED, service-specific error code 1), and the log says
  why. With --verbose, the reasons go to Verbose-<mode>.log in the home.
  One server per mode and port: while the service runs, do not start the
  console program in the same mode.

The PC/SC reader (ReaderPcsc.dll)
  ReaderPcsc.dll reaches any PC/SC contact-less reader through Windows' Smart
  Card service.
    velio-readers.exe list                 lists the readers (index, name, card)
    velio-interfaced.exe --mode member --reader-library ReaderPcsc.dll
  Give the service --reader-library ReaderPcsc.dll as well at install, or copy
  ReaderPcsc.dll to Reader.dll. PortName in Option.ini picks the reader: USB
  the first reader with a card on it, COM0 to COM9 the reader with that index
  in velio-readers.exe list (the default COM1 is the second reader; with one
  reader set USB or COM0).

Using the vendor's reader
  Copy the vendor's 32-bit Reader.dll over the Reader.dll (simulator) in this
  folder. Libraries with stdcall or cdecl functions both work.
TEXT
} >"$dir/README.txt"

mkdir -p dist
rm -f dist/velio-interface-windows-x86.zip
(cd "$stage" && zip -q -r -X - velio-interface) >dist/velio-interface-windows-x86.zip
echo "dist/velio-interface-windows-x86.zip"
unzip -l dist/velio-interface-windows-x86.zip
