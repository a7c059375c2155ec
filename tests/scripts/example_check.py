#!/usr/bin/python3
"""Runs an example script and compares everything it prints with the lines
it must print, and its exit status with 0.

    example_check.py <script> <expected output> <zelwine command...>

The expected output was checked by hand against independent tools when it
was written (the HMAC against `openssl dgst -hmac`, the GCM message against
Python's cryptography); the examples print nothing random.
"""

import subprocess
import sys


def main():
    script, expected_path, zelwine = sys.argv[1], sys.argv[2], sys.argv[3:]
    result = subprocess.run(zelwine + ["script", script], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True)
    with open(expected_path, encoding="utf-8") as f:
        expected = f.read().splitlines()
    got = result.stdout.splitlines()
    failures = 0
    if result.returncode != 0:
        failures += 1
        print(f"FAIL: exit status {result.returncode}; stderr: {result.stderr.strip()}")
    for i in range(max(len(got), len(expected))):
        g = got[i] if i < len(got) else "<nothing>"
        e = expected[i] if i < len(expected) else "<nothing>"
        if g != e:
            failures += 1
            print(f"FAIL: line {i + 1}: got {g!r}, expected {e!r}")
    print(f"{len(expected) - min(failures, len(expected))} lines as expected, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
