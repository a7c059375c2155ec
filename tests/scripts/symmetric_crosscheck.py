#!/usr/bin/python3
"""Random keys and messages through the five cipher objects, checked against
independent implementations.

For each class this draws key material, val, the Filler used when the key is
made, the Filler used to pad messages, the mode (1 or 2) and two messages of
random length.  It works out the key record and both ciphertexts (the second
message continues the chain of the first on the same object) with
pycryptodome's block ciphers and, for Twofish, nettle's, writes them to a data
file and runs symmetric_crosscheck.js in the Wine prefix, which makes the same
calls on the objects and compares.

    symmetric_crosscheck.py [--seed N] [--cases N] <harness.js> <zelwine command...>

The zelwine command is the prefix that selects the preset and build tree, for
instance `tools/zelwine --build build/win32 win32`.  The seed is printed, so
that a failing run can be repeated.
"""

import argparse
import ctypes
import ctypes.util
import os
import random
import struct
import subprocess
import sys
import tempfile

# The shared JScript checks, appended to the harness as to every JScript suite.
CHECKS = os.path.join(os.path.dirname(os.path.realpath(__file__)), "checks.js")

try:
    from Cryptodome.Cipher import AES, CAST, DES, Blowfish  # Debian's python3-pycryptodome
except ImportError:
    from Crypto.Cipher import AES, CAST, DES, Blowfish  # pycryptodome from pip


class NettleTwofish:
    """Twofish block encryption from libnettle."""

    def __init__(self):
        name = ctypes.util.find_library("nettle") or "libnettle.so.8"
        self.lib = ctypes.CDLL(name)
        self.lib.nettle_twofish_set_key.argtypes = [ctypes.c_void_p, ctypes.c_size_t, ctypes.c_char_p]
        self.lib.nettle_twofish_encrypt.argtypes = [ctypes.c_void_p, ctypes.c_size_t, ctypes.c_char_p,
                                                    ctypes.c_char_p]

    def encryptor(self, key):
        # struct twofish_ctx is 40 + 4 * 256 words; give it room to spare.
        ctx = ctypes.create_string_buffer(8192)
        self.lib.nettle_twofish_set_key(ctx, len(key), key)

        def encrypt(block):
            out = ctypes.create_string_buffer(16)
            self.lib.nettle_twofish_encrypt(ctx, 16, out, block)
            return out.raw

        return encrypt


twofish = NettleTwofish()


def be32(n):
    return struct.pack(">I", n)


def padded(material, length, filler):
    """The key an object makes: the first bytes of the material, then Filler."""
    key = material[:length]
    return key + bytes([filler]) * (length - len(key))


# Per class: ProgID suffix, block size, and a function from (material, val as
# an unsigned number, key filler) to (key record, block encryption function).

def aes_key(material, val, filler):
    length = 16 if val < 24 else 24 if val < 32 else 32
    key = padded(material, length, filler)
    rounds = {16: 10, 24: 12, 32: 14}[length]
    return be32(rounds) + key, AES.new(key, AES.MODE_ECB).encrypt


