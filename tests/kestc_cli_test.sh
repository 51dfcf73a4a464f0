#!/usr/bin/env bash
# kestc as a user runs it: user text comes out whole, and every failure to read or write ends in
# status 1 with one line on standard error. Usage: kestc_cli_test.sh PATH_TO_KESTC
set -u
KESTC=$1
failures=0
passes=0

check() {  # check NAME EXPECTED ACTUAL
  if [ "$2" == "$3" ]; then
    passes=$((passes + 1))
  else
    echo "FAIL: $1: expected [$2], got [$3]"
    failures=$((failures + 1))
  fi
}

# Runs kestc with the rest of the arguments; prints its status and how many lines it wrote to
# standard error.
status_of() {
  local err
  err=$("$KESTC" "$@" 2>&1 >/dev/null </dev/null)
  local rc=$?
  echo "$rc $(printf '%s' "$err" | grep -c '')"
}

# Lines with NUL bytes are kept whole, ordered by their whole text, and merged only when identical.
out=$(printf 'b\0zzz\na\0b\nb\0yyy\na\n' | "$KESTC" sort | od -An -c | tr -s ' ' | tr -d '\n')
check "sort keeps bytes after NUL" " a \n a \0 b \n b \0 y y y \n b \0 z z z \n" "$out"
out=$(printf 'b\0zzz\nb\0yyy\nb\0zzz\n' | "$KESTC" sort -u | od -An -c | tr -s ' ' | tr -d '\n')
check "sort -u merges only identical lines" " b \0 y y y \n b \0 z z z \n" "$out"
out=$(printf 'file10\nfile9\nfile9\n' | "$KESTC" sort -u -r | tr '\n' ' ')
check "sort -u -r" "file10 file9 " "$out"

# Unreadable standard input (a folder).
for cmd in sort crc32 crc64; do
  rc=$("$KESTC" $cmd </ 2>/dev/null >/dev/null; echo $?)
  check "$cmd reading a folder exits 1" 1 "$rc"
  lines=$("$KESTC" $cmd </ 2>&1 >/dev/null | grep -c '')
  check "$cmd reading a folder says so in one line" 1 "$lines"
done
check "crc32 of a missing file" "1 1" "$(status_of crc32 /nonexistent/file)"

# A full output device.
if [ -w /dev/full ]; then
  set -f  # "ls *" passes the pattern, not the files here
  for args in "sort" "crc32" "crc64" "demo" "help" "paths" "ls *" "format {0} i:1"; do
    # shellcheck disable=SC2086
    rc=$(printf 'a\n' | "$KESTC" $args 2>/dev/null >/dev/full; echo $?)
    check "kestc $args to a full device exits 1" 1 "$rc"
  done
  set +f
  rc=$(printf 'a\n' | "$KESTC" sort 2>&1 >/dev/full | grep -c 'cannot write')
  check "a full device is named once" 1 "$rc"
fi

# Language files: findings as FILE:LINE, status 0 clean, 1 with findings, 2 unreadable or usage.
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
printf 'LANG_NAME: Deutsch\nLANG_TAG: de\nEN:"{0} files"\nde:"{0} Dateien"\n' >"$dir/lang_de.txt"
printf 'LANG_NAME: Deutsch\nLANG_TAG: de\n\nEN:"{0} files"\nde:"Dateien"\n' >"$dir/bad.txt"
printf 'LANG_NAME: Francais\nLANG_TAG: fr\nEN:"a"\nfr:"b"\n' >"$dir/French.txt"
check "clean file" "0 0" "$(status_of lang check "$dir/lang_de.txt")"
out=$("$KESTC" lang check --tag de "$dir/bad.txt")
check "finding on its physical line" "$dir/bad.txt:5: translation lacks placeholder {0} of the English text (line 4)" "$out"
check "findings exit 1" "1 0" "$(status_of lang check --tag de "$dir/bad.txt")"
check "tag from the header" "0 0" "$(status_of lang check "$dir/French.txt")"
check "tag from --tag wins" "1 0" "$(status_of lang check --tag it "$dir/French.txt")"
check "missing file" "2 1" "$(status_of lang check "$dir/lang_de.txt" "$dir/none.txt")"
check "a missing file before findings" "2 1" "$(status_of lang check --tag de "$dir/none.txt" "$dir/bad.txt")"
cp "$dir/lang_de.txt" "$dir/lang_toolong.txt"
check "a tag that never loads" "1 0" "$(status_of lang check "$dir/lang_toolong.txt")"
check "no file" "2 1" "$(status_of lang check)"
check "--tag without a value" "2 1" "$(status_of lang check --tag)"
check "lang without a subcommand" "2 1" "$(status_of lang)"
check "lang list" "0 0" "$(status_of lang list)"
check "lang list names English" "EN	English" "$("$KESTC" lang list | grep English)"

