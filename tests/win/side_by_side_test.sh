#!/usr/bin/env bash
# side_by_side_test.sh <win32 bin dir> <zelcrypto.dll 64> <zelblob.dll 64> <work dir> <zelwine>
#
# The 32-bit and the 64-bit DLLs registered side by side in one 64-bit Wine
# prefix (<work dir>/wineprefix, made afresh each run): the 32-bit DLLs with
# syswow64's regsvr32, the 64-bit ones with system32's.  Each registry view
# is read with the reg.exe of its own bitness, and after each step a script of
# each registered bitness uses all eight classes in-process.  Unregistering one bitness removes its
# class keys and its type-library platform key and keeps the shared keys
# (ProgIDs, application identity, type library) for the other; unregistering
# the other as well leaves nothing behind.
set -u

bin32=$1 crypto64=$2 blob64=$3 dir=$4 zelwine_tool=$5
crypto32=$bin32/zelcrypto.dll
blob32=$bin32/zelblob.dll
script=$(dirname "${BASH_SOURCE[0]}")/side_by_side.vbs

# The 32-bit DLLs run in the 32-bit Wine loader, a 32-bit Linux program.
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  echo "SKIP: this machine cannot run 32-bit programs (the 32-bit Wine loader does not start)"
  exit 77
fi
if [[ ! -f $crypto32 || ! -f $blob32 ]]; then
  echo "SKIP: no 32-bit DLLs in $bin32; build the win32 preset first (tools/test builds every preset)"
  exit 77
fi

zelwine=("$zelwine_tool" --build "$dir" win64)
work=$(mktemp -d)
run() { "${zelwine[@]}" exec "$@" </dev/null >"$work/out" 2>&1; }

source "$(dirname "${BASH_SOURCE[0]}")/registry_checks.sh"

sys32='C:\windows\syswow64'
sys64='C:\windows\system32'

# A fresh prefix: nothing of an earlier run may remain registered.
"${zelwine[@]}" stop
rm -rf "$dir/wineprefix"
mkdir -p "$dir"
cleanup() {
  "${zelwine[@]}" stop
  # The prefix is large and made afresh by the next run; keep it only to look
  # at after a failure.
  if ((failures == 0)); then rm -rf "$dir/wineprefix"; fi
  rm -rf "$work"
}
trap cleanup EXIT
if ! run wineboot -i; then
  cat "$work/out"
  echo "could not create the 64-bit prefix in $dir"
  exit 1
fi

# regsvr <32|64> [/u] <dll>...
regsvr() {
  local bits=$1 sys dll
  shift
  [[ $bits == 32 ]] && sys=$sys32 || sys=$sys64
  local flags=(/s)
  if [[ $1 == /u ]]; then flags+=(/u); shift; fi
  for dll in "$@"; do
    if run "$sys\\regsvr32.exe" "${flags[@]}" "$dll"; then
      check ok "$bits-bit regsvr32 ${flags[*]} $(basename "$dll")"
    else
      check fail "$bits-bit regsvr32 ${flags[*]} $dll"
    fi
  done
}

# view <32|64>: later snapshots read that registry view.
view() { [[ $1 == 32 ]] && reg="$sys32\\reg.exe" || reg="$sys64\\reg.exe"; }

snapshot_all() { snapshot "${crypto_keys[@]}" "${blob_keys[@]}"; }

# Both components of one bitness fully registered in the current view.
expect_registered() {
  local bits=$1 crypto blob
  [[ $bits == 32 ]] && { crypto=$crypto32; blob=$blob32; } || { crypto=$crypto64; blob=$blob64; }
  expect_crypto_registered "$crypto" "win$bits"
  expect_blob_registered "$blob" "win$bits"
}

# In the current view: no class keys of either component.
expect_no_class_keys() {
  local entry name clsid version
  for entry in "${crypto_classes[@]}"; do
    read -r name clsid version <<<"$entry"
    expect_no_key "HKCR\\CLSID\\$clsid"
  done
  expect_no_key "HKCR\\CLSID\\$blob_clsid"
}

