#!/usr/bin/env bash
# Power cuts during and right after installs, natively. The install folder
# and the registry hive are on an ext4 image mounted through a loop device;
# the cut is the file system's shutdown without a log flush
# (EXT4_IOC_SHUTDOWN, EXT4_GOING_FLAGS_NOLOGFLUSH): everything not yet on
# the disk is lost, as in a power failure. The image is then unmounted and
# mounted again, and the journal replays.
#
# After every cut: the record names the new version only if every file of
# the manual is complete on the disk; a rerun completes the install (or
# refuses it when it is complete and recorded), leaving a tree equal to SRC.
#
# Usage: power_cut.sh QUORVEX WORK_DIR [ROUNDS]
# Needs root and loop devices; exits 77 (skipped) without them.
set -uo pipefail
program=$1 work=$2 rounds=${3:-3}

skip() { echo "SKIPPED: $*"; exit 77; }
[ "$(id -u)" = 0 ] || skip "power cuts need root (loop devices, mount)"
for tool in losetup mkfs.ext4 mount umount python3; do
  command -v "$tool" >/dev/null || skip "no $tool"
done
[ -e /dev/loop-control ] || skip "no loop devices (/dev/loop-control)"

rm -rf "$work"
mkdir -p "$work/disk"
disk=$work/disk image=$work/disk.img loop=""
cleanup() {
  mountpoint -q "$disk" && umount "$disk"
  [ -n "$loop" ] && losetup -d "$loop" 2>/dev/null
  rm -f "$image"
}
trap cleanup EXIT
truncate -s 256M "$image"
mkfs.ext4 -q -F "$image" || skip "mkfs.ext4 failed"
loop=$(losetup -f --show "$image" 2>/dev/null) || skip "no free loop device"
mount "$loop" "$disk" || skip "cannot mount $loop"

# cut_power [DELAY_MS COMMAND...]: cuts the power, or starts COMMAND and
# cuts it DELAY_MS later, then waits for COMMAND (which the cut fails).
cut_power() {
  python3 - "$disk" "$@" <<'PY'
import fcntl, os, struct, subprocess, sys, time
EXT4_IOC_SHUTDOWN = 0x8004587D      # _IOR('X', 125, __u32)
EXT4_GOING_FLAGS_NOLOGFLUSH = 2
fd = os.open(sys.argv[1], os.O_RDONLY)
process = None
if len(sys.argv) > 3:
    process = subprocess.Popen(sys.argv[3:], stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(int(sys.argv[2]) / 1000)
    if process.poll() is not None:
        print("the run had ended before the cut")
fcntl.ioctl(fd, EXT4_IOC_SHUTDOWN, struct.pack("I", EXT4_GOING_FLAGS_NOLOGFLUSH))
if process:
    process.wait()
PY
}
remount() { umount "$disk" && mount "$loop" "$disk"; }

# Two editions of a manual of 1,500 files: small pages in ten folders and a
# few figures of 2 MB; every file of edition 2 differs and is newer.
make_kit() {  # FOLDER EDITION
  local kit=$1 edition=$2
  mkdir -p "$kit/SRC"
  cp "$program" "$kit/Quorvex"
  printf '[Product]\nProductGUID={C7A1D2E3-0000-4000-8000-00000000C07C}\nLanguage=en\nManualVersion=%s\nMessageDisplay=%s\nProduct=PowerCut\n' \
    "$edition" "${3:-0}" >"$kit/Quorvex.ini"
  python3 - "$kit/SRC" "$edition" <<'PY'
import os, sys
root, edition = sys.argv[1], int(sys.argv[2])
stamp = 1600000000 + edition * 86400
for i in range(1494):
    folder = os.path.join(root, "part%d" % (i % 10))
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, "page%04d.html" % i)
    with open(path, "w") as f:
        f.write(("<p>edition %d page %d</p>\n" % (edition, i)) * 150)
    os.utime(path, (stamp, stamp))
for i in range(6):
    path = os.path.join(root, "figure%d.bin" % i)
    with open(path, "wb") as f:
        f.write(bytes([(edition * 31 + i) % 256]) * (2 << 20))
    os.utime(path, (stamp, stamp))
PY
}
make_kit "$work/kit1" 1
make_kit "$work/kit2" 2
cp -a "$work/kit2" "$work/kit2-messages"
sed -i 's/^MessageDisplay=0$/MessageDisplay=1/' "$work/kit2-messages/Quorvex.ini"

