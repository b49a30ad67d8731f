#!/usr/bin/env bash
# The Windows program's message boxes on a real (virtual) display: runs the
# program under Wine and Xvfb in English and in Japanese, finds each box by
# its caption, saves a screenshot of it, closes it with Return, and checks
# the exit code and the exact MessageBoxA call in Wine's relay trace. Then
# the progress window: shown by a run held past its first second (the test
# build, QuorvexKillPoints.exe beside the program), in both languages, at
# 200 % and as on Windows without the newer DPI calls, and closed before the
# completion box; a silent run starts no thread for it.
#
# Usage: message_boxes.sh ARCH QUORVEX_EXE CONSOLE_TEST_EXE WORK_DIR SCREENSHOT_DIR
#   ARCH is the build's Wine architecture, win32 or win64.
# Every wait is bounded; the whole script cannot hang.
set -uo pipefail
arch=$1 exe=$2 console_test=$3 work=$4 shots=$5
here=$(cd "$(dirname "$0")" && pwd)
wine_run="$here/../../scripts/wine-run"
. "$here/relay_trace.sh"
prefix="$work/wineprefix"
mkdir -p "$work" "$shots"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# ---- Locales for Wine, generated into the work folder (Wine takes its code
# page and resource language from them; nothing on the system changes).
export LOCPATH="$work/locale"
for locale in en_US ja_JP; do
  if [ ! -f "$LOCPATH/$locale.UTF-8/LC_CTYPE" ]; then
    mkdir -p "$LOCPATH"
    localedef -i "$locale" -f UTF-8 "$LOCPATH/$locale.UTF-8" >/dev/null 2>&1
    [ -f "$LOCPATH/$locale.UTF-8/LC_CTYPE" ] || { echo "cannot generate $locale.UTF-8 (package locales)"; exit 1; }
  fi
done

# ---- The display.
rm -f "$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb=$!
cleanup() {
  WINEPREFIX="$prefix" timeout 30 wineserver -k >/dev/null 2>&1
  kill "$xvfb" 2>/dev/null
  wait "$xvfb" 2>/dev/null
}
trap cleanup EXIT
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"

# The relay trace lists only the calls whose arguments the checks read, and
# the program's first act, which tells its process (tests/wine/relay_trace.sh).
timeout 300 "$wine_run" --arch "$arch" "$prefix" reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ \
  /d 'kernel32.SetDefaultDllDirectories;user32.MessageBoxA;kernel32.GetConsoleWindow;kernelbase.GetConsoleWindow;user32.FindWindowA;user32.ShowWindow;user32.ShowWindowAsync;user32.GetDpiForWindow;user32.AdjustWindowRectExForDpi;user32.SystemParametersInfoForDpi;shcore.GetDpiForMonitor;ntdll.NtSetInformationFile;kernel32.FlushFileBuffers;advapi32.RegSetValueExA;advapi32.RegFlushKey;kernel32.CreateThread;user32.CreateWindowExW;user32.ShutdownBlockReasonCreate' /f >/dev/null 2>&1 ||
  { echo "cannot prepare the Wine prefix"; exit 1; }

# Wine's form of a byte string in its traces (debugstr_a).
debugstr() {
  od -An -v -tu1 | tr -s ' ' '\n' | while read -r b; do
    [ -z "$b" ] && continue
    case $b in
      10) printf '\\n' ;; 13) printf '\\r' ;; 9) printf '\\t' ;;
      34) printf '\\"' ;; 92) printf '\\\\' ;;
      *) if [ "$b" -lt 32 ] || [ "$b" -ge 127 ]; then printf '\\x%02x' "$b"
         else printf '%b' "\\$(printf '%03o' "$b")"; fi ;;
    esac
  done
}

# visible_window TITLE RC_FILE [HELD_FILE]: the window titled TITLE once it is
# shown (and HELD_FILE is there), or nothing when the run ends first or a
# minute passes.
visible_window() {
  local window=""
  for _ in $(seq 120); do
    [ -z "${3:-}" ] || [ -f "$3" ] && window=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1)
    [ -n "$window" ] && break
    [ -f "$2" ] && break
    sleep 0.5
  done
  echo "$window"
}