def twofish_key(material, val, filler):
    length = 16 if val <= 16 else 24 if val <= 24 else 32
    key = padded(material, length, filler)
    return be32(length // 8) + key, twofish.encryptor(key)


def blowfish_key(material, val, filler):
    length = 8 if val <= 8 else 56 if val >= 56 else val
    key = padded(material, length, filler)
    return be32(length) + key, Blowfish.new(key, Blowfish.MODE_ECB).encrypt


def cast_key(material, val, filler):
    key = padded(material, 16, filler)
    if len(material) > 10:
        # Full CAST-128 with a 16-byte key.
        return be32(16) + key, CAST.new(key, CAST.MODE_ECB).encrypt
    # 80 bits or fewer: 12 rounds over the zero-padded key, which is what the
    # library does with the short key itself (it needs at least 5 bytes).
    assert filler == 0
    short = material + bytes(max(0, 5 - len(material)))
    return be32(12) + key, CAST.new(short, CAST.MODE_ECB).encrypt


def triple_des_key(material, val, filler):
    key = padded(material, 24, filler)
    k1, k2, k3 = (DES.new(key[i:i + 8], DES.MODE_ECB) for i in (0, 8, 16))
    return key, lambda block: k3.encrypt(k2.decrypt(k1.encrypt(block)))


CLASSES = [
    ("AES", 16, aes_key, [0, 16, 23, 24, 31, 32, 128, -1]),
    ("Twofish", 16, twofish_key, [0, 16, 17, 24, 25, 32, 256, -1]),
    ("Blowfish", 8, blowfish_key, [0, 8, 9, 13, 32, 55, 56, 57, -1]),
    ("Cast", 8, cast_key, [0, 16, -1]),
    ("TripleDES", 8, triple_des_key, [0, 24, -1]),
]


def encrypt(block_encrypt, block_size, mode, filler, chain, data):
    """Whole-message encryption from a chaining block; returns the ciphertext
    and the chaining block it leaves."""
    if len(data) % block_size:
        data += bytes([filler]) * (block_size - len(data) % block_size)
    out = b""
    for i in range(0, len(data), block_size):
        block = data[i:i + block_size]
        if mode == 2:
            block = bytes(a ^ b for a, b in zip(block, chain))
        chain = block_encrypt(block)
        out += chain
    return out, chain


def field(data):
    return data.hex() if data else "-"


def make_cases(rng, count):
    lines = []
    for name, block_size, make_key, vals in CLASSES:
        for _ in range(count):
            mode = rng.choice([1, 2])
            material = rng.randbytes(rng.choice([0, 1, 5, 10, 11, 15, 16, 23, 24, 31, 32, 40, 56, 60]
                                                + [rng.randrange(61)] * 4))
            val = rng.choice(vals + [rng.randrange(-3, 70)] * 3 + [rng.randrange(-2**31, 2**31)])
            key_filler = rng.randrange(256)
            if name == "Cast" and len(material) <= 10:
                key_filler = 0
            message_filler = rng.randrange(256)
            record, block_encrypt = make_key(material, val & 0xFFFFFFFF, key_filler)
            first = rng.randbytes(rng.randrange(5 * block_size))
            second = rng.randbytes(rng.randrange(3 * block_size))
            chain = bytes(block_size)
            c1, chain = encrypt(block_encrypt, block_size, mode, message_filler, chain, first)
            c2, chain = encrypt(block_encrypt, block_size, mode, message_filler, chain, second)
            lines.append(" ".join([name, str(mode), str(key_filler), str(message_filler), str(val),
                                   field(material), field(record), field(first), field(c1),
                                   field(second), field(c2)]))
    return lines


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("--cases", type=int, default=100, help="cases per class")
    parser.add_argument("harness")
    parser.add_argument("zelwine", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    if not args.zelwine:
        parser.error("the zelwine command is missing")

    seed = args.seed if args.seed is not None else int.from_bytes(os.urandom(4), "big")
    print(f"seed {seed}", flush=True)
    lines = make_cases(random.Random(seed), args.cases)

    with tempfile.TemporaryDirectory() as folder:
        data = os.path.join(folder, "cases.txt")
        with open(data, "w", newline="\r\n") as out:
            out.write(f"cases {len(lines)}\n")
            for line in lines:
                out.write(line + "\n")
        # The script host takes the file as a Windows path; Z: is the Unix root.
        windows_path = "Z:" + os.path.realpath(data).replace("/", "\\")
        command = args.zelwine + ["script", "--check", "--append", CHECKS, os.path.realpath(args.harness), windows_path]
        result = subprocess.run(command, stdin=subprocess.DEVNULL)
    if result.returncode:
        print(f"failed with seed {seed}", flush=True)
    return result.returncode


if __name__ == "__main__":
    sys.exit(main())
