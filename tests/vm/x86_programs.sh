#!/usr/bin/env bash
# The shipped 32-bit programs (the release zip's x86\ folder) in a virtual
# machine whose kernel runs 32-bit code (scripts/vm-32bit), in one boot:
# the WoW64 registry cases of tests/wine/wow64_registry.sh and its kernel32
# calls per file (its relay traces are left in WORK_DIR/job/calls_per_file), Program Files
# not redirected, a fresh install, an identical rerun and a refusal, and
# QuorvexKit.exe check, plan and verify on the same kit, and remove: with
# the x86 test builds, which trust the account Wine shows as every
# folder's owner, an install and its uninstall; with the shipped one, the
# uninstall repeated.
#
# Usage: x86_programs.sh RELEASE_ZIP WORK_DIR
set -uo pipefail
zip=$(realpath "$1") work=$(realpath -m "$2")
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
rm -rf "$work"
mkdir -p "$work/job/tests/wine" "$work/job/scripts" "$work/job/x86"
(cd "$work" && cmake -E tar xf "$zip") || { echo "FAIL: cannot unpack $zip"; exit 1; }
cp "$work/x86/Quorvex.exe" "$work/x86/QuorvexKit.exe" "$work/job/x86/"
# The test builds beside them, for the listed rerun of calls_per_file and
# the uninstall.
for test_build in QuorvexKillPoints.exe QuorvexKitKillPoints.exe; do
  [ -f "$root/build/win32/$test_build" ] && cp "$root/build/win32/$test_build" "$work/job/x86/"
done
cp "$root/tests/wine/wow64_registry.sh" "$root/tests/wine/relay_trace.sh" "$work/job/tests/wine/"
cp "$root/scripts/wine-run" "$work/job/scripts/"

cat >"$work/job/job.sh" <<'JOB'
# In the guest: /host is this folder, /root/prefix the 64-bit prefix. The
# cases work on the root file system: Wine shows a mount point (/tmp is one
# here) as a reparse point by name, which the installer refuses on the path
# to an install directory, as it would a link of the running account.
set -u
prefix=/root/prefix
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
ok() { echo "ok: $*"; }
getconf LONG_BIT >/dev/null
for case in uninstall_registration_in_32bit_view version_record_in_32bit_view \
            registration_only_in_64bit_view calls_per_file; do
  if QUORVEX_CALLS_WITHOUT_KIT=1 bash /host/tests/wine/wow64_registry.sh "$case" /host/x86/Quorvex.exe "$prefix" /root/wow64 32 \
       >"/host/$case.log" 2>&1; then
    ok "$case"
  else
    fail "$case: $(grep -E '^FAIL' "/host/$case.log" | head -n 3)"
  fi
