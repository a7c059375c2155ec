# Sourced by the registration tests: the identifiers of both DLLs, the table
# of the classes, and checks of registry keys read back with reg.exe.
#
# The sourcing script defines
#   work            a scratch directory
#   run PROGRAM...  runs a Windows program with its output in $work/out
# and may set `reg` to the reg.exe to read with (default: reg, the one of the
# prefix's own bitness).

crypto_libid='{7FF98D43-0E10-45F5-A238-34CEF2F627B1}'
appid='{BADEE840-3BEB-4D0F-A2EB-AA475BEAE432}'
blob_clsid='{ACD34106-BFF9-47DF-9AD5-DF90B97CF21B}'
blob_libid='{4B60DB94-0496-4ACD-A19D-0FF77D1DFF81}'
blob_iid='{FCD153FE-74BF-4510-A6EA-05DFFA14ED9D}'
blob_iid2='{78C219C4-2B45-429E-9D2F-83D0BB6A77E5}'
blob_iids=("$blob_iid" "$blob_iid2")

misc_iid='{6AB60B2D-1771-4E56-BA4D-73EF0E824FE5}'
rsa_iid='{14EDECF0-9117-4F2A-9A20-9DF9890B5E42}'
symmetric_iid='{99088A16-4D5F-454B-8662-57597FD04AD9}'
pgp_iid='{B77E5FC5-D464-4470-B725-412C314F593A}'
hash_iid='{4C0E3B52-8F61-4E0B-9D7A-2B5F6C1D8E93}'
cipher_iid='{9E2A7C41-3B6D-4F58-A1E0-7D4C2B9F6A15}'
crypto_iids=("$misc_iid" "$rsa_iid" "$symmetric_iid" "$pgp_iid" "$hash_iid" "$cipher_iid")

# Every class of zelcrypto.dll: ProgID name, class identifier and the version
# its version-dependent ProgID carries.
crypto_classes=("Misc {BA26813D-A760-441E-A97C-F0E679B82657} 2"
                "RSA {15597B3D-46B9-474B-8BB5-FC18CEBE54A0} 2"
                "AES {F019925F-152F-48A9-B6B8-DC6002684634} 2"
                "Twofish {127A5770-3CCA-42AB-8AFE-597AA037C460} 2"
                "Blowfish {46C78017-45C5-46AA-9554-5CB1626B0848} 2"
                "Cast {E950D390-1EAA-4548-B5CA-FC4A89F02B99} 2"
                "TripleDES {93645905-EAFE-4129-8CD9-2BB209B5C63C} 2"
                "PGP {0DB3CE0B-BA8E-4911-B180-5E2A595DBA52} 2"
                "Hash {D3B7A1E6-5C2F-4A98-8E41-6F0B9C2D7E54} 1"
                "Cipher {2F8C5D19-7A4E-4B63-9C0D-E1A6B3F85C27} 1")
misc_clsid='{BA26813D-A760-441E-A97C-F0E679B82657}'

failures=0
checks=0
reg=${reg:-reg}

winpath() { local p=$1; printf 'Z:%s' "${p//\//\\}"; }

check() {
  checks=$((checks + 1))
  if [[ $1 == ok ]]; then
    echo "ok   $2"
  else
    echo "FAIL $2"
    failures=$((failures + 1))
  fi
}

# The keys under HKCR that registering zelcrypto.dll writes (class keys,
# ProgIDs, application identity, type library, interfaces), and zelblob.dll's.
crypto_keys=("HKCR\\AppID\\$appid" "HKCR\\AppID\\zelcrypto.DLL" "HKCR\\TypeLib\\$crypto_libid")
for iid in "${crypto_iids[@]}"; do crypto_keys+=("HKCR\\Interface\\$iid"); done
for entry in "${crypto_classes[@]}"; do
  read -r name clsid version <<<"$entry"
  crypto_keys+=("HKCR\\Valdergast.ZELCrypto$name.$version" "HKCR\\Valdergast.ZELCrypto$name" "HKCR\\CLSID\\$clsid")
done
blob_keys=("HKCR\\Valdergast.ZELBlob.2" "HKCR\\Valdergast.ZELBlob" "HKCR\\CLSID\\$blob_clsid"
           "HKCR\\TypeLib\\$blob_libid")
for iid in "${blob_iids[@]}"; do blob_keys+=("HKCR\\Interface\\$iid"); done