# run_box NAME LANG CAPTION EXPECTED_EXIT RUNNER... : runs, shoots and closes the box.
run_box() {
  local name=$1 lang=$2 caption=$3 expected=$4; shift 4
  local log="$work/$name"
  rm -f "$log".*
  ( LANG=$lang LC_ALL= WINEDEBUG=+pid,+relay timeout 120 "$wine_run" --arch "$arch" "$prefix" "$@" \
      >"$log.out" 2>"$log.relay" </dev/null; echo $? >"$log.rc" ) &
  local runner=$! window
  window=$(visible_window "$caption" "$log.rc")
  if [ -z "$window" ]; then
    fail "$name: no box captioned '$caption' appeared"
    kill "$runner" 2>/dev/null
  else
    sleep 1  # let the box paint itself
    import -window root "$shots/$name.png"
    xdotool key --window "$window" Return 2>/dev/null
  fi
  wait "$runner"
  # The checks read the program's own process ("TID:Call ...").
  relay_program_lines "$exe" "$log.relay" >"$log.trace" || fail "$name: cannot read the image of $exe"
  local rc
  rc=$(cat "$log.rc" 2>/dev/null || echo none)
  [ "$rc" = "$expected" ] || fail "$name: exit code $rc, expected $expected"
}

# check_call NAME OWNER TEXT_UTF8 CODEPAGE CAPTION TYPE: the MessageBoxA call of a run.
check_call() {
  local name=$1 owner=$2 text=$3 codepage=$4 caption=$5 type=$6
  # Handles and pointers are traced as 8 hex digits by a 32-bit program, 16 by a 64-bit one.
  local line pattern='MessageBoxA\(([0-9a-f]{8,16}),[0-9a-f]{8,16} "(.*)"(\.\.\.)?,[0-9a-f]{8,16} "(.*)",([0-9a-f]{8,16})\) ret='
  line=$(grep -a 'Call user32.MessageBoxA(' "$work/$name.trace" | head -n1)
  if ! [[ $line =~ $pattern ]]; then fail "$name: no MessageBoxA call traced"; return; fi
  local got_owner=${BASH_REMATCH[1]} got_text=${BASH_REMATCH[2]} cut=${BASH_REMATCH[3]}
  local got_caption=${BASH_REMATCH[4]} got_type=${BASH_REMATCH[5]}
  local want_text
  want_text=$(printf '%s' "$text" | iconv -f UTF-8 -t "$codepage" | debugstr)
  [ $((16#$got_owner)) = $((16#$owner)) ] || fail "$name: owner $got_owner, expected $owner"
  [ $((16#$got_type)) = $((16#$type)) ] || fail "$name: type $got_type, expected $type"
  [ "$got_caption" = "$caption" ] || fail "$name: caption \"$got_caption\", expected \"$caption\""
  if [ -n "$cut" ]; then
    # The trace shortens long texts: what it shows must begin the text.
    [[ $want_text == "$got_text"* ]] || fail "$name: text \"$got_text\"... does not begin \"$want_text\""
  else
    [ "$got_text" = "$want_text" ] || fail "$name: text \"$got_text\", expected \"$want_text\""
  fi
  echo "ok: $name: MessageBoxA($got_owner, \"$got_text\"$cut, \"$got_caption\", $got_type)"
}

# check_durable_order NAME: in a completed run, the manual is on the disk
# before the record vouches for it, and the record before the box says so:
# the lists' folder named under the record key (RegSetValueExA); the note
# of what was there before flushed, renamed into place (FileRenameInformation,
# 10) and its folder flushed; the last file renamed into place, then the
# flushes (Wine cannot flush a volume, so each file is flushed); the list of
# installed files flushed, renamed and its folder flushed; then
# RegSetValueExA, RegFlushKey and the completion box.
check_durable_order() {
  local trace="$work/$1.trace" order
  order=$(grep -a -E '^[0-9a-f]+:Call (ntdll\.NtSetInformationFile\(.*,[0-9a-f]*0000000a\)|(KERNEL32\.FlushFileBuffers|advapi32\.(RegSetValueExA|RegFlushKey)|user32\.MessageBoxA)\()' \
            "$trace" | sed -E 's/^[0-9a-f]+:Call [A-Za-z0-9]+\.([A-Za-z]+)\(.*/\1/' | uniq | tr '\n' ' ')
  local note="FlushFileBuffers NtSetInformationFile FlushFileBuffers"
  [ "$order" = "RegSetValueExA $note NtSetInformationFile $note RegSetValueExA RegFlushKey MessageBoxA " ] &&
    echo "ok: $1: $order" || fail "$1: the calls come in the order $order"
}

# A kit with a product of its own (the prefix's registry keeps the records)
# and, unless told otherwise, no SRC: the copy succeeds with nothing to copy.
make_kit() {
  local folder=$1 program=$2
  rm -rf "$folder"
  mkdir -p "$folder/install"
  cp "$exe" "$folder/$program"
  printf '[Product]\r\nProductGUID={%s}\r\nProduct=BoxTest\r\nManualVersion=2.0\r\nMessageDisplay=1\r\n' \
    "$(basename "$folder")-$$-$RANDOM-$(date +%s)" >"$folder/Quorvex.ini"
}
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

completed_en='The setup was completed. '
refused_en='A later version is already installed on the this machine.
The setup cannot continue.'
completed_ja='セットアップが完了しました。'
refused_ja='このマシンには、より新しいバージョンがインストールされています。
セットアップを続行することはできません。'

# English: the first run completes, the second with the same version is refused.
kit="$work/kit-en"
make_kit "$kit" Quorvex.exe
mkdir -p "$kit/SRC/guide"
printf '<html>index</html>\r\n' >"$kit/SRC/index.html"
printf '<html>start</html>\r\n' >"$kit/SRC/guide/start.html"
run_box completion-en en_US.UTF-8 Quorvex 0 "$kit/Quorvex.exe" "/p$(winpath "$kit/install")"
check_call completion-en 00000000 "$completed_en" CP1252 Quorvex 00040040
check_durable_order completion-en
run_box refusal-en en_US.UTF-8 Quorvex 7 "$kit/Quorvex.exe" "/p$(winpath "$kit/install")"
check_call refusal-en 00000000 "$refused_en" CP1252 Quorvex 00000030

# Japanese, with the program renamed: the refusal box takes the program's
# name as its caption, the completion box keeps its own.
kit="$work/kit-ja"
make_kit "$kit" ManualSetup.exe
run_box completion-ja ja_JP.UTF-8 Quorvex 0 "$kit/ManualSetup.exe" "/p$(winpath "$kit/install")"
check_call completion-ja 00000000 "$completed_ja" CP932 Quorvex 00040040
run_box refusal-ja ja_JP.UTF-8 ManualSetup 7 "$kit/ManualSetup.exe" "/p$(winpath "$kit/install")"
check_call refusal-ja 00000000 "$refused_ja" CP932 ManualSetup 00000030

# In a console window of its own, the program takes the console's window
# from GetConsoleWindow, hides it at the start without waiting for the
# window's thread (ShowWindowAsync, SW_HIDE) and makes it the owner of the
# completion box. No window is looked up by its title.
kit="$work/kit-console"
make_kit "$kit" Quorvex.exe
run_box completion-console en_US.UTF-8 Quorvex 0 wineconsole "$(winpath "$kit/Quorvex.exe")" \
  "/p$(winpath "$kit/install")"
console=$(grep -a -A1 -E 'Call [A-Za-z0-9]+\.GetConsoleWindow\(' "$work/completion-console.trace" |
  sed -nE 's/.*Ret  [A-Za-z0-9]+\.GetConsoleWindow\(\) retval=([0-9a-f]{8,16}).*/\1/p' | head -n1)
if [ -z "$console" ] || [ $((16#$console)) = 0 ]; then
  fail "completion-console: GetConsoleWindow gave no window"
else
  grep -aqE "Call user32.ShowWindowAsync\($console,0{8,16}\)" "$work/completion-console.trace" ||
    fail "completion-console: the console window $console was not hidden with ShowWindowAsync"
  ! grep -aqE "Call user32.ShowWindow\($console," "$work/completion-console.trace" ||
    fail "completion-console: ShowWindow, which waits for the window's thread, on the console window"
  check_call completion-console "$console" "$completed_en" CP1252 Quorvex 00040040
fi
! grep -aq 'Call user32.FindWindowA(' "$work/completion-console.trace" ||
  fail "completion-console: a window looked up by its title"

# The console's own window is taken whatever else carries its title, and the
# title stays as it was (a console with a window needs the display).
if timeout 120 "$wine_run" --arch "$arch" "$prefix" "$console_test" --gtest_filter='FindConsoleWindow.*' \
     >"$work/console-test.out" 2>&1 </dev/null &&
   grep -q '\[  PASSED  \]' "$work/console-test.out" && ! grep -q SKIPPED "$work/console-test.out"; then
  echo "ok: console window lookup"
else
  fail "console window lookup:"; cat "$work/console-test.out"
fi

# ---- A run that cannot finish tells a person who can see it why.
# held_kit NAME: an installed page, and a kit of a later version whose
# page is newer, so that the page is to be replaced.
held_kit() {
  local kit="$work/kit-$1"
  make_kit "$kit" Quorvex.exe
  mkdir -p "$kit/SRC" "$kit/install"
  printf '<html>old</html>\r\n' >"$kit/install/index.html"
  touch -d '2020-01-01' "$kit/install/index.html"
  printf '<html>new</html>\r\n' >"$kit/SRC/index.html"
}
# hold_page NAME: a second Wine process holds the kit's installed page open
# without sharing it for writing or deleting, until NAME.release appears.
hold_page() {
  local kit="$work/kit-$1" log="$work/$1"
  rm -f "$log.release" "$log.release.held"
  ( QUORVEX_HOLD_PAGE="$(winpath "$kit/install/index.html")" QUORVEX_RELEASE="$(winpath "$log.release")" \
      timeout 150 "$wine_run" --arch "$arch" "$prefix" "$console_test" --gtest_filter='HeldPage.*' \
      >"$log.holder" 2>&1 </dev/null ) &
  for _ in $(seq 600); do [ -f "$log.release.held" ] && return 0; sleep 0.1; done
  fail "$1: the page was not held"; return 1
}
# start_run NAME LANG: the kit's installer in the background, traced.
start_run() {
  local kit="$work/kit-$1" log="$work/$1"
  rm -f "$log.rc"
  ( LANG=$2 LC_ALL= WINEDEBUG=+pid,+relay timeout 150 "$wine_run" --arch "$arch" "$prefix" \
      "$kit/Quorvex.exe" "/p$(winpath "$kit/install")" >"$log.out" 2>"$log.relay" </dev/null
    echo $? >"$log.rc" ) &
}
# finish_run NAME EXPECTED_EXIT BOXES: waits, then checks the exit code and
# the number of MessageBoxA calls.
finish_run() {
  local kit="$work/kit-$1" log="$work/$1"
  for _ in $(seq 300); do [ -f "$log.rc" ] && break; sleep 0.5; done
  relay_program_lines "$kit/Quorvex.exe" "$log.relay" >"$log.trace"
  local rc boxes
  rc=$(cat "$log.rc" 2>/dev/null || echo none)
  boxes=$(grep -ac 'Call user32.MessageBoxA(' "$log.trace")
  [ "$rc" = "$2" ] && [ "$boxes" = "$3" ] && echo "ok: $1: exit code $rc, $boxes box(es)" ||
    fail "$1: exit code $rc, $boxes box(es); expected $2 and $3"
}
# Wine words ERROR_SHARING_VIOLATION so, and its Restart Manager names no
# program: the box has no "held open by" line here.
held_text() {
  printf 'Could not write the file\n%s\n\nSharing violation.\n\nClose the program that holds the file, then choose Retry. Cancel stops the setup with exit code 4.' \
    "$(winpath "$work/kit-$1/install/index.html")"
}

# Retry (Return, the default button) once the viewer has let go: the page
# is written and the run completes.
held_kit held-retry
if hold_page held-retry; then
  start_run held-retry en_US.UTF-8
  box=$(visible_window Quorvex "$work/held-retry.rc")
  if [ -z "$box" ]; then fail "held-retry: no box while the page was held"; else
    sleep 1
    import -window root "$shots/held-retry.png"
    touch "$work/held-retry.release"
    sleep 1
    xdotool key --window "$box" Return 2>/dev/null
    box=$(visible_window Quorvex "$work/held-retry.rc")
    [ -n "$box" ] && xdotool key --window "$box" Return 2>/dev/null
  fi
  finish_run held-retry 0 2
  check_call held-retry 00000000 "$(held_text held-retry)" CP1252 Quorvex 00040035
  grep -q new "$work/kit-held-retry/install/index.html" || fail "held-retry: the page was not written"
fi
touch "$work/held-retry.release"

# Cancel (Escape) ends the run with 4, as it ended before, with no second box.
held_kit held-cancel
if hold_page held-cancel; then
  start_run held-cancel en_US.UTF-8
  box=$(visible_window Quorvex "$work/held-cancel.rc")
  [ -n "$box" ] && xdotool key --window "$box" Escape 2>/dev/null || fail "held-cancel: no box"
  finish_run held-cancel 4 1
  grep -q old "$work/kit-held-cancel/install/index.html" || fail "held-cancel: the page was written"
fi
touch "$work/held-cancel.release"

# No one sees a run with messages off, or on a window station without a
# display (a run as SYSTEM in session 0): it shows nothing and ends with 4.
held_kit held-silent
sed -i 's/MessageDisplay=1/MessageDisplay=0/' "$work/kit-held-silent/Quorvex.ini"
if hold_page held-silent; then
  start_run held-silent en_US.UTF-8
  finish_run held-silent 4 0
fi
touch "$work/held-silent.release"
held_kit held-hidden
if hold_page held-hidden; then
  kit="$work/kit-held-hidden"
  rm -f "$work/held-hidden.exit"
  LANG=en_US.UTF-8 LC_ALL= WINEDEBUG=+pid,+relay \
    QUORVEX_HIDDEN_RUN="\"$(winpath "$kit/Quorvex.exe")\" \"/p$(winpath "$kit/install")\"" \
    QUORVEX_HIDDEN_EXIT="$(winpath "$work/held-hidden.exit")" \
    timeout 150 "$wine_run" --arch "$arch" "$prefix" "$console_test" --gtest_filter='HiddenStation.*' \
    >"$work/held-hidden.out" 2>"$work/held-hidden.relay" </dev/null
  cp "$work/held-hidden.exit" "$work/held-hidden.rc" 2>/dev/null
  finish_run held-hidden 4 0
  grep -q '\[  PASSED  \] 1 test' "$work/held-hidden.out" || fail "held-hidden: $(grep -E 'Failure|Expected|SKIPPED' "$work/held-hidden.out" | head -n 3)"
fi
touch "$work/held-hidden.release"

# The failure box in Japanese: a product that is not installed (5).
kit="$work/kit-absent-ja"
make_kit "$kit" Quorvex.exe
run_box absent-ja ja_JP.UTF-8 Quorvex 5 "$kit/Quorvex.exe"
check_call absent-ja 00000000 "このマシンに BoxTest がインストールされていません。マニュアルをインストールするフォルダーがありません。

セットアップは終了コード 5 で停止しました。" CP932 Quorvex 00040030

# A program alone in a folder stands in no kit: 1, nothing recorded.
alone="$work/kit-alone"
rm -rf "$alone"; mkdir -p "$alone/install"
cp "$exe" "$alone/Quorvex.exe"
run_box alone en_US.UTF-8 Quorvex 1 "$alone/Quorvex.exe" "/p$(winpath "$alone/install")"
check_call alone 00000000 "Neither Quorvex.ini nor SRC is beside this program: it installs nothing.

The setup stopped with exit code 1." CP1252 Quorvex 00040030
[ -z "$(ls -A "$alone/install")" ] || fail "alone: something was installed"

# ---- The progress window. A run held before its first write (past the
# first second) shows it; released, it closes and the completion box comes.
kill_points="$(dirname "$exe")/QuorvexKillPoints.exe"
# progress_window NAME LANG CAPTION CAPTION_IN_TRACE [DPI_FAULT]: CAPTION_IN_TRACE
# is Wine's form of the text; DPI_FAULT 1 or 2 runs as without the DPI calls
# of Windows 10 1607, or without GetDpiForMonitor of 8.1 too.
progress_window() {
  local name=$1 lang=$2 title=$3 caption=$4 dpi_fault=${5:-0} kit="$work/kit-$1" log="$work/$1"
  make_kit "$kit" Quorvex.exe
  cp "$kill_points" "$kit/QuorvexKillPoints.exe"
  mkdir -p "$kit/SRC"
  printf '<html>index</html>\r\n' >"$kit/SRC/index.html"
  rm -f "$log".* "$log.release" "$log.release.held"
  ( LANG=$lang LC_ALL= WINEDEBUG=+pid,+relay QUORVEX_TRUST_RUNNING_USER=1 \
      QUORVEX_FAULT_HOLD="note-written:install:$(winpath "$log.release")" \
      QUORVEX_FAULT_DPI_LOOKUP="$dpi_fault" \
      timeout 120 "$wine_run" --arch "$arch" "$prefix" "$kit/QuorvexKillPoints.exe" \
      "/p$(winpath "$kit/install")" >"$log.out" 2>"$log.relay" </dev/null; echo $? >"$log.rc" ) &
  local runner=$! shown box
  shown=$(visible_window "$title" "$log.rc" "$log.release.held")
  if [ -z "$shown" ]; then
    fail "$name: no progress window while the run was held"
  else
    sleep 1  # let it paint itself
    import -window root "$shots/$name.png"
    xdotool getwindowgeometry --shell "$shown" 2>/dev/null >"$log.geometry"
    sed -n 's/^WIDTH=//p' "$log.geometry" >"$log.width"
    sed -n 's/^HEIGHT=//p' "$log.geometry" >"$log.height"
    # It answers while the run's own thread is busy (held).
    if [ "$lang" = en_US.UTF-8 ]; then
      QUORVEX_PROGRESS_WINDOW="$title" timeout 120 "$wine_run" --arch "$arch" "$prefix" "$console_test" \
        --gtest_filter='ProgressWindow.*' >"$log.answer" 2>&1 </dev/null &&
        grep -q '\[  PASSED  \] 1 test' "$log.answer" && echo "ok: $name: it answers while the run is held" ||
        fail "$name: it does not answer: $(grep -E 'Failure|Expected|Which|SKIPPED' "$log.answer" | head -n 3)"
    fi
  fi
  touch "$log.release"
  box=$(visible_window Quorvex "$log.rc")
  [ -n "$box" ] && xdotool key --window "$box" Return 2>/dev/null
  wait "$runner"
  [ "$(cat "$log.rc" 2>/dev/null)" = 0 ] || fail "$name: exit code $(cat "$log.rc" 2>/dev/null)"
  relay_program_lines "$kit/QuorvexKillPoints.exe" "$log.relay" >"$log.trace"
  grep -aF "L\"QuorvexProgress\"," "$log.trace" | grep -aqF " L\"$caption\"," &&
    echo "ok: $name: the progress window, captioned \"$caption\"" ||
    fail "$name: no CreateWindowExW captioned \"$caption\": $(grep -a 'CreateWindowExW' "$log.trace" | head -n1)"
  grep -aq 'Call user32.ShutdownBlockReasonCreate(' "$log.trace" ||
    fail "$name: the window does not hold off the end of the session"
  # The window is gone before the box: its thread ends before MessageBoxA.
  local order
  order=$(grep -a -E 'Call (user32\.(CreateWindowExW|MessageBoxA)|KERNEL32\.CreateThread)\(' "$log.trace" |
          sed -E 's/.*Call [A-Za-z0-9]+\.([A-Za-z]+)\(.*/\1/' | uniq | tr '\n' ' ')
  [[ $order == "CreateThread CreateWindowExW MessageBoxA "* ]] || fail "$name: calls in the order $order"
  # The DPI calls the program itself made, those it found at run time.
  relay_program_lines "$kit/QuorvexKillPoints.exe" "$log.relay" own |
    sed -nE 's/.*Call (user32|shcore)\.(GetDpiForWindow|AdjustWindowRectExForDpi|SystemParametersInfoForDpi|GetDpiForMonitor)\(.*/\2/p' |
    sort -u | tr '\n' ' ' >"$log.dpi"
}

# same_size NAME OTHER: NAME's window is as large as OTHER's, to within a tenth.
same_size() {
  local dimension got want
  for dimension in width height; do
    got=$(cat "$work/$1.$dimension" 2>/dev/null) want=$(cat "$work/$2.$dimension" 2>/dev/null)
    if [ -n "$got" ] && [ -n "$want" ] && [ $((got * 10)) -ge $((want * 9)) ] &&
       [ $((got * 10)) -le $((want * 11)) ]; then
      echo "ok: $1: $dimension $got, $want with the DPI calls"
    else
      fail "$1: $dimension ${got:-?}, ${want:-?} with the DPI calls"
    fi
  done
}

# expect_dpi_calls NAME CALLS: the DPI calls NAME's run made ("A B " sorted).
expect_dpi_calls() {
  local got
  got=$(cat "$work/$1.dpi" 2>/dev/null)
  [ "$got" = "$2" ] && echo "ok: $1: DPI calls: ${2:-none}" || fail "$1: DPI calls '$got', expected '$2'"
}
progress_window progress-en en_US.UTF-8 'Installing the manual of BoxTest' 'Installing the manual of BoxTest'
progress_window progress-ja ja_JP.UTF-8 'BoxTest のマニュアルをインストールしています' \
  'BoxTest \306e\30de\30cb\30e5\30a2\30eb\3092\30a4\30f3\30b9\30c8\30fc\30eb\3057\3066\3044\307e\3059'

# At 200 % display scaling (LogPixels 192) the window and its texts are
# twice as large; the texts' fit at each scaling is measured in
# string_table_test.
timeout 120 "$wine_run" --arch "$arch" "$prefix" reg add 'HKCU\Control Panel\Desktop' /v LogPixels \
  /t REG_DWORD /d 192 /f >/dev/null 2>&1
WINEPREFIX="$prefix" timeout 30 wineserver -k >/dev/null 2>&1
progress_window progress-200 en_US.UTF-8 'Installing the manual of BoxTest' 'Installing the manual of BoxTest'
width=$(cat "$work/progress-en.width" 2>/dev/null) wide=$(cat "$work/progress-200.width" 2>/dev/null)
if [ -n "$width" ] && [ -n "$wide" ] && [ "$wide" -ge $((width * 19 / 10)) ]; then
  echo "ok: progress-200: $wide pixels wide, at 100 % $width"
else
  fail "progress-200: ${wide:-?} pixels wide, at 100 % ${width:-?}"
fi
dpi_calls='AdjustWindowRectExForDpi GetDpiForWindow SystemParametersInfoForDpi '
expect_dpi_calls progress-en "$dpi_calls"
expect_dpi_calls progress-200 "$dpi_calls"
# Without the calls of Windows 10 1607 the window takes its monitor's DPI
# from shcore; without that too, the system's. Either way it comes as
# large as with them.
progress_window progress-200-no-window-dpi en_US.UTF-8 'Installing the manual of BoxTest' \
  'Installing the manual of BoxTest' 1
expect_dpi_calls progress-200-no-window-dpi 'GetDpiForMonitor '
same_size progress-200-no-window-dpi progress-200
progress_window progress-200-no-monitor-dpi en_US.UTF-8 'Installing the manual of BoxTest' \
  'Installing the manual of BoxTest' 2
expect_dpi_calls progress-200-no-monitor-dpi ''
same_size progress-200-no-monitor-dpi progress-200
timeout 120 "$wine_run" --arch "$arch" "$prefix" reg delete 'HKCU\Control Panel\Desktop' /v LogPixels /f >/dev/null 2>&1
WINEPREFIX="$prefix" timeout 30 wineserver -k >/dev/null 2>&1

# A run that ends before its first second (a long first second, here)
# shows no window, though its thread started.
kit="$work/kit-short"
make_kit "$kit" Quorvex.exe
cp "$kill_points" "$kit/QuorvexKillPoints.exe"
mkdir -p "$kit/SRC"
printf '<html>index</html>\r\n' >"$kit/SRC/index.html"
LANG=en_US.UTF-8 WINEDEBUG=+pid,+relay QUORVEX_FAULT_PROGRESS_AT=600000 QUORVEX_TRUST_RUNNING_USER=1 \
  timeout 120 "$wine_run" --arch "$arch" "$prefix" "$kit/QuorvexKillPoints.exe" \
  "/p$(winpath "$kit/install")" >"$work/short.out" 2>"$work/short.relay" </dev/null &
short=$!
box=$(visible_window Quorvex "$work/short.none")
[ -n "$box" ] && xdotool key --window "$box" Return 2>/dev/null
wait "$short"
relay_program_lines "$kit/QuorvexKillPoints.exe" "$work/short.relay" own >"$work/short.trace"
if grep -aq 'Call KERNEL32.CreateThread(' "$work/short.trace" &&
   ! grep -aq 'L"QuorvexProgress"' "$work/short.trace"; then
  echo "ok: short: its thread started, no window"
else
  fail "short: a window, or no thread: $(grep -a -E 'CreateThread|CreateWindowExW' "$work/short.trace" | head -n 2)"
fi

# A silent run makes no window, and starts one thread only: the watch that
# ends a run held up for a minute by another program.
kit="$work/kit-silent"
make_kit "$kit" Quorvex.exe
sed -i 's/MessageDisplay=1/MessageDisplay=0/' "$kit/Quorvex.ini"
mkdir -p "$kit/SRC"
printf '<html>index</html>\r\n' >"$kit/SRC/index.html"
LANG=en_US.UTF-8 WINEDEBUG=+pid,+relay timeout 120 "$wine_run" --arch "$arch" "$prefix" "$kit/Quorvex.exe" \
  "/p$(winpath "$kit/install")" >"$work/silent.out" 2>"$work/silent.relay" </dev/null
relay_program_lines "$kit/Quorvex.exe" "$work/silent.relay" own >"$work/silent.trace"
threads=$(grep -acE 'Call KERNEL32\.CreateThread\(' "$work/silent.trace")
if [ "$threads" != 1 ] || grep -aqE 'Call user32\.CreateWindowExW\(' "$work/silent.trace"; then
  fail "silent: the run started $threads threads (1: the stall watch) or made a window"
else
  echo "ok: silent: the stall watch's thread only, no window"
fi

echo "screenshots in $shots"
[ "$failures" -eq 0 ] && echo "all box checks passed" || echo "$failures box checks failed"
exit $((failures > 0))
