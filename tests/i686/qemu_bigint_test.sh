#!/usr/bin/env bash
# The big-integer tests built for i686 Linux and run under qemu-i386: the
# engine's real 32-bit code (XBigInt with 32-bit limbs, the SSE2 and AVX2
# kernels compiled for i686 with their stack realignment), which a machine
# whose kernel runs no 32-bit programs cannot run otherwise.  For
# correctness only: emulated timing means nothing.
#
#   tests/i686/qemu_bigint_test.sh <source dir> <work dir> [gtest flags]
#
# Builds (with make, incrementally, in <work dir>) the engine's core, hash,
# random and rsa sources, GoogleTest from /usr/src/googletest, and the
# bigint and narrow-kernel test files, with i686-linux-gnu-g++ against the
# i386 GMP and OpenSSL; runs them with every CPU feature qemu emulates.
# Exit status 77 (skipped) when the cross compiler, qemu-user or the i386
# libraries are missing (tools/deps installs them).
set -euo pipefail

src=$(cd "${1:?source dir}" && pwd)
work=${2:?work dir}
shift 2

cxx=i686-linux-gnu-g++
missing=()
command -v "$cxx" >/dev/null || missing+=("$cxx (g++-i686-linux-gnu)")
command -v qemu-i386 >/dev/null || missing+=("qemu-i386 (qemu-user)")
[[ -e /usr/include/i386-linux-gnu/gmp.h && -e /usr/lib/i386-linux-gnu/libgmp.so ]] || missing+=("libgmp-dev:i386")
[[ -e /usr/include/i386-linux-gnu/openssl/opensslconf.h && -e /usr/lib/i386-linux-gnu/libcrypto.so ]] ||
  missing+=("libssl-dev:i386")
[[ -e /usr/src/googletest/googletest/src/gtest-all.cc ]] || missing+=("googletest sources")
if [[ ${#missing[@]} -gt 0 ]]; then
  echo "skipped: missing ${missing[*]}"
  exit 77
fi

mkdir -p "$work"
gtest=/usr/src/googletest/googletest
sources=(
  "$src"/core/*.cpp "$src"/hash/*.cpp "$src"/random/random.cpp "$src"/random/entropy_posix.cpp "$src"/rsa/*.cpp
  "$src"/tests/native/bigint_test.cpp "$src"/tests/native/bigint_kernel_test.cpp
  "$src"/tests/native/bigint_narrow_kernel_test.cpp
  "$gtest"/src/gtest-all.cc "$gtest"/src/gtest_main.cc
)

# One object per source, named after its path; make rebuilds what changed
# (headers included, through the compiler's dependency files).
{
  echo "CXX := $cxx"
  echo "CXXFLAGS := -std=c++17 -O2 -pthread -I$src -I$gtest -I$gtest/include -MMD -MP"
  echo "objects :="
  for s in "${sources[@]}"; do
    o=${s#"$src"/}
    o=${o#/usr/src/}
    o=obj/${o//\//_}.o
    echo "objects += $o"
    echo "$o: $s"
    printf '\t@mkdir -p obj && $(CXX) $(CXXFLAGS) -c $< -o $@\n'
  done
  echo "bigint_tests: \$(objects)"
  printf '\t$(CXX) -pthread -o $@ $^ -lgmp -lcrypto\n'
  echo "-include \$(objects:.o=.d)"
} > "$work/Makefile"

make -s -C "$work" -j2 bigint_tests

# -cpu max: SSE2 and AVX2 both present, so the tests run every kernel.
# Emulated vector instructions are slow: the powers at every limb count with
# every kernel (minutes here) stay with the native run; the products at
# every length, the carries, the engine's powers with the default kernel and
# the RSA operations with each kernel run here.
exec qemu-i386 -cpu max -L /usr/i686-linux-gnu "$work/bigint_tests" \
  --gtest_filter=-BigIntNarrowKernel.PowersMatchGmpWithEachKernel "$@"
