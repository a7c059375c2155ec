#!/usr/bin/python3
"""Random cases through the Hash and Cipher objects, checked against
independent implementations, in both directions.

Python's hashlib and hmac give the digests, HMACs and PBKDF2 keys; the
`cryptography` package gives HKDF and AES in GCM (any IV length, tags cut to
12..16 bytes), CBC (PKCS#7 or none) and CTR; the openssl command writes
password files (`openssl enc -pbkdf2`).  The cases go to a data file that
hash_cipher_crosscheck.js runs through the objects in the Wine prefix.  The
harness also writes password files of its own with EncryptPassword, which
`openssl enc -d` must open to the same plaintext.

    hash_cipher_crosscheck.py [--seed N] [--cases N] <harness.js> <zelwine command...>

The seed is printed, so that a failing run can be repeated.
"""

import argparse
import hashlib
import hmac
import os
import random
import subprocess
import sys
import tempfile

from cryptography.hazmat.primitives import hashes, padding
from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes
from cryptography.hazmat.primitives.kdf.hkdf import HKDF

CHECKS = os.path.join(os.path.dirname(os.path.realpath(__file__)), "checks.js")

# The object's names and hashlib's.
HASHES = {"MD5": "md5", "SHA1": "sha1", "RIPEMD160": "ripemd160", "SHA224": "sha224", "SHA256": "sha256",
          "SHA384": "sha384", "SHA512": "sha512", "SHA512/256": "sha512_256", "SHA3-256": "sha3_256",
          "SHA3-512": "sha3_512"}
HKDF_HASHES = {"SHA1": hashes.SHA1, "SHA224": hashes.SHA224, "SHA256": hashes.SHA256, "SHA384": hashes.SHA384,
               "SHA512": hashes.SHA512, "SHA512/256": hashes.SHA512_256, "SHA3-256": hashes.SHA3_256,
               "SHA3-512": hashes.SHA3_512, "MD5": hashes.MD5}


def field(data):
    return data.hex() if data else "-"


def lengths(rng, limit):
    return rng.choice([0, 1, 15, 16, 17, 63, 64, 65, 127, 128, 129, rng.randrange(limit), rng.randrange(limit)])


def hash_cases(rng, count):
    lines = []
    for name, py in HASHES.items():
        for _ in range(count):
            data = rng.randbytes(lengths(rng, 3000))
            digest = hashlib.new(py, data).digest()
            # The same data fed to Update in random pieces.
            cuts = sorted(rng.randrange(len(data) + 1) for _ in range(rng.randrange(4)))
            pieces = [data[a:b] for a, b in zip([0] + cuts, cuts + [len(data)])]
            lines.append(f"hash {name} {field(data)} {','.join(field(p) for p in pieces)} {digest.hex()}")
            key = rng.randbytes(rng.choice([0, 1, 20, 64, 128, 129, 200, rng.randrange(300)]))
            mac = hmac.new(key, data, py).digest()
            lines.append(f"hmac {name} {field(key)} {field(data)} {mac.hex()}")
            password, salt = rng.randbytes(rng.randrange(40)), rng.randbytes(rng.randrange(1, 33))
            iterations, length = rng.choice([1, 2, rng.randrange(1, 3000)]), rng.randrange(1, 150)
            derived = hashlib.pbkdf2_hmac(py, password, salt, iterations, length)
            lines.append(f"pbkdf2 {name} {field(password)} {field(salt)} {iterations} {length} {derived.hex()}")
            if name in HKDF_HASHES:
                ikm, salt, info = rng.randbytes(rng.randrange(1, 80)), rng.randbytes(rng.randrange(60)), \
                    rng.randbytes(rng.randrange(60))
                size = hashlib.new(py).digest_size
                length = rng.choice([1, size, size + 1, rng.randrange(1, 255 * size + 1)])
                okm = HKDF(HKDF_HASHES[name](), length, salt or None, info).derive(ikm)
                lines.append(f"hkdf {name} {field(ikm)} {field(salt)} {field(info)} {length} {okm.hex()}")
    return lines


def aes(mode, key, iv, data, encrypt=True):
    cipher = Cipher(algorithms.AES(key), mode(iv))
    op = cipher.encryptor() if encrypt else cipher.decryptor()
    return op.update(data) + op.finalize()


