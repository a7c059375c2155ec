#!/usr/bin/env bash
# registration_test.sh <zelcrypto.dll> <zelblob.dll> <win32|win64> <zelwine command...>
#
# Registers and unregisters both DLLs with regsvr32 in the build tree's Wine
# prefix and reads the registry back with Wine's reg.exe, key by key for each
# of the eight classes.  Both DLLs are registered again when the script ends,
# whatever happened.
set -u

crypto_dll=$1 blob_dll=$2 platform=$3
shift 3
zelwine=("$@")

work=$(mktemp -d)

# Wine programs run with their output in a file: Wine's background processes
# could otherwise keep a pipe open.
run() { "${zelwine[@]}" exec "$@" </dev/null >"$work/out" 2>&1; }

source "$(dirname "${BASH_SOURCE[0]}")/registry_checks.sh"

regsvr() {
  run regsvr32 /s "$@" || { echo "regsvr32 $* failed"; return 1; }
}

register_both() { regsvr "$blob_dll" && regsvr "$crypto_dll"; }
trap 'register_both >/dev/null || echo "could not register the DLLs again"; rm -rf "$work"' EXIT

echo "== registered"
register_both || exit 1
snapshot "${crypto_keys[@]}" "${blob_keys[@]}"
expect_crypto_registered "$crypto_dll" "$platform"
expect_blob_registered "$blob_dll" "$platform"

echo "== registering again writes the class key afresh"
run reg add "HKCR\\CLSID\\$misc_clsid\\Stale" /ve /d leftover /f || check fail "reg add"
run reg add "HKCR\\CLSID\\$misc_clsid\\Programmable" /ve /d leftover /f || check fail "reg add"
regsvr "$crypto_dll" || check fail "registering zelcrypto.dll again"
snapshot "HKCR\\CLSID\\$misc_clsid"
expect_no_key "HKCR\\CLSID\\$misc_clsid\\Stale"
expect_key "HKCR\\CLSID\\$misc_clsid\\Programmable"
expect_no_value "HKCR\\CLSID\\$misc_clsid\\Programmable" "(Default)"
expect_value "HKCR\\CLSID\\$misc_clsid\\ProgID" "(Default)" "Valdergast.ZELCryptoMisc.2"

echo "== zelcrypto.dll unregistered"
if run regsvr32 /u /s "$crypto_dll"; then check ok "regsvr32 /u zelcrypto.dll"; else check fail "regsvr32 /u zelcrypto.dll"; fi
snapshot "${crypto_keys[@]}" "${blob_keys[@]}"
expect_crypto_unregistered
# The other DLL's registration is untouched.
expect_blob_registered "$blob_dll" "$platform"
expect_root "HKCR\\CLSID"
expect_root "HKCR\\AppID"

echo "== unregistering twice"
if run regsvr32 /u /s "$crypto_dll"; then check ok "second regsvr32 /u zelcrypto.dll"; else check fail "second regsvr32 /u zelcrypto.dll"; fi

echo "== zelblob.dll unregistered"
if run regsvr32 /u /s "$blob_dll"; then check ok "regsvr32 /u zelblob.dll"; else check fail "regsvr32 /u zelblob.dll"; fi
snapshot "${blob_keys[@]}"
expect_blob_unregistered
expect_root "HKCR\\CLSID"
expect_root "HKCR\\AppID"

echo "== registered again"
register_both || check fail "registering both DLLs again"
snapshot "${crypto_keys[@]}" "${blob_keys[@]}"
expect_crypto_registered "$crypto_dll" "$platform"
expect_blob_registered "$blob_dll" "$platform"

echo "$((checks - failures)) passed, $failures failed"
((failures == 0))