expect_no_platform() {
  expect_no_key "HKCR\\TypeLib\\$crypto_libid\\2.0\\409\\win$1"
  expect_no_key "HKCR\\TypeLib\\$blob_libid\\2.0\\409\\win$1"
}

# The keys both views share, written by whichever bitness registered.
expect_shared_keys() {
  local entry name clsid version
  for entry in "${crypto_classes[@]}"; do
    read -r name clsid version <<<"$entry"
    expect_progids "Valdergast.ZELCrypto$name" "$clsid" "$version"
  done
  expect_progids Valdergast.ZELBlob "$blob_clsid"
  expect_appid
  expect_value "HKCR\\TypeLib\\$crypto_libid\\2.0" "(Default)" "ZELCrypto 2.0 Type Library"
  expect_value "HKCR\\TypeLib\\$blob_libid\\2.0" "(Default)" "ZELBlob 2.0 Type Library"
}

# scripts <32|64> <in-process|unavailable>: the script of that bitness finds
# all eight classes served in-process, or none of them.
#
# A script runs only where the classes are registered in its own view, or
# nowhere at all: with the classes registered for the other bitness only,
# Wine's COM tries to serve them from a surrogate process of that bitness
# instead, and a 64-bit client waits minutes per class for a 32-bit one.  That
# view's own keys are checked key by key instead.
scripts() {
  local bits=$1 expected=$2 sys arch
  [[ $bits == 32 ]] && { sys=$sys32; arch=x86; } || { sys=$sys64; arch=AMD64; }
  run "$sys\\cscript.exe" //nologo "$script"
  tr -d '\r' <"$work/out" >"$work/script"
  if ! grep -qx done "$work/script" || ! grep -qx "arch $arch" "$work/script"; then
    check fail "$bits-bit script did not run to its end as $arch:"
    sed 's/^/    /' "$work/script"
    return
  fi
  local entry name clsid line
  for entry in "${crypto_classes[@]}"; do
    read -r name clsid <<<"$entry"
    line=$(grep -E "^(in-process|unavailable) Valdergast.ZELCrypto$name(:|$)" "$work/script")
    if [[ ${line%% *} == "$expected" ]]; then
      check ok "$bits-bit script: $line"
    else
      check fail "$bits-bit script: $line (expected $expected)"
    fi
  done
}

echo "== 32-bit DLLs registered"
regsvr 32 "$blob32" "$crypto32"
view 32; snapshot_all
expect_registered 32
view 64; snapshot_all
expect_no_class_keys
expect_shared_keys
expect_no_platform 64
scripts 32 in-process

echo "== 64-bit DLLs registered beside them"
regsvr 64 "$blob64" "$crypto64"
view 32; snapshot_all
expect_registered 32
view 64; snapshot_all
expect_registered 64
scripts 32 in-process
scripts 64 in-process

echo "== 32-bit DLLs unregistered"
regsvr 32 /u "$crypto32" "$blob32"
view 32; snapshot_all
expect_no_class_keys
expect_no_platform 32
expect_shared_keys
view 64; snapshot_all
expect_registered 64
scripts 64 in-process

echo "== 32-bit DLLs registered again, 64-bit DLLs unregistered"
regsvr 32 "$blob32" "$crypto32"
regsvr 64 /u "$crypto64" "$blob64"
view 64; snapshot_all
expect_no_class_keys
expect_no_platform 64
expect_shared_keys
view 32; snapshot_all
expect_registered 32
scripts 32 in-process

echo "== 32-bit DLLs unregistered as well"
regsvr 32 /u "$crypto32" "$blob32"
for bits in 32 64; do
  view $bits; snapshot_all
  expect_crypto_unregistered
  expect_blob_unregistered
  expect_root "HKCR\\CLSID"
  expect_root "HKCR\\AppID"
done
scripts 32 unavailable
scripts 64 unavailable

echo "$((checks - failures)) passed, $failures failed"
((failures == 0))
