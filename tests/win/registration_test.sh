#!/usr/bin/env bash
# registration_test.sh <zelcrypto.dll> <zelblob.dll> <zelwine command...>
#
# Registers and unregisters both DLLs with regsvr32 in the build tree's Wine
# prefix and reads the registry back with Wine's reg.exe.  Both DLLs are
# registered again when the script ends, whatever happened.
set -u

crypto_dll=$1 blob_dll=$2
shift 2
zelwine=("$@")

failures=0
checks=0
work=$(mktemp -d)

winpath() { local p=$1; printf 'Z:%s' "${p//\//\\}"; }

# Wine programs run with their output in a file: Wine's background processes
# could otherwise keep a pipe open.
run() { "${zelwine[@]}" exec "$@" </dev/null >"$work/out" 2>&1; }

regsvr() {
  run regsvr32 /s "$@" || { echo "regsvr32 $* failed"; return 1; }
}

register_both() { regsvr "$blob_dll" && regsvr "$crypto_dll"; }
trap 'register_both >/dev/null || echo "could not register the DLLs again"; rm -rf "$work"' EXIT

check() {
  checks=$((checks + 1))
  if [[ $1 == ok ]]; then
    echo "ok   $2"
  else
    echo "FAIL $2"
    failures=$((failures + 1))
  fi
}

# snapshot KEY...: the keys and values below each KEY as lines
#   <key>
#   <key>|<value name>|<data>
# with "(Default)" naming the default value.
snapshot() {
  : >"$work/state"
  local key
  for key in "$@"; do
    run reg query "$key" /s || continue
    tr -d '\r' <"$work/out" | awk '
      /^HKEY_/ { key = $0; sub(/^HKEY_CLASSES_ROOT/, "HKCR", key); print key; next }
      /^    [^ ].*    REG_[A-Z_]+    / || /^    [^ ].*    REG_[A-Z_]+$/ {
        line = substr($0, 5)
        n = index(line, "    REG_")
        name = substr(line, 1, n - 1)
        rest = substr(line, n + 4)
        m = index(rest, "    ")
        data = m ? substr(rest, m + 4) : ""
        print key "|" name "|" data
      }' >>"$work/state"
  done
}

has_key() { grep -Fxq -- "$1" "$work/state"; }
expect_key() { if has_key "$1"; then check ok "key $1"; else check fail "key $1 is missing"; fi; }
expect_no_key() { if has_key "$1"; then check fail "key $1 is still there"; else check ok "no key $1"; fi; }
# A key that must exist whatever else happened (one level listed, not the tree).
expect_root() { if run reg query "$1"; then check ok "key $1 kept"; else check fail "key $1 is gone"; fi; }
expect_value() {
  local line="$1|$2|$3"
  if grep -Fxq -- "$line" "$work/state"; then
    check ok "$1 [$2] = $3"
  else
    local found
    found=$(grep -F -- "$1|$2|" "$work/state" | head -n 1)
    check fail "$1 [$2] should be '$3', found '${found#"$1|$2|"}'"
  fi
}

misc_clsid='{BA26813D-A760-441E-A97C-F0E679B82657}'
misc_iid='{6AB60B2D-1771-4E56-BA4D-73EF0E824FE5}'
crypto_libid='{7FF98D43-0E10-45F5-A238-34CEF2F627B1}'
appid='{BADEE840-3BEB-4D0F-A2EB-AA475BEAE432}'
blob_clsid='{ACD34106-BFF9-47DF-9AD5-DF90B97CF21B}'
blob_libid='{4B60DB94-0496-4ACD-A19D-0FF77D1DFF81}'

symmetric_iid='{99088A16-4D5F-454B-8662-57597FD04AD9}'
# Every class of zelcrypto.dll: ProgID name and class identifier.
crypto_classes=("Misc $misc_clsid"
                "AES {F019925F-152F-48A9-B6B8-DC6002684634}"
                "Twofish {127A5770-3CCA-42AB-8AFE-597AA037C460}"
                "Blowfish {46C78017-45C5-46AA-9554-5CB1626B0848}"
                "Cast {E950D390-1EAA-4548-B5CA-FC4A89F02B99}"
                "TripleDES {93645905-EAFE-4129-8CD9-2BB209B5C63C}")

crypto_keys=("HKCR\\AppID\\$appid" "HKCR\\AppID\\zelcrypto.DLL" "HKCR\\TypeLib\\$crypto_libid"
             "HKCR\\Interface\\$misc_iid" "HKCR\\Interface\\$symmetric_iid")
for entry in "${crypto_classes[@]}"; do
  read -r name clsid <<<"$entry"
  crypto_keys+=("HKCR\\Valdergast.ZELCrypto$name.2" "HKCR\\Valdergast.ZELCrypto$name" "HKCR\\CLSID\\$clsid")
done
blob_keys=("HKCR\\Valdergast.ZELBlob.2" "HKCR\\Valdergast.ZELBlob" "HKCR\\CLSID\\$blob_clsid"
           "HKCR\\TypeLib\\$blob_libid")