# Resource strings, as String builds them.
check "string" "CAN'T CONNECT:" "$("$KESTC" string 1327)"
check "string with arguments" "BaseLang=ENGLISH" "$("$KESTC" string 0x525 i:5)"
check "a missing string" "(???+9999)" "$("$KESTC" string 9999 2>/dev/null)"
check "a missing string alerts with --dev" "1" \
  "$("$KESTC" string 9999 s:x --dev 2>&1 >/dev/null | grep -c 'StringID 9999 could not be found!  CommonHInst was passed in')"
check "string without an ID" "2 1" "$(status_of string)"
check "string of an ID above 65535" "2 1" "$(status_of string 65536)"
check "string from a module that is not there" "2 1" "$(status_of string 1 --module "$dir/none.so")"
check "resources" "1317	BaseLang=ENGLISH 1327	CAN'T CONNECT: " "$("$KESTC" resources --check | tr '\n' ' ')"
"$KESTC" lang pseudo qq >"$dir/lang_qq.txt"
check "a pseudo-translation passes the checker" "0 0" "$(status_of lang check "$dir/lang_qq.txt")"
check "pseudo keeps the text's shape" 'qq:"[ÇÅÑ'"'"'T ÇÖÑÑÉÇT:~~~~~]"' "$(grep '^qq:"\[Ç' "$dir/lang_qq.txt")"
check "template" 'LANG_TAG: xx EN:"BaseLang=ENGLISH" EN:"CAN'"'"'T CONNECT:" ' \
  "$("$KESTC" lang template | tail -n +2 | tr '\n' ' ')"
check "const cleans up" "$(printf 'a\tb\n')" "$("$KESTC" const --clean $'  a\\tb\\n \n'; echo)"

# The performance line: the worked example by default, any figure by name.
check "perfline" "ShouldLog: true|PERF_PROB: 5332ms WebPage HTTPRead: 812ms (client wait: 20ms)SLOW_LOG [DB 3#, 2500ms] [Locks 12# -- [CritSec: 40msW, 15msH], ], [Logged: 8, slow:1][GetData: 80#, 300ms], " \
  "$("$KESTC" perfline | tr '\n' '|' | sed 's/|$//')"
check "perfline --kv" "event=PERF_PROB total_ms=5332 type=WebPage http_read_ms=812 client_wait_ms=20 slow_log=1 db_requests=3 db_ms=2500 locks=12 critsec_wait_ms=40 critsec_hold_ms=15 log_lines=8 slow_log_lines=1 call1=\"GetData\" call1_count=80 call1_ms=300" \
  "$("$KESTC" perfline --kv | tail -1)"
check "perfline of a quick untracked request" "ShouldLog: false|PERF_PROB: 0ms ? " \
  "$("$KESTC" perfline type=0 elapsed=0 http_read=0 slow_lines=0 log_lines=0 db_requests=0 locks=0 call=a:b:75:4000 | tr '\n' '|' | sed 's/|$//')"
check "perfline with an unknown field" "2 4" "$(status_of perfline colour=1)"
check "perfline with a bad number" "2 1" "$(status_of perfline db_ms=x)"

# Profile files, assertions and their ignore files.
ini="$dir/k.ini"
"$KESTC" ini set "$ini" Colors Back '#FFFFFF' && "$KESTC" ini set "$ini" Dark Back '#202020' &&
  "$KESTC" ini set "$ini" colors FORE '#000000'
check "ini dump" "[Colors]|Back=#FFFFFF|FORE=#000000|[Dark]|Back=#202020|" "$("$KESTC" ini dump "$ini" | tr '\n' '|')"
check "ini get ignores case" "#FFFFFF" "$("$KESTC" ini get "$ini" COLORS back)"
check "ini get falls back" "none" "$("$KESTC" ini get "$ini" Colors Missing none)"
"$KESTC" ini set "$ini" Colors FORE
check "ini set without a value deletes" "Back|" "$("$KESTC" ini list "$ini" Colors | tr '\n' '|')"
check "ini set into a folder that is not there" "1 1" "$(status_of ini set "$dir/none/x.ini" S k v)"
check "ini without a file" "2 1" "$(status_of ini get)"
check "assert answers continue without a terminal" "key Widget_cpp_42|continue|" \
  "$(KEST_ASSERT_TTY= "$KESTC" assert 'C:\src\Widget.cpp' 42 'a > b' 2>/dev/null | tr '\n' '|')"
check "ignores names the file" "/opt/App_exe_perm_ignores.txt" "$("$KESTC" ignores /opt/App.exe)"

# Colours: a copy of kestc fills in Colors.ini beside itself; a user's value wins.
mkdir -p "$dir/bin" && cp "$KESTC" "$dir/bin/kestc"
"$KESTC" ini set "$dir/bin/Colors.ini" DarkModeColors HTML_TITLE 'a0b0c0'
check "colors, light" " 1  UNVISITED_LINK               #0000C0" "$(NO_COLOR=1 "$dir/bin/kestc" colors | sed -n 3p)"
check "colors --dark, a user's value" "35  HTML_TITLE                   #A0B0C0" \
  "$("$dir/bin/kestc" colors --dark | grep HTML_TITLE)"
check "Colors.ini holds every colour in both modes" "45 45" \
  "$(echo $("$KESTC" ini list "$dir/bin/Colors.ini" Colors | wc -l) $("$KESTC" ini list "$dir/bin/Colors.ini" DarkModeColors | wc -l))"
check "colors with an unknown option" "2 1" "$(status_of colors --blue)"

# Traces, heap tracking switched on through a registry file, and a sample dialog translated.
out=$("$KESTC" stack --repeat 2)
check "stack: header first, times last" "SymInit: Symbol-SearchPath:|first trace:|" \
  "$(printf '%s\n' "$out" | sed -n '1p;$p' | cut -d' ' -f1-2 | tr '\n' '|')"
check "stack shows the command's own function" 1 "$(printf '%s\n' "$out" | grep -c 'RunStack')"
check "stack with a bad count" "2 1" "$(status_of stack --repeat 0)"
check "heaps, switched off" "0 heap(s) recorded" "$("$KESTC" heaps | tail -1)"
printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\software\\Quillon]\n"HookHeapCreate"=dword:00000001\n' \
  >"$dir/heaps.reg"
