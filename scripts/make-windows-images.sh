#!/usr/bin/env bash
# make-windows-images.sh: makes the Windows program's pictures in
# app/resources/win from the same drawings the Linux program shows
# (app/resources/*.png and about.jpg; see MakeWindowsImages.cpp). Run by hand
# after a drawing changed and commit the results; needs Qt 6's development files.
set -euo pipefail
res=$(cd "$(dirname "$0")/../app/resources" && pwd)
tool=$(mktemp -d)
trap 'rm -rf "$tool"' EXIT
mkdir -p "$res/win"
g++ -std=c++20 -fPIC "$res/MakeWindowsImages.cpp" $(pkg-config --cflags --libs Qt6Gui) -o "$tool/make"
QT_QPA_PLATFORM=offscreen "$tool/make" "$res"
