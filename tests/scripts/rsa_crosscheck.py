#!/usr/bin/python3
"""Random RSA keys made by the RSA object, checked with independent tools.

The driver draws seed bases with os.urandom and random messages and SetIV
parameters, and runs rsa_crosscheck.js in the Wine prefix ("make"): it makes
keys of 64, 128 and 256 bytes whose modulus has the full k bytes, one 64-byte
key whose modulus is a byte shorter, encrypts every message twice and signs
it.  Then, in Python:

* the key numbers: n = p q, p > q, e d = 1 mod (p - 1)(q - 1), dP, dQ and
  qInv, p and q prime (Miller-Rabin), every item in minimal form;
* signatures: for the full-length keys OpenSSL (a key built by
  python3-cryptography from the private key blob) recovers them with
  `openssl pkeyutl -verifyrecover` and PKCS #1 v1.5 padding: the recovered
  bytes must be the SHA-1 digest of the message (a type 1 block with no
  digest identifier), and `openssl pkeyutl -sign` over that digest must give
  the same bytes (the padding is deterministic); for every key s^e mod n is
  checked against the block by plain arithmetic, and a short modulus refuses
  exactly the signatures whose block is not below n;
* ciphertexts: every block is raised to d by plain arithmetic and undone with
  an independent mask generation function over hashlib's SHA-1 (its counter
  is the byte offset, stepping by 20): a leading zero byte, the digest of the
  SetIV parameter, the right number of zero bytes, 01, the message bytes;
  every block's seed differs.

A second run ("check") gives the object OpenSSL's signatures (answer 1),
damaged ones and signatures of other messages (answer 0), and ciphertexts
made here by the same encoding (Decrypt must recover the message).

    rsa_crosscheck.py [--seed N] <harness.js> <zelwine command...>

The seed (of the messages; the key seed bases come from it too) is printed
at the start and on failure, so that a failing run can be repeated.
"""

import argparse
import hashlib
import os
import random
import subprocess
import sys
import tempfile

# The shared JScript checks, appended to the harness as to every JScript suite.
CHECKS = os.path.join(os.path.dirname(os.path.realpath(__file__)), "checks.js")

from cryptography.hazmat.primitives import serialization
from cryptography.hazmat.primitives.asymmetric import rsa

NO_PARAM = "none"  # the harness leaves the default parameter 00 00 00 00


def sha1(data):
    return hashlib.sha1(data).digest()


def mask(z, length):
    """The mask: SHA-1(z | counter) blocks, the counter the byte offset."""
    out = b""
    counter = 0
    while len(out) < length:
        out += sha1(z + counter.to_bytes(4, "big"))
        counter += 20
    return out[:length]


def xor(a, b):
    return bytes(x ^ y for x, y in zip(a, b))


def unfield(text):
    return b"" if text == "-" else bytes.fromhex(text)


def field(data):
    return data.hex() if data else "-"


def is_probable_prime(n, rng):
    if n < 4:
        return n in (2, 3)
    if n % 2 == 0:
        return False
    d, s = n - 1, 0
    while d % 2 == 0:
        d //= 2
        s += 1
    for _ in range(24):
        x = pow(rng.randrange(2, n - 1), d, n)
        if x in (1, n - 1):
            continue
        for _ in range(s - 1):
            x = pow(x, 2, n)
            if x == n - 1:
                break
        else:
            return False
    return True


def items(blob, count):
    """k and `count` length-prefixed items of a key blob."""
    k = int.from_bytes(blob[:4], "big")
    at, out = 4, []
    for _ in range(count):
        length = int.from_bytes(blob[at:at + 4], "big")
        out.append(blob[at + 4:at + 4 + length])
        at += 4 + length
    assert at == len(blob), f"{len(blob) - at} bytes after the last item"
    return k, out


class Failures:
    def __init__(self):
        self.count = 0
        self.checks = 0

    def check(self, cond, message):
        self.checks += 1
        if not cond:
            self.count += 1
            print("FAIL: " + message, flush=True)
        return cond