# snapshot KEY...: the keys and values below each KEY, as seen by $reg, as lines
#   <key>
#   <key>|<value name>|<data>
# with "(Default)" naming the default value.
snapshot() {
  : >"$work/state"
  local key
  for key in "$@"; do
    run "$reg" query "$key" /s || continue
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
expect_root() { if run "$reg" query "$1"; then check ok "key $1 kept"; else check fail "key $1 is gone"; fi; }
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
expect_no_value() {
  if grep -Fq -- "$1|$2|" "$work/state"; then check fail "$1 has a value $2"; else check ok "$1 has no value $2"; fi
}

# The two ProgIDs of a class (name without version).
expect_progids() {
  local progid=$1 clsid=$2 version=${3:-2}
  expect_value "HKCR\\$progid.$version" "(Default)" "$progid Class"
  expect_value "HKCR\\$progid.$version\\CLSID" "(Default)" "$clsid"
  expect_value "HKCR\\$progid" "(Default)" "$progid Class"
  expect_value "HKCR\\$progid\\CLSID" "(Default)" "$clsid"
  expect_value "HKCR\\$progid\\CurVer" "(Default)" "$progid.$version"
}

# The class key; `appid` empty for a class without application identity.
expect_class_key() {
  local progid=$1 clsid=$2 libid=$3 module=$4 class_appid=$5 version=${6:-2}
  local class="HKCR\\CLSID\\$clsid"
  expect_value "$class" "(Default)" "$progid Class"
  expect_value "$class\\ProgID" "(Default)" "$progid.$version"
  expect_value "$class\\VersionIndependentProgID" "(Default)" "$progid"
  expect_key "$class\\Programmable"
  expect_no_value "$class\\Programmable" "(Default)"
  expect_value "$class\\InprocServer32" "(Default)" "$(winpath "$module")"
  expect_value "$class\\InprocServer32" "ThreadingModel" "Apartment"
  expect_value "$class\\TypeLib" "(Default)" "$libid"
  if [[ -n $class_appid ]]; then
    expect_value "$class" "AppID" "$class_appid"
  else
    expect_no_value "$class" "AppID"
  fi
}

# A type library registered as version 2.0, locale 1033 (key 409), for a
# platform (win32 or win64) by a module.
expect_typelib() {
  local libid=$1 helpstring=$2 platform=$3 module=$4
  expect_value "HKCR\\TypeLib\\$libid\\2.0" "(Default)" "$helpstring"
  expect_value "HKCR\\TypeLib\\$libid\\2.0\\409\\$platform" "(Default)" "$(winpath "$module")"
}

expect_appid() {
  expect_value "HKCR\\AppID\\$appid" "(Default)" "ZELCrypto"
  expect_value "HKCR\\AppID\\zelcrypto.DLL" "AppID" "$appid"
}

# Everything zelcrypto.dll registers, for one module in the view being read.
expect_crypto_registered() {
  local module=$1 platform=$2 entry name clsid version iid
  for entry in "${crypto_classes[@]}"; do
    read -r name clsid version <<<"$entry"
    expect_progids "Valdergast.ZELCrypto$name" "$clsid" "$version"
    expect_class_key "Valdergast.ZELCrypto$name" "$clsid" "$crypto_libid" "$module" "$appid" "$version"
  done
  expect_typelib "$crypto_libid" "ZELCrypto 2.0 Type Library" "$platform" "$module"
  expect_appid
  for iid in "${crypto_iids[@]}"; do
    expect_value "HKCR\\Interface\\$iid\\TypeLib" "(Default)" "$crypto_libid"
  done
}

expect_blob_registered() {
  local module=$1 platform=$2
  expect_progids Valdergast.ZELBlob "$blob_clsid"
  expect_class_key Valdergast.ZELBlob "$blob_clsid" "$blob_libid" "$module" ""
  expect_typelib "$blob_libid" "ZELBlob 2.0 Type Library" "$platform" "$module"
  local iid
  for iid in "${blob_iids[@]}"; do
    expect_value "HKCR\\Interface\\$iid\\TypeLib" "(Default)" "$blob_libid"
  done
}

expect_crypto_unregistered() {
  local key
  for key in "${crypto_keys[@]}"; do expect_no_key "$key"; done
}

expect_blob_unregistered() {
  local key
  for key in "${blob_keys[@]}"; do expect_no_key "$key"; done
}
