#!/usr/bin/env bash
# Runs the native installer under valgrind's memcheck, twice: a first install
# that takes the install directory from the registry and shows the
# completion box, and a second run of the same version that is refused with
# the refusal box. Any memory error, leaked or unreleased block fails the test.
# Usage: installer_runs.sh PROGRAM WORK_FOLDER
set -u
program=$1 work=$2
command -v valgrind >/dev/null || { echo "valgrind is not installed"; exit 77; }
rm -rf "$work"
mkdir -p "$work/kit/SRC/guide" "$work/install"
cp "$program" "$work/kit/Quorvex"
printf '[Product]\nManualVersion=2.0\nMessageDisplay=1\n' >"$work/kit/Quorvex.ini"
echo '<index>' >"$work/kit/SRC/index.html"
echo '<start>' >"$work/kit/SRC/guide/start.html"
export QUORVEX_HKLM=$work/HKLM.reg
printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{5E1C7A20-3B9D-4C6F-A2E8-91D04B7F3C65}]\n"InstallPath0"="%s"\n\n' \
  "$work/install" >"$QUORVEX_HKLM"

status=0
run() {
  local expected=$1 log=$work/valgrind-$1.log
  valgrind -q --error-exitcode=99 --leak-check=full --show-leak-kinds=all \
    --errors-for-leak-kinds=all --log-file="$log" "$work/kit/Quorvex" </dev/null \
    >"$work/out-$expected.txt" 2>"$work/err-$expected.txt"
  local rc=$?
  if [ "$rc" != "$expected" ] || [ -s "$log" ]; then
    echo "exit code $rc, expected $expected; valgrind says:"
    cat "$log"
    status=1
  fi
}
run 0
cmp -s "$work/kit/SRC/guide/start.html" "$work/install/guide/start.html" ||
  { echo "the manual was not installed"; status=1; }
run 7
[ $status = 0 ] && echo "valgrind: two runs clean"
exit $status
