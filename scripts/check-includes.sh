#!/usr/bin/env bash
# Checks that every source folder includes only folders below it (and itself).
# Prints each include that reaches upwards or sideways and exits 1 when there
# is one; prints nothing and exits 0 otherwise.
#
# The floors, bottom to top:
#   platform/                      what the operating system gives
#   services/                      log, system options, interface mode, UI hooks
#   server/                        request server, XML, UTF-8, address filter
#   forms/                         every window's controls and button logic, no toolkit
#   gui/ win/                      what every Qt window / every Windows API window shares
#   member/ doorlock/ police/      one interface mode each
#   app/                           entries, start-up, self-check, service, main windows
# Beside them, self-contained: pcsc/ (the PC/SC reader library), sim/ (the
# reader simulator and cardsim, over pcsc/'s card commands), and tools/ (the
# command-line tools, over the libraries they drive).
set -euo pipefail
cd "$(dirname "$0")/.."

declare -A allowed=(
  [platform]="platform"
  [services]="platform services"
  [server]="platform services server"
  [forms]="platform services server forms"
  [gui]="platform services forms gui"
  [win]="platform services server forms win"
  [member]="platform services server forms gui win member"
  [doorlock]="platform services server forms gui win doorlock"
  [police]="platform services server forms gui win police"
  [pcsc]="platform pcsc"
  [sim]="platform pcsc sim"
  [tools]="platform services server pcsc sim tools"
  [app]="platform services server forms gui win member doorlock police app"
)

bad=0
for folder in "${!allowed[@]}"; do
  [ -d "$folder" ] || continue
  while IFS= read -r line; do
    file=${line%%:*}
    target=$(sed -E 's/.*#\s*include "([^/"]+)\/.*/\1/' <<<"$line")
    # Only the project's own folders count; "CLI/CLI.hpp" and the like are
    # system headers.
    case " ${!allowed[*]} tests bench fuzz " in
      *" $target "*) ;;
      *) continue ;;
    esac
    ok=0
    for a in ${allowed[$folder]}; do
      [ "$target" = "$a" ] && ok=1
    done
    if [ "$ok" -eq 0 ]; then
      echo "$line  ($folder/ may include only: ${allowed[$folder]})"
      bad=1
    fi
  done < <(grep -rnE '^\s*#\s*include "[^/"]+/' "$folder" --include='*.h' --include='*.cpp' \
             --include='*.c' || true)
done
exit "$bad"