class Key:
    def __init__(self, name, counter, seed1, seed2, public_blob, private_blob):
        self.name, self.counter, self.seed1, self.seed2 = name, counter, seed1, seed2
        self.public_blob, self.private_blob = public_blob, private_blob
        self.k, (n_bytes, e_bytes) = items(public_blob, 2)
        k2, parts = items(private_blob, 7)
        assert k2 == self.k
        self.raw = [n_bytes, e_bytes] + parts
        self.n_bytes = n_bytes
        self.n, self.e = int.from_bytes(n_bytes, "big"), int.from_bytes(e_bytes, "big")
        n2, self.d, self.p, self.q, self.dp, self.dq, self.qinv = (int.from_bytes(x, "big") for x in parts)
        self.n_private = n2

    def describe(self):
        return f"key {self.name}: k {self.k}, seeds {self.seed1} {self.seed2} (counter {self.counter})"


def signature_block(k, message):
    return b"\x01" + b"\xff" * (k - 23) + b"\x00" + sha1(message)


def check_key(key, fail, rng):
    what = key.describe()
    fail.check(key.n_private == key.n, f"{what}: the halves carry the same n")
    for raw in key.raw:
        fail.check(raw == b"\x00" or (raw and raw[0] != 0), f"{what}: item {raw.hex()} is not in minimal form")
    fail.check(len(key.n_bytes) <= key.k, f"{what}: n is longer than k")
    fail.check(key.p > key.q, f"{what}: p > q")
    fail.check(key.p * key.q == key.n, f"{what}: n = p q")
    fail.check(is_probable_prime(key.p, rng) and is_probable_prime(key.q, rng), f"{what}: p and q are prime")
    phi = (key.p - 1) * (key.q - 1)
    fail.check(key.e >= 65537 and key.e % 2 == 1, f"{what}: e = {key.e}")
    fail.check(key.e * key.d % phi == 1, f"{what}: e d = 1 mod phi")
    fail.check(key.d < phi, f"{what}: d below phi")
    fail.check(key.dp == key.d % (key.p - 1) and key.dq == key.d % (key.q - 1), f"{what}: dP and dQ")
    fail.check(key.q * key.qinv % key.p == 1 and key.qinv < key.p, f"{what}: qInv")


def openssl_key_file(key, folder):
    numbers = rsa.RSAPrivateNumbers(key.p, key.q, key.d, key.dp, key.dq, key.qinv,
                                    rsa.RSAPublicNumbers(key.e, key.n))
    pem = numbers.private_key().private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                                              serialization.NoEncryption())
    path = os.path.join(folder, f"{key.name}.pem")
    with open(path, "wb") as out:
        out.write(pem)
    return path


def openssl(operation, key_file, data, folder):
    """openssl pkeyutl with PKCS #1 v1.5 padding over raw bytes; None when it refuses."""
    source, target = os.path.join(folder, "in.bin"), os.path.join(folder, "out.bin")
    with open(source, "wb") as out:
        out.write(data)
    if os.path.exists(target):
        os.remove(target)
    result = subprocess.run(["openssl", "pkeyutl", operation, "-inkey", key_file, "-pkeyopt",
                             "rsa_padding_mode:pkcs1", "-in", source, "-out", target],
                            stdin=subprocess.DEVNULL, capture_output=True)
    if result.returncode:
        print(result.stderr.decode(errors="replace").strip(), flush=True)
        return None
    with open(target, "rb") as f:
        return f.read()


