#!/usr/bin/env bash
# The Windows program on 64-bit Windows, in a 64-bit Wine prefix, and the
# registry view it sees. A 32-bit program runs under WoW64: its
# HKLM\SOFTWARE is the 32-bit view (HKLM\SOFTWARE\WOW6432Node as 64-bit
# programs see it). A 64-bit program sees the 64-bit view, and nothing of
# it goes to WOW6432Node. The registry is seeded and read with Wine's
# reg.exe, naming the view with /reg:32 or /reg:64.
#
# Usage: wow64_registry.sh CASE QUORVEX_EXE PREFIX WORK_DIR BITS
#   BITS is the program's width, 32 or 64: its own view. The cases:
#   prefix    creates the 64-bit prefix (CTest fixture setup)
#   uninstall_registration_in_<BITS>bit_view
#             a registration in the program's own view gives the install
#             directory
#   version_record_in_<BITS>bit_view
#             the version record is written to and read from the own view
#             only
#   registration_only_in_<other>bit_view
#             a registration only in the other view is not found (exit 5);
#             /p still installs
#   unreadable_program_folder
#             a program folder that can be entered but not listed (what an
#             elevated program sees of a drive mapped in the user's session)
#             ends the run with 6, installing and recording nothing
#   stop      stops the prefix's wineserver (CTest fixture cleanup)
# Every Wine call is bounded by a timeout, and its output goes to files.
set -uo pipefail
case_name=$1 exe=$2 prefix=$3 work=$4 bits=${5:-32}
case $bits in
  32) own=32 other=64 ;;
  64) own=64 other=32 ;;
  *) echo "BITS is 32 or 64, not '$bits'"; exit 2 ;;
esac
here=$(cd "$(dirname "$0")" && pwd)
wine_run="$here/../../scripts/wine-run"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
ok() { echo "ok: $*"; }
finish() {
  [ "$failures" -eq 0 ] && echo "$case_name: all checks passed" || echo "$case_name: $failures checks failed"
  exit $((failures > 0))
}

# wine64 ARGS...: runs in the 64-bit prefix; output in $work/$case_name/last.{out,err}.
wine64() {
  timeout 300 "$wine_run" --arch win64 "$prefix" "$@" >"$dir/last.out" 2>"$dir/last.err" </dev/null
}

case $case_name in
  prefix)
    dir="$work/prefix"
    mkdir -p "$dir"
    if [ ! -x /usr/lib/wine/wine64 ] && ! command -v wine64 >/dev/null 2>&1; then
      echo "FAIL: Wine's 64-bit loader is missing (Debian package wine64)"
      exit 1
    fi
    start=$(date +%s)
    wine64 cmd /c exit 0 || fail "cmd in the 64-bit prefix: exit code $? ($(cat "$dir/last.err"))"
    head -n 8 "$prefix/system.reg" 2>/dev/null | grep -qx '#arch=win64' &&
      ok "$prefix is a 64-bit prefix" || fail "$prefix is not a 64-bit prefix"
    [ -d "$prefix/drive_c/windows/syswow64" ] &&
      ok "it has the 32-bit system folder (syswow64)" || fail "no drive_c/windows/syswow64 in $prefix"
    echo "prefix ready in $(($(date +%s) - start)) s"
    finish
    ;;
  stop)
    WINEPREFIX="$prefix" timeout 60 wineserver -k >/dev/null 2>&1 </dev/null
    exit 0
    ;;
esac

dir="$work/$case_name"
rm -rf "$dir"
mkdir -p "$dir"
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

# A product of its own for this run, removed from both views at the end.
guid="{5E1C7A20-6464-4000-8000-$(printf '%06d%06d' $((RANDOM % 1000000)) $(($$ % 1000000)))}"
product="Wow64Test$$$RANDOM"
uninstall_key="HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$guid"
record_key="HKLM\\SOFTWARE\\Veltrane\\$product\\Manual\\$guid"
cleanup() {
  for view in 32 64; do
    wine64 reg delete "$uninstall_key" /f "/reg:$view"
    wine64 reg delete "HKLM\\SOFTWARE\\Veltrane\\$product" /f "/reg:$view"
  done
}
trap cleanup EXIT

# The kit: the program, its settings (silent) and SRC with one page.
kit="$dir/kit" install="$dir/install"
mkdir -p "$kit/SRC" "$install"
cp "$exe" "$kit/Quorvex.exe"
settings() {
  printf '[Product]\r\nProductGUID=%s\r\nLanguage=en\r\nManualVersion=%s\r\nMessageDisplay=0\r\nProduct=%s\r\n' \
    "$guid" "$1" "$product" >"$kit/Quorvex.ini"
  printf 'manual %s\r\n' "$1" >"$kit/SRC/index.html"
}

# run_installer ARGS...: runs the kit's program; sets rc and output.
run_installer() {
  wine64 "$kit/Quorvex.exe" "$@"
  rc=$?
  output=$(tr -d '\r' <"$dir/last.out")
  cp "$dir/last.out" "$dir/run-$((++runs)).out"
  cp "$dir/last.err" "$dir/run-$runs.err"
}
runs=0

# reg_value KEY NAME VIEW: prints the REG_SZ value; fails when it is not there.
reg_value() {
  wine64 reg query "$1" /v "$2" "/reg:$3" || return 1
  tr -d '\r' <"$dir/last.out" | sed -nE "s/^ +$2 +REG_SZ +(.*)\$/\\1/p" | head -n1
}
reg_set() { wine64 reg add "$1" /v "$2" /t REG_SZ /d "$3" /f "/reg:$4" || fail "reg add $1 /v $2 /reg:$4"; }
key_exists() { wine64 reg query "$1" "/reg:$2"; }