done
mkdir -p /host/calls_per_file
cp /root/wow64/calls_per_file/*.trace /root/wow64/calls_per_file/*.calls /host/calls_per_file/ 2>/dev/null
grep -E 'per file|^not run' /host/calls_per_file.log

run() { timeout 300 /host/scripts/wine-run --arch win64 "$prefix" "$@" >/tmp/out 2>/tmp/err </dev/null; }
kit=/tmp/kit
mkdir -p "$kit/SRC/guide"
cp /host/x86/Quorvex.exe /host/x86/QuorvexKit.exe "$kit/"
printf '<index>\r\n' >"$kit/SRC/index.html"
printf '<guide>\r\n' >"$kit/SRC/guide/page.html"
printf '[Product]\r\nProductGUID={5E1C7A20-6464-4000-8000-000000000032}\r\nProduct=VmTest\r\nManualVersion=2.0\r\nMessageDisplay=0\r\n' \
  >"$kit/Quorvex.ini"
files='C:\Program Files\QuorvexVm'
native="$prefix/drive_c/Program Files/QuorvexVm"
mkdir -p "$native"

run "$kit/Quorvex.exe" "/p$files"; rc=$?
[ "$rc" = 0 ] && [ -f "$native/guide/page.html" ] && ok "fresh install into Program Files" ||
  fail "fresh install: exit $rc"
[ ! -e "$prefix/drive_c/Program Files (x86)/QuorvexVm/guide" ] && ok "Program Files not redirected" ||
  fail "the files went to Program Files (x86)"
before=$(stat -c %i "$native/guide/page.html")
run "$kit/Quorvex.exe" "/p$files"; rc=$?
[ "$rc" = 0 ] && [ "$(stat -c %i "$native/guide/page.html")" = "$before" ] &&
  ok "identical rerun: exit 0, nothing written again" || fail "rerun: exit $rc"
sed -i 's/ManualVersion=2.0/ManualVersion=1.0/' "$kit/Quorvex.ini"
printf '<older>\r\n' >"$kit/SRC/index.html"
run "$kit/Quorvex.exe" "/p$files"; rc=$?
[ "$rc" = 0 ] && grep -q '<index>' "$native/index.html" && ok "an older manual refused silently (0)" ||
  fail "refusal: exit $rc"
sed -i 's/ManualVersion=1.0/ManualVersion=2.0/' "$kit/Quorvex.ini"
printf '<index>\r\n' >"$kit/SRC/index.html"
touch -r "$native/index.html" "$kit/SRC/index.html"

run "$kit/QuorvexKit.exe" check 'Z:\tmp\kit' --install-dir "$files"; rc=$?
[ "$rc" = 0 ] && ok "QuorvexKit.exe check: 0" || fail "check: exit $rc: $(head -c 400 /tmp/out)"
run "$kit/QuorvexKit.exe" plan 'Z:\tmp\kit' "/p$files" --summary; rc=$?
[ "$rc" = 0 ] && grep -q 'verdict: allowed' /tmp/out && ok "QuorvexKit.exe plan: 0, allowed" ||
  fail "plan: exit $rc: $(head -c 400 /tmp/out)"
run "$kit/QuorvexKit.exe" verify 'Z:\tmp\kit' "/p$files"; rc=$?
[ "$rc" = 0 ] && ok "QuorvexKit.exe verify: 0" || fail "verify: exit $rc: $(head -c 600 /tmp/out)"

if [ -f /host/x86/QuorvexKillPoints.exe ] && [ -f /host/x86/QuorvexKitKillPoints.exe ]; then
  cp /host/x86/QuorvexKillPoints.exe /host/x86/QuorvexKitKillPoints.exe "$kit/"
  sed -i 's/Product=VmTest/Product=VmRemove/' "$kit/Quorvex.ini"
  removed='C:\Program Files\QuorvexVmRemove'
  rnative="$prefix/drive_c/Program Files/QuorvexVmRemove"
  mkdir -p "$rnative"
  printf 'own\r\n' >"$rnative/product.txt"
  export QUORVEX_TRUST_RUNNING_USER=1
  run "$kit/QuorvexKillPoints.exe" "/p$removed"; installed=$?
  run "$kit/QuorvexKitKillPoints.exe" remove 'Z:\tmp\kit' "/p$removed"; rc=$?
  unset QUORVEX_TRUST_RUNNING_USER
  [ "$installed" = 0 ] && [ "$rc" = 0 ] && [ ! -e "$rnative/guide" ] && [ ! -e "$rnative/index.html" ] &&
    [ -f "$rnative/product.txt" ] && ok "x86 QuorvexKit remove: the manual gone, the product's file kept" ||
    fail "remove: install $installed, remove $rc: $(head -c 600 /tmp/out)"
  run "$kit/QuorvexKit.exe" remove 'Z:\tmp\kit' "/p$removed"; rc=$?
  [ "$rc" = 0 ] && grep -q 'nothing of this manual is installed' /tmp/out &&
    ok "QuorvexKit.exe remove again: 0, nothing installed" || fail "remove again: exit $rc: $(head -c 600 /tmp/out)"
else
  echo "not run: the x86 uninstall (the x86 test builds are not built)"
fi
echo "$failures failures"
exit $((failures > 0))
JOB

"$root/scripts/vm-32bit" "$work/job" "${QUORVEX_VM_SECONDS:-900}"
code=$?
cat "$work/job/job.log" 2>/dev/null
exit $code
