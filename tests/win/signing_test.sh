#!/usr/bin/env bash
# signing_test.sh <win32 build tree> <win64 build tree> <work dir>
#
# tools/release with a throwaway self-signed code-signing certificate in
# ZEL_SIGN_CERT and ZEL_SIGN_KEY: both DLLs in both archives and both
# installer packages carry a signature that osslsigncode verifies against
# that certificate, and not against another one; the installed DLLs of the
# x64 package are the signed ones.  Without the variables nothing is signed.
# Exit status 77 (skipped) when a build tree lacks its DLLs.
set -u

tree32=$(realpath -m "$1") tree64=$(realpath -m "$2") work=$(realpath -m "$3")
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
for tree in "$tree32" "$tree64"; do
  for dll in zelcrypto.dll zelblob.dll; do
    if [[ ! -f $tree/bin/$dll ]]; then
      echo "SKIP: $tree/bin/$dll is missing; build the win32 and win64 presets first"
      exit 77
    fi
  done
done

failures=0
checks=0
check() {
  checks=$((checks + 1))
  if [[ $1 == ok ]]; then echo "ok   $2"; else echo "FAIL $2"; failures=$((failures + 1)); fi
}

rm -rf "$work"
mkdir -p "$work"
trap '((failures == 0)) && rm -rf "$work"' EXIT

# A throwaway signer and a stranger whose certificate must not vouch for it.
for who in signer stranger; do
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/$who.key" -out "$work/$who.pem" -days 2 \
    -subj "/CN=ZELCrypto test $who/O=Valdergast" -addext "extendedKeyUsage=codeSigning" \
    -addext "keyUsage=digitalSignature" 2>"$work/openssl.log" || { cat "$work/openssl.log"; exit 1; }
done

verify() { osslsigncode verify -CAfile "$2" -in "$1" >"$work/verify.log" 2>&1; }

# verify_all <dir of the release> <signed|unsigned>
verify_all() {
  local dist=$1 expect=$2 file
  local files=()
  for zip in "$dist"/*.zip; do
    mkdir -p "$dist/unzipped"
    (cd "$dist/unzipped" && python3 -m zipfile -e "$zip" .)
  done
  while IFS= read -r file; do files+=("$file"); done < <(find "$dist" -name '*.dll' -o -name '*.msi' | sort)
  (( ${#files[@]} == 6 )) && check ok "$expect release: four DLLs and two packages" ||
    check fail "$expect release holds ${#files[@]} DLLs and packages: ${files[*]}"
  for file in "${files[@]}"; do
    local name=${file#"$dist/"}
    if [[ $expect == signed ]]; then
      if verify "$file" "$work/signer.pem"; then check ok "$name: signature verified"
      else check fail "$name: signature not verified: $(tail -n 3 "$work/verify.log" | tr '\n' ' ')"; fi
      if verify "$file" "$work/stranger.pem"; then check fail "$name: another certificate vouches for it"
      else check ok "$name: another certificate does not vouch for it"; fi
    else
      if verify "$file" "$work/signer.pem"; then check fail "$name: signed without a certificate given"
      else check ok "$name: not signed"; fi
    fi
  done
}

release() {
  local out=$1
  shift
  "$@" "$root/tools/release" --no-build --win32-build "$tree32" --win64-build "$tree64" --out "$out" all \
    >"$work/release.log" 2>&1 || { cat "$work/release.log"; check fail "tools/release $out"; return 1; }
}

echo "== signed"
if release "$work/signed" env ZEL_SIGN_CERT="$work/signer.pem" ZEL_SIGN_KEY="$work/signer.key"; then
  verify_all "$work/signed" signed
  # The signature covers the DLLs the package installs, not copies of the build tree's.
  msiextract -C "$work/signed/extracted" "$work/signed"/*-x64.msi >/dev/null 2>&1
  count=0
  while IFS= read -r dll; do
    count=$((count + 1))
    if verify "$dll" "$work/signer.pem"; then check ok "x64 package installs a signed ${dll#"$work/signed/extracted/"}"
    else check fail "x64 package installs an unsigned ${dll#"$work/signed/extracted/"}"; fi
  done < <(find "$work/signed/extracted" -name '*.dll')
  ((count == 4)) && check ok "x64 package holds four DLLs" || check fail "x64 package holds $count DLLs"
fi

echo "== a certificate without its key"
if ZEL_SIGN_CERT="$work/signer.pem" "$root/tools/release" --no-build --win32-build "$tree32" \
     --win64-build "$tree64" --out "$work/half" all >"$work/half.log" 2>&1; then
  check fail "tools/release runs with a certificate and no key"
else
  check ok "tools/release refuses a certificate without a key: $(tail -n 1 "$work/half.log")"
fi

echo "== unsigned (the default)"
if release "$work/unsigned" env -u ZEL_SIGN_CERT -u ZEL_SIGN_KEY; then
  verify_all "$work/unsigned" unsigned
fi

echo "$((checks - failures)) passed, $failures failed"
((failures == 0))
