#!/usr/bin/env bash
# Line coverage of the engine (core hash random cipher rsa pgp) reached by the
# fuzz targets' corpora together:
#
#   tests/fuzz/coverage.sh            # every target, both corpora of each
#   tests/fuzz/coverage.sh --seeds    # only the seed corpora in tests/fuzz/corpus
#
# Builds the engine and every tests/fuzz/*_fuzz.cpp with clang's source-based
# coverage (-fprofile-instr-generate -fcoverage-mapping; libFuzzer for the
# driver, no sanitizers) into build/fuzz/coverage/, replays each target's
# corpora once (-runs=0: every input runs, nothing is mutated), merges the
# profiles and prints llvm-cov's per-file report for the engine folders,
# then lines covered per folder and in total.  The corpus of target X_fuzz is
# tests/fuzz/corpus/X (seeds) and build/fuzz/corpus/X (what fuzzing found).
# The line-by-line view of one file:
#
#   llvm-cov show build/fuzz/coverage/<target> -instr-profile \
#       build/fuzz/coverage/merged.profdata rsa/rsa.cpp
#
# (add -object build/fuzz/coverage/<other target> for each other target).
# Needs clang, libclang-rt and llvm (llvm-profdata, llvm-cov).
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
out=$root/build/fuzz/coverage
seeds_only=0
[[ ${1:-} == --seeds ]] && seeds_only=1
jobs=${JOBS:-2}

cxx=${CXX:-clang++}
profdata=${LLVM_PROFDATA:-llvm-profdata}
cov=${LLVM_COV:-llvm-cov}
flags=(-std=c++17 -g -O1 -fprofile-instr-generate -fcoverage-mapping -I"$root" -w)
engine_dirs=(core hash random cipher rsa pgp)

mkdir -p "$out/obj" "$out/profiles"
rm -f "$out"/profiles/*.profraw

# The engine, at most $jobs compilers at a time.
objects=()
pending=0
for dir in "${engine_dirs[@]}"; do
  for src in "$root/$dir"/*.cpp; do
    rel=${src#"$root"/}
    obj=$out/obj/${rel//\//_}.o
    objects+=("$obj")
    if [[ ! -f $obj || $src -nt $obj ]] || find "$root/$dir" "$root/core" -name '*.h' -newer "$obj" | grep -q .; then
      "$cxx" "${flags[@]}" -fsanitize=fuzzer-no-link -c "$src" -o "$obj" &
      pending=$((pending + 1))
      if ((pending >= jobs)); then
        wait -n
        pending=$((pending - 1))
      fi
    fi
  done
done
wait

targets=()
for src in "$root"/tests/fuzz/*_fuzz.cpp; do
  name=$(basename "$src" .cpp)
  extra=()
  # The blob target also covers the blob component's text codecs.
  [[ $name == codec_fuzz ]] && extra=("$root/zelblob/text_codecs.cpp")
  "$cxx" "${flags[@]}" -fsanitize=fuzzer "$src" "${extra[@]}" "${objects[@]}" -o "$out/$name"
  targets+=("$name")
done

for name in "${targets[@]}"; do
  corpus=${name%_fuzz}
  dirs=("$root/tests/fuzz/corpus/$corpus")
  if ((!seeds_only)) && [[ -d $root/build/fuzz/corpus/$corpus ]]; then
    dirs+=("$root/build/fuzz/corpus/$corpus")
  fi
  echo "replaying $name: ${dirs[*]}"
  # A generous time limit: the replay is not the place to find slow inputs.
  LLVM_PROFILE_FILE="$out/profiles/$name-%p.profraw" \
    "$out/$name" -runs=0 -timeout=600 -rss_limit_mb=4096 "${dirs[@]}" 2>"$out/$name.replay.log" ||
    { echo "replay of $name failed, see $out/$name.replay.log" >&2; exit 1; }
done

"$profdata" merge -sparse "$out"/profiles/*.profraw -o "$out/merged.profdata"

binaries=()
for name in "${targets[@]}"; do
  [[ ${#binaries[@]} -eq 0 ]] && binaries+=("$out/$name") || binaries+=(-object "$out/$name")
done
sources=()
for dir in "${engine_dirs[@]}"; do sources+=("$root/$dir"); done

"$cov" report "${binaries[@]}" -instr-profile "$out/merged.profdata" "${sources[@]}" | tee "$out/report.txt"

# Lines per folder from the per-file rows (columns 8 and 9: lines, missed lines).
echo
awk -v root="$root/" '
  $1 ~ /\.(cpp|h)$/ && NF >= 10 {
    path = $1; sub(root, "", path); split(path, part, "/"); dir = part[1]
    lines[dir] += $8; missed[dir] += $9; total += $8; totalMissed += $9
  }
  END {
    for (d in lines)
      printf "%-8s %6d lines %6d missed %6.2f%%\n", d, lines[d], missed[d], 100 * (lines[d] - missed[d]) / lines[d]
    printf "%-8s %6d lines %6d missed %6.2f%%\n", "total", total, totalMissed, 100 * (total - totalMissed) / total
  }' "$out/report.txt" | sort | tee "$out/summary.txt"
