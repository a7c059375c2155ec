#!/usr/bin/env bash
# Builds the PGP and RSA fuzz targets with clang's libFuzzer, AddressSanitizer
# and UBSan into build/fuzz/ (not part of the CMake build or of ctest):
#
#   tests/fuzz/build.sh
#   build/fuzz/pgp_decrypt_fuzz -max_total_time=600 -jobs=1 -workers=1 \
#       build/fuzz/corpus/pgp_decrypt tests/fuzz/corpus/pgp_decrypt
#   build/fuzz/pgp_dearmor_fuzz -max_total_time=600 -jobs=1 -workers=1 \
#       build/fuzz/corpus/pgp_dearmor tests/fuzz/corpus/pgp_dearmor
#   build/fuzz/rsa_fuzz -max_total_time=600 -jobs=1 -workers=1 \
#       build/fuzz/corpus/rsa tests/fuzz/corpus/rsa
#
# The first corpus directory collects what the fuzzer finds; the second is
# the seed corpus kept in the repository (messages written by XPgpMessage and
# by GnuPG with the password "fuzz", armors of both; for RSA, key blobs of
# generated keys with data and ciphertexts, and seed pairs for key
# generation).  Needs clang and libclang-rt (Debian 12: clang and
# libclang-rt-14-dev).
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
out=$root/build/fuzz
mkdir -p "$out/obj" "$out/corpus/pgp_decrypt" "$out/corpus/pgp_dearmor" "$out/corpus/rsa"

cxx=${CXX:-clang++}
flags=(-std=c++17 -g -O1 -fno-omit-frame-pointer -fsanitize=fuzzer,address,undefined
       -fno-sanitize-recover=undefined -I"$root" -Wall -Wextra)

# The engine sources the targets need: core, digests, random bytes, block
# ciphers, the PGP layer and the RSA engine.
sources=()
for dir in core hash random cipher pgp rsa; do
  for f in "$root/$dir"/*.cpp; do
    sources+=("$f")
  done
done

objects=()
for src in "${sources[@]}"; do
  rel=${src#"$root"/}
  obj=$out/obj/${rel//\//_}.o
  if [[ ! -f $obj || $src -nt $obj ]] || find "$root/${rel%/*}" "$root/core" -name '*.h' -newer "$obj" | grep -q .; then
    # -fsanitize=fuzzer-no-link: coverage instrumentation without libFuzzer's main.
    "$cxx" "${flags[@]/-fsanitize=fuzzer,address,undefined/-fsanitize=fuzzer-no-link,address,undefined}" \
      -c "$src" -o "$obj"
  fi
  objects+=("$obj")
done

for target in pgp_decrypt_fuzz pgp_dearmor_fuzz rsa_fuzz; do
  "$cxx" "${flags[@]}" "$root/tests/fuzz/$target.cpp" "${objects[@]}" -o "$out/$target"
  echo "built $out/$target"
done