def cipher_cases(rng, count):
    lines = []
    for bits in (128, 192, 256):
        for _ in range(count):
            key = rng.randbytes(bits // 8)
            plain = rng.randbytes(lengths(rng, 2000))
            # GCM: IVs of 8 to 64 bytes (the oracle takes no shorter ones), tags
            # cut to 12..16 bytes.
            iv = rng.randbytes(rng.choice([12, 12, 8, 16, 8 + rng.randrange(57)]))
            aad = rng.randbytes(rng.choice([0, 0, 1, 13, rng.randrange(100)]))
            tag_length = rng.choice([16, 16, 12, 13, 14, 15])
            encryptor = Cipher(algorithms.AES(key), modes.GCM(iv)).encryptor()
            encryptor.authenticate_additional_data(aad)
            sealed = encryptor.update(plain) + encryptor.finalize() + encryptor.tag[:tag_length]
            lines.append(f"gcm AES-{bits}-GCM {key.hex()} {iv.hex()} {field(aad)} {tag_length} {field(plain)} "
                         f"{field(sealed)}")
            iv = rng.randbytes(16)
            padder = padding.PKCS7(128).padder()
            padded = padder.update(plain) + padder.finalize()
            lines.append(f"cbc AES-{bits}-CBC PKCS7 {key.hex()} {iv.hex()} {field(plain)} "
                         f"{field(aes(modes.CBC, key, iv, padded))}")
            whole = plain[:len(plain) // 16 * 16]
            lines.append(f"cbc AES-{bits}-CBC None {key.hex()} {iv.hex()} {field(whole)} "
                         f"{field(aes(modes.CBC, key, iv, whole))}")
            # CTR from a counter near the ends of its low 32 and 64 bits.
            iv = rng.choice([rng.randbytes(16), rng.randbytes(12) + b"\xff\xff\xff\xfe",
                             rng.randbytes(8) + b"\xff" * 8])
            lines.append(f"ctr AES-{bits}-CTR {key.hex()} {iv.hex()} {field(plain)} "
                         f"{field(aes(modes.CTR, key, iv, plain))}")
    return lines


def openssl_enc(args, data, password, folder):
    pass_file = os.path.join(folder, "pass.txt")
    with open(pass_file, "wb") as f:
        f.write(password + b"\n")
    result = subprocess.run(["openssl", "enc", *args, "-pbkdf2", "-pass", "file:" + pass_file],
                            input=data, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return result.returncode, result.stdout, result.stderr.decode(errors="replace")


def password_cases(rng, count, folder):
    lines = []
    for name in ("AES-128-CBC", "AES-192-CBC", "AES-256-CBC", "AES-128-CTR", "AES-256-CTR"):
        for _ in range(count):
            password = "".join(rng.choice("abcdefghijkXYZ0123456789!#%") for _ in range(rng.randrange(1, 30)))
            plain = rng.randbytes(lengths(rng, 3000))
            iterations = rng.choice([10000, 1, rng.randrange(1, 5000)])
            rc, out, err = openssl_enc(["-e", "-" + name.lower(), "-iter", str(iterations)], plain,
                                       password.encode(), folder)
            if rc:
                sys.exit(f"openssl enc failed: {err}")
            lines.append(f"file {name} {iterations} {password.encode().hex()} {field(plain)} {field(out)}")
    return lines


def check_written(path, folder):
    """The password files the harness wrote: openssl enc -d must open each."""
    failures = checked = 0
    with open(path, encoding="ascii") as f:
        for line in f:
            parts = line.split()
            if not parts or parts[0] != "written":
                continue
            name, iterations, password, plain, data = parts[1:]
            plain = b"" if plain == "-" else bytes.fromhex(plain)
            rc, out, err = openssl_enc(["-d", "-" + name.lower(), "-iter", iterations],
                                       bytes.fromhex(data), bytes.fromhex(password), folder)
            checked += 1
            if rc or out != plain:
                failures += 1
                print(f"FAIL: openssl enc -d of the {name} file written by EncryptPassword: {err.strip()}")
    print(f"openssl opened {checked - failures} of {checked} files written by EncryptPassword")
    return failures == 0 and checked > 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("--cases", type=int, default=6, help="cases per algorithm and kind")
    parser.add_argument("harness")
    parser.add_argument("zelwine", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    if not args.zelwine:
        parser.error("the zelwine command is missing")

    seed = args.seed if args.seed is not None else int.from_bytes(os.urandom(4), "big")
    print(f"seed {seed}", flush=True)
    rng = random.Random(seed)
    with tempfile.TemporaryDirectory() as folder:
        lines = hash_cases(rng, args.cases) + cipher_cases(rng, args.cases) + password_cases(rng, args.cases, folder)
        data = os.path.join(folder, "cases.txt")
        written = os.path.join(folder, "written.txt")
        with open(data, "w", newline="\r\n") as out:
            out.write(f"cases {len(lines)}\n")
            for line in lines:
                out.write(line + "\n")

        def windows(path):
            return "Z:" + os.path.realpath(path).replace("/", "\\")

        command = args.zelwine + ["script", "--check", "--append", CHECKS, os.path.realpath(args.harness),
                                  windows(data), windows(written)]
        result = subprocess.run(command, stdin=subprocess.DEVNULL)
        ok = result.returncode == 0 and os.path.exists(written) and check_written(written, folder)
    if not ok:
        print(f"failed with seed {seed}", flush=True)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
