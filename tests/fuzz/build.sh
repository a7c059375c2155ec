#!/usr/bin/env bash
# Builds the fuzz targets (every tests/fuzz/*_fuzz.cpp) with clang's
# libFuzzer, AddressSanitizer and UBSan into build/fuzz/ (not part of the
# CMake build or of ctest):
#
#   tests/fuzz/build.sh                 # all targets
#   tests/fuzz/build.sh rsa_fuzz ...    # only these
#
# Run one target at a time; the first corpus directory collects what the
# fuzzer finds, the second is the seed corpus kept in the repository
# (tests/fuzz/corpus/<target without _fuzz>):
#
#   build/fuzz/pgp_decrypt_fuzz -max_total_time=600 -jobs=1 -workers=1 \
#       build/fuzz/corpus/pgp_decrypt tests/fuzz/corpus/pgp_decrypt
#   build/fuzz/pgp_dearmor_fuzz -max_total_time=600 -jobs=1 -workers=1 \
#       build/fuzz/corpus/pgp_dearmor tests/fuzz/corpus/pgp_dearmor
#   build/fuzz/rsa_fuzz -max_total_time=600 -jobs=1 -workers=1 \
#       -timeout=10 -max_len=70000 build/fuzz/corpus/rsa tests/fuzz/corpus/rsa
#   build/fuzz/cipher_fuzz -max_total_time=600 -jobs=1 -workers=1 \
#       build/fuzz/corpus/cipher tests/fuzz/corpus/cipher
#   build/fuzz/aes_modes_fuzz -max_total_time=600 -jobs=1 -workers=1 \
#       build/fuzz/corpus/aes_modes tests/fuzz/corpus/aes_modes
#   build/fuzz/blob_fuzz -max_total_time=600 -jobs=1 -workers=1 \
#       build/fuzz/corpus/blob tests/fuzz/corpus/blob
#   build/fuzz/codec_fuzz -max_total_time=600 -jobs=1 -workers=1 \
#       build/fuzz/corpus/codec tests/fuzz/corpus/codec
#   build/fuzz/digest_fuzz -max_total_time=600 -jobs=1 -workers=1 \
#       build/fuzz/corpus/digest tests/fuzz/corpus/digest
#   build/fuzz/compression_fuzz -max_total_time=600 -jobs=1 -workers=1 \
#       build/fuzz/corpus/compression tests/fuzz/corpus/compression
#   build/fuzz/aead_fuzz -max_total_time=600 -jobs=1 -workers=1 \
#       build/fuzz/corpus/aead tests/fuzz/corpus/aead
#
# The targets:
#   pgp_decrypt_fuzz  XPgpMessage::Decrypt with the password "fuzz" (seeds:
#                     messages by XPgpMessage and GnuPG)
#   pgp_dearmor_fuzz  Dearmor and Enarmor (seeds: armors of those messages)
#   rsa_fuzz          RSA key blobs of any size, key generation, the four
#                     operations (seeds: generated keys with data and
#                     ciphertexts, blobs with oversized numbers, blocks that
#                     fail decoding).  -timeout=10: see the comment in
#                     rsa_fuzz.cpp for the measured per-input times.
#   cipher_fuzz       the five block ciphers: key records, MakeKey, ECB/CBC
#   aes_modes_fuzz    AES-GCM, AES-CBC with PKCS#7 and AES-CTR against
#                     block-by-block references
#   blob_fuzz         XBlob packing: longs and length-prefixed items
#                     inserted and extracted as the Misc object does
#   codec_fuzz        the blob component's strict hex/base64 against the
#                     engine's lenient codecs (zelblob/text_codecs.cpp is
#                     plain C++ on XBlob, no COM: it is linked in directly)
#   aead_fuzz         OCB, EAX and GCM over AES and Twofish against OpenSSL
#                     and libgcrypt (linked into this target only)
#   digest_fuzz       MD5, SHA-1, RIPEMD-160, the CRCs, S2K, seed expansion
#                     and random bytes: incremental against one-shot
#   compression_fuzz  Decompress (ZIP and ZLIB, limits from 0 up) against
#                     zlib's inflate, and Compress round trips
#
# tests/fuzz/coverage.sh measures the engine's line coverage of the corpora.
# Needs clang and libclang-rt (Debian 12: clang and libclang-rt-14-dev), and
# zlib's static library (zlib1g-dev), which the PGP layer links.
# JOBS (default 2) compilers run at a time.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
out=$root/build/fuzz
jobs=${JOBS:-2}
mkdir -p "$out/obj"

cxx=${CXX:-clang++}
flags=(-std=c++17 -g -O1 -fno-omit-frame-pointer -fsanitize=fuzzer,address,undefined
       -fno-sanitize-recover=undefined -I"$root" -Wall -Wextra)

# The engine sources the targets need: core, digests, random bytes, block
# ciphers, the PGP layer and the RSA engine.
objects=()
pending=0
for dir in core hash random cipher pgp rsa; do
  for src in "$root/$dir"/*.cpp; do
    rel=${src#"$root"/}
    obj=$out/obj/${rel//\//_}.o
    objects+=("$obj")
    if [[ ! -f $obj || $src -nt $obj ]] || find "$root/${rel%/*}" "$root/core" -name '*.h' -newer "$obj" | grep -q .; then
      # -fsanitize=fuzzer-no-link: coverage instrumentation without libFuzzer's main.
      "$cxx" "${flags[@]/-fsanitize=fuzzer,address,undefined/-fsanitize=fuzzer-no-link,address,undefined}" \
        -c "$src" -o "$obj" &
      pending=$((pending + 1))
      if ((pending >= jobs)); then
        wait -n
        pending=$((pending - 1))
      fi
    fi
  done
done
wait

if (($# > 0)); then
  targets=("$@")
else
  targets=()
  for src in "$root"/tests/fuzz/*_fuzz.cpp; do
    targets+=("$(basename "$src" .cpp)")
  done
fi

for target in "${targets[@]}"; do
  extra=()
  [[ $target == codec_fuzz ]] && extra=("$root/zelblob/text_codecs.cpp")
  [[ $target == aead_fuzz ]] && extra=(-lcrypto -lgcrypt)
  mkdir -p "$out/corpus/${target%_fuzz}"
  "$cxx" "${flags[@]}" "$root/tests/fuzz/$target.cpp" "${extra[@]}" "${objects[@]}" -l:libz.a -o "$out/$target"
  echo "built $out/$target"
done