# expect_class <ProgID without version> <clsid> <libid> <module> [appid]
expect_class() {
  local progid=$1 clsid=$2 libid=$3 module=$4 class_appid=${5:-}
  local class="HKCR\\CLSID\\$clsid"
  expect_value "HKCR\\$progid.2" "(Default)" "$progid Class"
  expect_value "HKCR\\$progid.2\\CLSID" "(Default)" "$clsid"
  expect_value "HKCR\\$progid" "(Default)" "$progid Class"
  expect_value "HKCR\\$progid\\CLSID" "(Default)" "$clsid"
  expect_value "HKCR\\$progid\\CurVer" "(Default)" "$progid.2"
  expect_value "$class" "(Default)" "$progid Class"
  expect_value "$class\\ProgID" "(Default)" "$progid.2"
  expect_value "$class\\VersionIndependentProgID" "(Default)" "$progid"
  expect_key "$class\\Programmable"
  expect_value "$class\\InprocServer32" "(Default)" "$(winpath "$module")"
  expect_value "$class\\InprocServer32" "ThreadingModel" "Apartment"
  expect_value "$class\\TypeLib" "(Default)" "$libid"
  if [[ -n $class_appid ]]; then
    expect_value "$class" "AppID" "$class_appid"
  fi
  expect_key "HKCR\\TypeLib\\$libid\\2.0"
}

expect_crypto_registered() {
  local entry name clsid
  for entry in "${crypto_classes[@]}"; do
    read -r name clsid <<<"$entry"
    expect_class "Valdergast.ZELCrypto$name" "$clsid" "$crypto_libid" "$crypto_dll" "$appid"
  done
  expect_value "HKCR\\TypeLib\\$crypto_libid\\2.0" "(Default)" "ZELCrypto 2.0 Type Library"
  expect_value "HKCR\\AppID\\$appid" "(Default)" "ZELCrypto"
  expect_value "HKCR\\AppID\\zelcrypto.DLL" "AppID" "$appid"
  expect_value "HKCR\\Interface\\$misc_iid\\TypeLib" "(Default)" "$crypto_libid"
  expect_value "HKCR\\Interface\\$symmetric_iid\\TypeLib" "(Default)" "$crypto_libid"
}

expect_crypto_unregistered() {
  local key
  for key in "${crypto_keys[@]}"; do expect_no_key "$key"; done
}

expect_blob_registered() {
  expect_class Valdergast.ZELBlob "$blob_clsid" "$blob_libid" "$blob_dll"
  # The blob class has no application identity.
  if grep -Fq -- "HKCR\\CLSID\\$blob_clsid|AppID|" "$work/state"; then
    check fail "the blob class has an AppID value"
  else
    check ok "the blob class has no AppID value"
  fi
}

expect_blob_unregistered() {
  local key
  for key in "${blob_keys[@]}"; do expect_no_key "$key"; done
}

echo "== registered"
register_both || exit 1
snapshot "${crypto_keys[@]}" "${blob_keys[@]}"
expect_crypto_registered
expect_blob_registered

echo "== registering again writes the class key afresh"
run reg add "HKCR\\CLSID\\$misc_clsid\\Stale" /ve /d leftover /f || check fail "reg add"
run reg add "HKCR\\CLSID\\$misc_clsid\\Programmable" /ve /d leftover /f || check fail "reg add"
regsvr "$crypto_dll" || check fail "registering zelcrypto.dll again"
snapshot "HKCR\\CLSID\\$misc_clsid"
expect_no_key "HKCR\\CLSID\\$misc_clsid\\Stale"
expect_key "HKCR\\CLSID\\$misc_clsid\\Programmable"
if grep -Fq -- "HKCR\\CLSID\\$misc_clsid\\Programmable|" "$work/state"; then
  check fail "Programmable kept an old value"
else
  check ok "Programmable is empty"
fi
expect_value "HKCR\\CLSID\\$misc_clsid\\ProgID" "(Default)" "Valdergast.ZELCryptoMisc.2"

echo "== zelcrypto.dll unregistered"
if run regsvr32 /u /s "$crypto_dll"; then check ok "regsvr32 /u zelcrypto.dll"; else check fail "regsvr32 /u zelcrypto.dll"; fi
snapshot "${crypto_keys[@]}" "${blob_keys[@]}"
expect_crypto_unregistered
# The other DLL's registration is untouched.
expect_blob_registered
expect_root "HKCR\\CLSID"
expect_root "HKCR\\AppID"

echo "== unregistering twice"
if run regsvr32 /u /s "$crypto_dll"; then check ok "second regsvr32 /u zelcrypto.dll"; else check fail "second regsvr32 /u zelcrypto.dll"; fi

echo "== zelblob.dll unregistered"
if run regsvr32 /u /s "$blob_dll"; then check ok "regsvr32 /u zelblob.dll"; else check fail "regsvr32 /u zelblob.dll"; fi
snapshot "${blob_keys[@]}"
expect_blob_unregistered
expect_root "HKCR\\CLSID"

echo "== registered again"
register_both || check fail "registering both DLLs again"
snapshot "${crypto_keys[@]}" "${blob_keys[@]}"
expect_crypto_registered
expect_blob_registered

echo "$((checks - failures)) passed, $failures failed"
((failures == 0))