expect_value() {  # KEY NAME VIEW EXPECTED WHAT
  local got
  if got=$(reg_value "$1" "$2" "$3"); then
    [ "$got" = "$4" ] && ok "$5: $2=$got under /reg:$3" || fail "$5: $2=$got under /reg:$3, expected $4"
  else
    fail "$5: no value $2 of $1 under /reg:$3"
  fi
}
expect_no_key() {  # KEY VIEW WHAT
  key_exists "$1" "$2" && fail "$3: $1 exists under /reg:$2" || ok "$3: $1 absent under /reg:$2"
}
expect_run() {  # EXIT_CODE OUTPUT WHAT
  [ "$rc" = "$1" ] && ok "$3: exit code $rc" || fail "$3: exit code $rc, expected $1 (output '$output', errors: $(head -c 500 "$dir/last.err"))"
  [ "$output" = "$2" ] || fail "$3: output '$output', expected '$2'"
}
expect_page() {  # CONTENT WHAT
  if [ -f "$install/index.html" ]; then
    local got
    got=$(tr -d '\r' <"$install/index.html")
    [ "$got" = "$1" ] && ok "$2: installed page '$got'" || fail "$2: installed page '$got', expected '$1'"
  else
    [ -z "$1" ] && ok "$2: nothing installed" || fail "$2: no installed page, expected '$1'"
  fi
}

# Each key as a 64-bit program names the 32-bit view's copy of it.
wow_key() { printf '%s' "$1" | sed 's/^HKLM\\SOFTWARE\\/HKLM\\SOFTWARE\\WOW6432Node\\/'; }
start=$(date +%s)
case $case_name in
  "uninstall_registration_in_${own}bit_view")
    # The registration a product of the program's own width writes.
    reg_set "$uninstall_key" InstallPath0 "$(winpath "$install")" "$own"
    if [ "$own" = 32 ]; then
      expect_value "$(wow_key "$uninstall_key")" InstallPath0 64 "$(winpath "$install")" "the 32-bit view is WOW6432Node"
    else
      expect_no_key "$(wow_key "$uninstall_key")" 64 "not in WOW6432Node"
    fi
    expect_no_key "$uninstall_key" "$other" "not in the ${other}-bit view"
    settings 2.0
    run_installer
    expect_run 0 "" "install without /p"
    expect_page "manual 2.0" "install without /p"
    expect_value "$record_key" en "$own" 2.0 "the version record"
    ;;

  "version_record_in_${own}bit_view")
    settings 2.0
    run_installer "/p$(winpath "$install")"
    expect_run 0 "" "first install"
    expect_page "manual 2.0" "first install"
    expect_value "$record_key" en "$own" 2.0 "written to the ${own}-bit view"
    if [ "$own" = 32 ]; then
      expect_value "$(wow_key "$record_key")" en 64 2.0 "that is WOW6432Node"
    else
      expect_no_key "$(wow_key "$record_key")" 64 "nothing written to WOW6432Node"
    fi
    expect_no_key "$record_key" "$other" "not written to the ${other}-bit view"

    # A later version recorded in the own view refuses the install.
    reg_set "$record_key" en 9.0 "$own"
    settings 3.0
    run_installer "/p$(winpath "$install")"
    expect_run 0 "" "refused silently"
    expect_page "manual 2.0" "refused by the ${own}-bit record"
    expect_value "$record_key" en "$own" 9.0 "the ${own}-bit record stays"

    # A later version recorded only in the other view is not seen.
    wine64 reg delete "HKLM\\SOFTWARE\\Veltrane\\$product" /f "/reg:$own" || fail "reg delete /reg:$own"
    reg_set "$record_key" en 99.0 "$other"
    run_installer "/p$(winpath "$install")"
    expect_run 0 "" "install beside a ${other}-bit record"
    expect_page "manual 3.0" "the ${other}-bit record is not read"
    expect_value "$record_key" en "$own" 3.0 "recorded in the ${own}-bit view"
    expect_value "$record_key" en "$other" 99.0 "the ${other}-bit record untouched"
    ;;

  "registration_only_in_${other}bit_view")
    # The registration of a product of the other width.
    reg_set "$uninstall_key" InstallPath0 "$(winpath "$install")" "$other"
    expect_no_key "$uninstall_key" "$own" "not in the ${own}-bit view"
    settings 2.0
    run_installer
    expect_run 5 "Can not get the install directory!" "install without /p"
    expect_page "" "install without /p"
    expect_no_key "$record_key" 32 "no record"
    expect_no_key "$record_key" 64 "no record"

    run_installer "/p$(winpath "$install")"
    expect_run 0 "" "install with /p"
    expect_page "manual 2.0" "install with /p"
    expect_value "$record_key" en "$own" 2.0 "the version record"
    ;;

  unreadable_program_folder)
    command -v setpriv >/dev/null || { echo "SKIPPED: no setpriv (util-linux)"; exit 77; }
    settings 2.0
    # Root obeys the folder's bits (write and enter, no read) once it has
    # dropped the capabilities that pass over them.
    chmod 0311 "$kit"
    setpriv --bounding-set=-dac_override,-dac_read_search -- \
      timeout 300 "$wine_run" --arch win64 "$prefix" "$kit/Quorvex.exe" "/p$(winpath "$install")" \
      >"$dir/last.out" 2>"$dir/last.err" </dev/null
    rc=$?
    chmod 0755 "$kit"
    output=$(tr -d '\r' <"$dir/last.out")
    expect_run 6 "Can not get the work directory!" "a program folder that cannot be listed"
    expect_page "" "a program folder that cannot be listed"
    expect_no_key "$record_key" "$own" "no record"
    ;;

  *)
    echo "unknown case $case_name"
    exit 2
    ;;
esac
echo "$case_name: $runs runs of the program in $(($(date +%s) - start)) s"
finish
