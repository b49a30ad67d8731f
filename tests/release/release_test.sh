#!/usr/bin/env bash
# The release package, end to end: makes a throwaway self-signed
# code-signing certificate, runs scripts/release with it, and checks the
# zip's entries and template files, the Authenticode signatures of both
# variants (osslsigncode verify), each variant's machine, imports and
# resources as packaged, that the template's settings read back through the
# Windows profile reader (under 64-bit Wine), and that the signed 64-bit
# installer still installs a manual under Wine.
#
# Usage: tests/release/release_test.sh   (QUORVEX_BUILD_DIR,
# QUORVEX_X86_BUILD_DIR and QUORVEX_RELEASE_DIR as for scripts/release;
# default build/win64, build/win32 and build/release). Every Wine run's
# output goes to files.
set -uo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
build=$(realpath -m "${QUORVEX_BUILD_DIR:-build/win64}")
build32=$(realpath -m "${QUORVEX_X86_BUILD_DIR:-build/win32}")
release=$(realpath -m "${QUORVEX_RELEASE_DIR:-build/release}")
prefix=$build/wineprefix
work=$(mktemp -d)
cleanup() {
  WINEPREFIX="$prefix" timeout 30 wineserver -k >/dev/null 2>&1
  chmod -R u+w "$work" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
windows_path() { printf 'Z:%s' "${1//\//\\}"; }
wine_run() { timeout 300 "$root/scripts/wine-run" --arch win64 "$prefix" "$@"; }

# ---- A self-signed code-signing certificate, valid for two days.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Quorvex release test" \
  -addext "extendedKeyUsage=codeSigning" -addext "keyUsage=critical,digitalSignature" \
  -keyout "$work/key.pem" -out "$work/cert.pem" >"$work/openssl.log" 2>&1 ||
  { cat "$work/openssl.log"; echo "FAIL: cannot make a certificate"; exit 1; }

# ---- The release, signed.
if ! QUORVEX_BUILD_DIR=$build QUORVEX_X86_BUILD_DIR=$build32 QUORVEX_RELEASE_DIR=$release QUORVEX_WINEPREFIX=$prefix \
     scripts/release --cert "$work/cert.pem" --key "$work/key.pem" >"$work/release.log" 2>&1; then
  cat "$work/release.log"
  echo "FAIL: scripts/release failed"
  exit 1
fi
source "$build/packaging/release.env"
zip=$release/$package.zip
[ -f "$zip" ] || { echo "FAIL: no $zip"; exit 1; }
grep -E '^(SKIPPED|  (error|warning))' "$work/release.log"

# ---- The zip holds the kit template, both variants, the Linux QuorvexKit,
# the deployment guide, the license notices and their checksums, nothing else.
expected="Quorvex.ini README.txt SRC/ SHA256SUMS docs/deployment.md linux/QuorvexKit linux/README.txt
          licenses/README.txt licenses/gcc-runtime.txt licenses/mingw-w64-runtime.txt licenses/GPL-3.txt"
for variant in x86 x64; do
  for program in $programs; do expected="$expected $variant/$program.exe"; done
done
expected=$(tr -s ' \n' '\n' <<<"$expected" | grep -v '^$' | sort)
listing=$(cmake -E tar tf "$zip" | grep -vxE '(x86|x64|docs|linux|licenses)/' | sort)
[ "$listing" = "$expected" ] || fail "the zip holds: $(echo $listing), expected: $(echo $expected)"

mkdir "$work/kit"
(cd "$work/kit" && cmake -E tar xf "$zip")
[ -d "$work/kit/SRC" ] && [ -z "$(ls -A "$work/kit/SRC")" ] || fail "SRC is not an empty folder"
# Every file is in SHA256SUMS, as it is in the zip (signed executables too).
(cd "$work/kit" && sha256sum --quiet -c SHA256SUMS) >"$work/sums.log" 2>&1 ||
  { cat "$work/sums.log"; fail "SHA256SUMS does not match the files"; }
[ "$(wc -l <"$work/kit/SHA256SUMS")" = "$(find "$work/kit" -type f ! -name SHA256SUMS | wc -l)" ] ||
  fail "SHA256SUMS does not list every file"
grep -q "GCC RUNTIME LIBRARY EXCEPTION" "$work/kit/licenses/gcc-runtime.txt" ||
  fail "licenses/gcc-runtime.txt lacks the GCC Runtime Library Exception"
grep -q "winpthreads" "$work/kit/licenses/mingw-w64-runtime.txt" ||
  fail "licenses/mingw-w64-runtime.txt lacks winpthreads"
"$work/kit/linux/QuorvexKit" --help >"$work/linux-kit.out" 2>&1 ||
  fail "linux/QuorvexKit --help: $(cat "$work/linux-kit.out")"
# README.txt shows the kit as the README and the guide do: the uninstall
# beside the installer, the uninstall's command and every exit code.
for line in 'x86\QuorvexKit.exe   the same variant' 'x86\QuorvexKit.exe remove "/p' \
            '8 the version or the list of installed' '4 the other variant'; do
  grep -qF "$line" "$work/kit/README.txt" || fail "README.txt lacks: $line"
done
for text in Quorvex.ini README.txt; do
  lines=$(wc -l <"$work/kit/$text")
  crlf=$(grep -c $'\r$' "$work/kit/$text")
  [ "$lines" -gt 0 ] && [ "$lines" = "$crlf" ] || fail "$text: $crlf of $lines lines end in CR LF"
done

# ---- Every executable carries a signature that verifies against the
# certificate, and is, as packaged, the program of its variant.
for variant in x86 x64; do
  machine=$([ "$variant" = x86 ] && echo i386 || echo amd64)
  for program in $programs; do
    exe=$work/kit/$variant/$program.exe log=$work/verify-$variant-$program.log
    if osslsigncode verify -CAfile "$work/cert.pem" -in "$exe" >"$log" 2>&1; then
      grep -q "Subject: /CN=Quorvex release test" "$log" || fail "$variant/$program.exe: signed by someone else"
    else
      cat "$log"
      fail "$variant/$program.exe: osslsigncode verify rejects it"
    fi
    if [ "$program" = Quorvex ]; then
      facts=(--level requireAdministrator --description "Quorvex manual installer ($variant)"
             --string-ids 103-120 --string-languages 0409,0411)
    else
      facts=(--level asInvoker --description "Quorvex kit checker ($variant)")
    fi
    # The kill points that tests stop runs at are in the test-only build alone.
    ! grep -a -q -E 'QUORVEX_FAULT_(KILL|HOLD)' "$exe" ||
      fail "$variant/$program.exe: has the test build's kill points"
    /usr/bin/python3 tests/resources/windows_resources_test.py --exe "$exe" --machine "$machine" \
        --original-filename "$program.exe" --version "$version" "${facts[@]}" >"$log" 2>&1 ||
      { grep FAIL "$log"; fail "$variant/$program.exe: not the $machine program it should be"; }
  done
done

# ---- The template's settings, as the Windows profile reader (Wine's) reads
# them: the defaults and the template's version as written, and each value
# once changed in place. A template that ships the version the installer
# records without one would block every later kit.
kit_version=$(tr -d '\r' <"$work/kit/Quorvex.ini" | sed -n 's/^ManualVersion=//p')
[ -n "$kit_version" ] && [ "$kit_version" != 100000 ] ||
  fail "the template's ManualVersion is '$kit_version', not a manual's version"
cmake --build "$build" --target settings_dump >"$work/build.log" 2>&1 ||
  { cat "$work/build.log"; fail "cannot build settings_dump"; }
dump_settings() {  # FOLDER: prints what settings_dump reads from FOLDER/Quorvex.ini
  wine_run "$build/settings_dump.exe" "$(windows_path "$1")\\" >"$work/dump.out" 2>"$work/dump.err"
  tr -d '\r' <"$work/dump.out"
}
defaults="ProductGUID={5E1C7A20-3B9D-4C6F-A2E8-91D04B7F3C65}
Language=en
ManualVersion=$kit_version
MessageDisplay=1
Product=Orvinel
RemoveOldFiles=0"
read_back=$(dump_settings "$work/kit")
[ "$read_back" = "$defaults" ] || fail "the template reads as:
$read_back"

mkdir "$work/changed"
sed -e 's/^ProductGUID=.*\r$/ProductGUID={0F0E0D0C-0B0A-4908-8706-050403020100}\r/' \
    -e 's/^Language=en\r$/Language=ja\r/' -e "s/^ManualVersion=$kit_version\\r\$/ManualVersion=2.5.1\\r/" \
    -e 's/^MessageDisplay=1\r$/MessageDisplay=0\r/' -e 's/^Product=Orvinel\r$/Product=Lumora\r/' \
    -e 's/^RemoveOldFiles=0\r$/RemoveOldFiles=1\r/' \
    "$work/kit/Quorvex.ini" >"$work/changed/Quorvex.ini"
read_back=$(dump_settings "$work/changed")
[ "$read_back" = "ProductGUID={0F0E0D0C-0B0A-4908-8706-050403020100}
Language=ja
ManualVersion=2.5.1
MessageDisplay=0
Product=Lumora
RemoveOldFiles=1" ] || fail "the template with changed values reads as:
$read_back"

# ---- The signed installer installs a small manual, silently, into /p.
run=$work/run install=$work/install
product="ReleaseTest$$"
mkdir -p "$run/SRC/guide" "$install"
cp "$work/kit/x64/Quorvex.exe" "$run/"
sed -e 's/^MessageDisplay=1\r$/MessageDisplay=0\r/' -e "s/^Product=Orvinel\\r\$/Product=$product\\r/" \
  "$work/kit/Quorvex.ini" >"$run/Quorvex.ini"
printf '<html>index</html>\n' >"$run/SRC/index.html"
printf '<html>start</html>\n' >"$run/SRC/guide/start.html"
wine_run "$run/Quorvex.exe" "/p$(windows_path "$install")" >"$work/install.out" 2>"$work/install.err"
code=$?
[ "$code" = 0 ] || { cat "$work/install.out" "$work/install.err"; fail "the signed x64\\Quorvex.exe exited with $code"; }
for file in index.html guide/start.html; do
  cmp -s "$run/SRC/$file" "$install/$file" || fail "$file was not installed"
done
record="HKLM\\SOFTWARE\\Veltrane\\$product\\Manual\\{5E1C7A20-3B9D-4C6F-A2E8-91D04B7F3C65}"
wine_run reg query "$record" /v en >"$work/record.out" 2>"$work/record.err"
grep -q "en.*REG_SZ.*$kit_version" "$work/record.out" ||
  { cat "$work/record.out"; fail "no version record $kit_version"; }
wine_run reg delete "HKLM\\SOFTWARE\\Veltrane\\$product" /f >/dev/null 2>&1

if [ "$failures" -gt 0 ]; then
  echo "release test: $failures failure(s)"
  exit 1
fi
echo "release test: passed ($package.zip: $programs of x86 and x64 signed; the x64 installer run)"