install=$disk/install
export QUORVEX_HKLM=$disk/HKLM.reg
run() {  # KIT: installs KIT's manual into the disk's install folder
  "$1/Quorvex" "/p$install" >"$work/run.out" 2>&1 </dev/null
}
recorded() {
  awk '/^\[/ {inside = index($0, "\\Veltrane\\PowerCut\\Manual\\") > 0}
       inside && /^"en"=/ {sub(/^"en"="/, ""); sub(/"$/, ""); print}' "$QUORVEX_HKLM" 2>/dev/null
}
complete() {  # every file of SRC is on the disk whole (extra files allowed)
  (cd "$work/kit2/SRC" && find . -type f) | while read -r file; do
    cmp -s "$work/kit2/SRC/$file" "$install/$file" || { echo "$file"; break; }
  done
}
fresh_disk() { rm -rf "$install" "$QUORVEX_HKLM" "$disk/Quorvex PowerCut "*; mkdir -p "$install"; sync; }

passed=0 failed=0
check_round() {  # NAME: the checks after a cut and the rerun
  local name=$1 record torn rerun_rc
  record=$(recorded)
  torn=$(complete)
  if [ "$record" = 2 ] && [ -n "$torn" ]; then
    echo "FAIL: $name: version 2 recorded, but $torn is not complete on the disk"
    failed=$((failed + 1)); return
  fi
  run "$work/kit2-messages"; rerun_rc=$?
  local expected=0
  [ "$record" = 2 ] && expected=7
  if [ "$rerun_rc" != "$expected" ]; then
    echo "FAIL: $name: the rerun exited with $rerun_rc, expected $expected (record '${record}')"
    failed=$((failed + 1)); return
  fi
  if ! diff -r "$work/kit2/SRC" "$install" >"$work/diff" 2>&1 || [ "$(recorded)" != 2 ]; then
    echo "FAIL: $name: after the rerun the install differs from SRC or is not recorded:"
    head -n 5 "$work/diff"
    failed=$((failed + 1)); return
  fi
  echo "ok: $name (record after the cut: '${record:-none}', rerun $rerun_rc)"
  passed=$((passed + 1))
}

# A whole run, to time the random cuts by.
fresh_disk
start=$(date +%s%N)
run "$work/kit2" || { echo "FAIL: the installer exited with $? on the disk image"; exit 1; }
span=$((($(date +%s%N) - start) / 1000000))
echo "a fresh install takes $span ms here"
cut_power 2>"$work/ioctl.err" || skip "the file system refuses the shutdown ioctl: $(cat "$work/ioctl.err")"
remount || { echo "FAIL: cannot mount the image again"; exit 1; }

RANDOM=${QUORVEX_POWER_SEED:-2718}
for ((round = 1; round <= rounds; round++)); do
  # Right after the run's exit.
  fresh_disk
  run "$work/kit2" || echo "note: the run exited with $?"
  cut_power && remount || { echo "FAIL: cut or remount"; exit 1; }
  check_round "cut right after the exit, round $round"

  # At a random moment of a fresh install, and of an update over edition 1.
  for kind in fresh update; do
    fresh_disk
    if [ "$kind" = update ]; then run "$work/kit1" && sync; fi
    delay=$((RANDOM % (span + 1)))
    cut_power "$delay" "$work/kit2/Quorvex" "/p$install" && remount ||
      { echo "FAIL: cut or remount"; exit 1; }
    check_round "cut $delay ms into a $kind install, round $round"
  done
done

# Held after the list of installed files is written and before the version
# is recorded, then cut: the rerun completes, and an identical run after it
# passes over every file unopened, the list it left being whole.
for kind in fresh update; do
  fresh_disk
  if [ "$kind" = update ]; then run "$work/kit1" && sync; fi
  rm -f "$work/release" "$work/release.held"
  QUORVEX_FAULT_HOLD="list-written:install:$work/release" "$work/kit2/Quorvex" "/p$install" \
    >"$work/held.out" 2>&1 </dev/null &
  held=$!
  for ((poll = 0; poll < 3000; poll++)); do [ -e "$work/release.held" ] && break; sleep 0.01; done
  [ -e "$work/release.held" ] || echo "note: the run was not held at list-written"
  cut_power
  touch "$work/release"
  wait "$held"
  remount || { echo "FAIL: cut or remount"; exit 1; }
  check_round "cut between the list and the record, $kind install"
  "$work/kit2/Quorvex" "/p$install" "/log=$work/listed.log" >/dev/null 2>&1 </dev/null
  if grep -q 'passed over (as the last install left them) 1500$' "$work/listed.log"; then
    echo "ok: the identical run after it passes over all 1500 files"
    passed=$((passed + 1))
  else
    echo "FAIL: the identical run after it: $(grep '^copy:' "$work/listed.log")"
    failed=$((failed + 1))
  fi
done

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