out=$(KEST_REGISTRY_FILE="$dir/heaps.reg" "$KESTC" heaps)
check "heaps, switched on: kestc's heap and its creator" "1 1" \
  "$(echo $(printf '%s\n' "$out" | grep -c 'made by kestc heaps') $(printf '%s\n' "$out" | grep -c 'RunHeaps'))"
mkdir -p "$dir/bin/Languages"
printf 'EN:"Settings"\nde:"Einstellungen"\nEN:"&Open\\tCtrl+O"\nde:"\xC3\x96&ffnen\\tStrg+O"\nEN:"Name:"\nde:"Name (de):"\n' \
  >"$dir/bin/Languages/lang_de.txt"
check "menu de: caption, label and item translated, the edit field kept" \
  "$(printf 'window "Einstellungen"|Static "Name (de):"|Edit "Name:"|"\xC3\x96&ffnen\\tStrg+O"|')" \
  "$("$dir/bin/kestc" menu de | sed -n '/^after:/,$p' | grep -E 'window|Static|Edit|ffnen' | sed 's/^ *//; s/  */ /' | tr '\n' '|')"

# Usage errors keep status 2.
check "unknown option" "2 1" "$(status_of sort -x)"
check "unknown command" "2 1" "$(status_of nosuchcommand)"

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