def check_signature(key, message, signature, key_file, folder, fail, verify_lines):
    what = f"{key.describe()}, message {field(message)}"
    k = key.k
    fail.check(len(signature) == k, f"{what}: a signature of {len(signature)} bytes")
    s = int.from_bytes(signature, "big")
    fail.check(s < key.n, f"{what}: the signature is below n")
    fail.check(pow(s, key.e, key.n) == int.from_bytes(signature_block(k, message), "big"),
               f"{what}: s^e mod n is not the signature block")
    if key_file is None:
        return
    recovered = openssl("-verifyrecover", key_file, signature, folder)
    fail.check(recovered == sha1(message),
               f"{what}: OpenSSL recovers {recovered.hex() if recovered else None}, not the SHA-1 digest")
    theirs = openssl("-sign", key_file, sha1(message), folder)
    if not fail.check(theirs is not None and len(theirs) == k, f"{what}: OpenSSL could not sign"):
        return
    fail.check(theirs == signature, f"{what}: OpenSSL's signature {theirs.hex()} differs from the object's")
    # The object's Verify of OpenSSL's signatures, good and bad.
    damaged = bytearray(theirs)
    damaged[len(damaged) // 2] ^= 0x10
    verify_lines.append(["verify", key.public_blob.hex(), field(message), theirs.hex(), "1"])
    verify_lines.append(["verify", key.public_blob.hex(), field(message), bytes(damaged).hex(), "0"])
    verify_lines.append(["verify", key.public_blob.hex(), field(message + b"\x00"), theirs.hex(), "0"])


def check_ciphertext(key, param, message, cipher, fail, seeds):
    k, m = key.k, key.k - 42
    what = f"{key.describe()}, parameter {param}, message {field(message)}"
    label = sha1(bytes(4) if param == NO_PARAM else unfield(param))
    blocks = (len(message) + m - 1) // m
    if not fail.check(len(cipher) == blocks * k, f"{what}: {len(cipher)} bytes of ciphertext, not {blocks * k}"):
        return
    for b in range(blocks):
        block = cipher[b * k:(b + 1) * k]
        chunk = message[b * m:(b + 1) * m]
        c = int.from_bytes(block, "big")
        where = f"{what}, block {b}"
        if not fail.check(c < key.n, f"{where}: the block is not below n"):
            continue
        x = pow(c, key.d, key.n)
        if not fail.check(x < 256 ** (k - 1), f"{where}: the encoded block has no leading zero byte"):
            continue
        em = x.to_bytes(k - 1, "big")
        masked_seed, masked_db = em[:20], em[20:]
        seed = xor(masked_seed, mask(masked_db, 20))
        db = xor(masked_db, mask(seed, k - 21))
        fail.check(db[:20] == label, f"{where}: the block does not start with the parameter's digest")
        expected = bytes(m - len(chunk)) + b"\x01" + chunk
        fail.check(db[20:] == expected, f"{where}: {db[20:].hex()} is not zeros, 01, the message bytes")
        fail.check(seed not in seeds, f"{where}: the seed {seed.hex()} was used before")
        seeds.add(seed)


def encrypt_here(key, param, message, rng):
    """The object's encoding, done here with a seed from rng."""
    k, m = key.k, key.k - 42
    label = sha1(bytes(4) if param == NO_PARAM else unfield(param))
    out = b""
    for at in range(0, len(message), m):
        chunk = message[at:at + m]
        db = label + bytes(m - len(chunk)) + b"\x01" + chunk
        while True:
            seed = rng.randbytes(20)
            masked_db = xor(db, mask(seed, k - 21))
            em = int.from_bytes(xor(seed, mask(masked_db, 20)) + masked_db, "big")
            if em < key.n:
                break
        out += pow(em, key.e, key.n).to_bytes(k, "big")
    return out


def run_harness(zelwine, harness, mode, *files):
    # The script host takes files as Windows paths; Z: is the Unix root.
    paths = ["Z:" + os.path.realpath(f).replace("/", "\\") for f in files]
    command = zelwine + ["script", "--check", "--append", CHECKS, os.path.realpath(harness), mode] + paths
    return subprocess.run(command, stdin=subprocess.DEVNULL).returncode


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("harness")
    parser.add_argument("zelwine", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    if not args.zelwine:
        parser.error("the zelwine command is missing")

    seed = args.seed if args.seed is not None else int.from_bytes(os.urandom(8), "big")
    print(f"seed {seed}", flush=True)
    try:
        return crosscheck(args, seed)
    except Exception:
        print(f"failed with seed {seed}", flush=True)
        raise


def crosscheck(args, seed):
    rng = random.Random(seed)

    key_kinds = [("k64", 64, "full"), ("k128", 128, "full"), ("k256", 256, "full"), ("k64short", 64, "short")]
    lines = []
    for name, size, want in key_kinds:
        lines.append(f"key {name} {size} {want} {rng.randbytes(rng.randrange(0, 24)).hex() or '-'} "
                     f"{rng.randbytes(rng.randrange(0, 24)).hex() or '-'}")
        m = size - 42
        lengths = [0, 1, m - 1, m, m + 1, 2 * m, rng.randrange(2, 4 * m)]
        for length in lengths:
            param = rng.choice([NO_PARAM, NO_PARAM, "-", rng.randbytes(rng.randrange(1, 40)).hex()])
            lines.append(f"msg {name} {param} {field(rng.randbytes(length))}")

    fail = Failures()
    keys = {}
    with tempfile.TemporaryDirectory() as folder:
        made_input = os.path.join(folder, "make.txt")
        made_output = os.path.join(folder, "made.txt")
        with open(made_input, "w", newline="\r\n") as out:
            out.write("\n".join(lines) + "\n")
        open(made_output, "w").close()
        fail.check(run_harness(args.zelwine, args.harness, "make", made_input, made_output) == 0,
                   "the harness failed making keys")

        verify_lines, decrypt_lines, seeds = [], [], set()
        with open(made_output) as made:
            records = [line.split() for line in made if line.strip()]
        for r in records:
            if r[0] == "key":
                key = Key(r[1], r[2], r[3], r[4], bytes.fromhex(r[5]), bytes.fromhex(r[6]))
                keys[key.name] = key
                print(key.describe(), flush=True)
                check_key(key, fail, rng)
                short = key.name.endswith("short")
                fail.check((len(key.n_bytes) < key.k) == short, f"{key.describe()}: n has {len(key.n_bytes)} bytes")
                key.file = None if short else openssl_key_file(key, folder)
            elif r[0] == "enc":
                key, param, message = keys[r[1]], r[2], unfield(r[3])
                first, second = unfield(r[4]), unfield(r[5])
                check_ciphertext(key, param, message, first, fail, seeds)
                check_ciphertext(key, param, message, second, fail, seeds)
                if message:
                    fail.check(first != second, f"{key.describe()}: two encryptions of {field(message)} are equal")
                ours = encrypt_here(key, param, message, rng)
                decrypt_lines.append(["decrypt", key.private_blob.hex(), param, field(ours), field(message)])
            elif r[0] == "sig":
                key, message = keys[r[1]], unfield(r[2])
                fail.check(int.from_bytes(signature_block(key.k, message), "big") < key.n,
                           f"{key.describe()}: signed a block that is not below n")
                check_signature(key, message, unfield(r[3]), key.file, folder, fail, verify_lines)
            elif r[0] == "sigerr":
                key, message = keys[r[1]], unfield(r[2])
                fail.check(r[3] == "Crypto_System:_Invalid_key_-_RSA", f"{key.describe()}: Sign raised {r[3]}")
                fail.check(int.from_bytes(signature_block(key.k, message), "big") >= key.n,
                           f"{key.describe()}: refused to sign {field(message)} although its block is below n")
        fail.check(len(keys) == len(key_kinds), f"{len(keys)} keys made, not {len(key_kinds)}")
        fail.check(sum(1 for r in records if r[0] == "enc") == len(lines) - len(key_kinds), "ciphertexts missing")

        check_input = os.path.join(folder, "check.txt")
        with open(check_input, "w", newline="\r\n") as out:
            for line in verify_lines + decrypt_lines:
                out.write(" ".join(line) + "\n")
        fail.check(len(verify_lines) >= 3 * 3 * 5, "too few OpenSSL signatures to verify")
        fail.check(run_harness(args.zelwine, args.harness, "check", check_input) == 0,
                   "the object disagrees with OpenSSL's signatures or Python's ciphertexts")

    print(f"{fail.checks} host checks, {fail.count} failed", flush=True)
    if fail.count:
        print(f"failed with seed {seed}", flush=True)
        for key in keys.values():
            print(key.describe(), flush=True)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
