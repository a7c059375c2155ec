#!/usr/bin/python3
"""The RSA object's key files and standard schemes against OpenSSL, both ways.

Keys come from `openssl genpkey` (2048, 3072 and 4096 bits with e = 65537,
2048 bits with e = 3) as PKCS #8 and PKCS #1 files, private and public.  The
openssl command signs (PKCS #1 v1.5 with `openssl dgst -sign`, PSS with
`openssl pkeyutl`) and encrypts with OAEP (`openssl pkeyutl -encrypt`, with
and without a label); rsa_standard_crosscheck.js loads the keys into the
object in the Wine prefix, verifies and decrypts, and signs, encrypts,
exports and generates keys of its own, which this driver then hands to
openssl: `openssl dgst -verify` / `pkeyutl -verify`, `pkeyutl -decrypt`,
`openssl pkey` for the exported and generated keys.  Malformed DER
(truncated, lengths past the end, huge lengths, wrong tags, non-minimal
integers), an encrypted PKCS #8 file and an EC key must fail with their
errors and leave the object's key as it was.

    rsa_standard_crosscheck.py [--seed N] <harness.js> <zelwine command...>
"""

import argparse
import os
import random
import subprocess
import sys
import tempfile

CHECKS = os.path.join(os.path.dirname(os.path.realpath(__file__)), "checks.js")

HASHES = ["SHA1", "SHA256", "SHA384", "SHA512"]


def openssl(*args, data=None):
    result = subprocess.run(["openssl", *args], input=data, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return result.returncode, result.stdout, result.stderr.decode(errors="replace")


def must(*args, data=None):
    rc, out, err = openssl(*args, data=data)
    if rc:
        sys.exit(f"openssl {' '.join(args)} failed: {err}")
    return out


def field(data):
    return data.hex() if data else "-"


def der_length(n):
    if n < 0x80:
        return bytes([n])
    body = n.to_bytes((n.bit_length() + 7) // 8, "big")
    return bytes([0x80 | len(body)]) + body


def malformed(der):
    """Broken copies of a PKCS #8 file: (what, bytes, expected error)."""
    corrupted = "Crypto System: Data is corrupted - RSA"
    cases = [("truncated", der[:len(der) // 2], corrupted),
             ("last byte missing", der[:-1], corrupted),
             ("outer length past the end", der[:2] + (int.from_bytes(der[2:4], "big") + 1).to_bytes(2, "big") + der[4:],
              corrupted),
             ("huge length", der[:1] + b"\x84\x7f\xff\xff\xff" + der[4:], corrupted),
             ("indefinite length", der[:1] + b"\x80" + der[4:] + b"\x00\x00", corrupted),
             ("wrong outer tag", b"\x31" + der[1:], corrupted),
             ("wrong version tag", der[:4] + b"\x04" + der[5:], corrupted),
             ("bytes after the key", der + b"\x00", corrupted)]
    # The modulus inside: 30 82 .. .. 02 01 00 30 0d ... 04 82 .. .. 30 82 .. .. 02 01 00 02 82 01 01 00 <n>
    n_at = der.index(b"\x02\x82", 30)
    cases.append(("wrong tag for n", der[:n_at] + b"\x03" + der[n_at + 1:], corrupted))
    non_minimal = bytearray(der)
    non_minimal[n_at + 5] = 0x00   # n = 00 00 ..: the first 00 is not needed (length kept)
    cases.append(("non-minimal integer", bytes(non_minimal), corrupted))
    negative = bytearray(der)
    negative[n_at + 4] = 0x80      # n's sign byte set: a negative number
    cases.append(("negative modulus", bytes(negative), corrupted))
    return cases


def make_keys(folder):
    keys = []
    for bits, e in ((2048, 65537), (3072, 65537), (4096, 65537), (2048, 3)):
        path = os.path.join(folder, f"key{bits}_{e}.pem")
        must("genpkey", "-algorithm", "RSA", "-pkeyopt", f"rsa_keygen_bits:{bits}", "-pkeyopt",
             f"rsa_keygen_pubexp:{e}", "-out", path)
        pkcs8 = open(path, "rb").read()
        pkcs1 = must("rsa", "-in", path, "-traditional")
        spki = must("pkey", "-in", path, "-pubout")
        pkcs1_public = must("rsa", "-in", path, "-RSAPublicKey_out")
        der = must("pkcs8", "-topk8", "-nocrypt", "-in", path, "-outform", "DER")
        der_pkcs1 = must("rsa", "-in", path, "-traditional", "-outform", "DER")
        keys.append({"name": f"rsa{bits}e{e}", "bits": bits, "path": path, "pkcs8": pkcs8, "pkcs1": pkcs1,
                     "spki": spki, "pkcs1_public": pkcs1_public, "der": der,
                     "der_pkcs1": der_pkcs1})
    return keys


def sign_openssl(key, scheme, hash_name, data, folder, salt="digest"):
    data_path = os.path.join(folder, "data.bin")
    open(data_path, "wb").write(data)
    if scheme == "pkcs1":
        return must("dgst", "-" + hash_name.lower(), "-sign", key["path"], data_path)
    return must("dgst", "-" + hash_name.lower(), "-sign", key["path"], "-sigopt", "rsa_padding_mode:pss",
                "-sigopt", f"rsa_pss_saltlen:{salt}", data_path)


def verify_openssl(key, scheme, hash_name, data, signature, folder):
    data_path = os.path.join(folder, "vdata.bin")
    sig_path = os.path.join(folder, "vsig.bin")
    pub_path = os.path.join(folder, "vpub.pem")
    open(data_path, "wb").write(data)
    open(sig_path, "wb").write(signature)
    open(pub_path, "wb").write(key["spki"])
    args = ["dgst", "-" + hash_name.lower(), "-verify", pub_path, "-signature", sig_path]
    if scheme == "pss":
        args += ["-sigopt", "rsa_padding_mode:pss", "-sigopt", "rsa_pss_saltlen:auto"]
    rc, out, _ = openssl(*args, data_path)
    return rc == 0 and b"Verified OK" in out


def oaep_opts(hash_name, label):
    opts = ["-pkeyopt", "rsa_padding_mode:oaep", "-pkeyopt", f"rsa_oaep_md:{hash_name.lower()}",
            "-pkeyopt", f"rsa_mgf1_md:{hash_name.lower()}"]
    if label:
        opts += ["-pkeyopt", f"rsa_oaep_label:{label.hex()}"]
    return opts


def encrypt_openssl(key, hash_name, label, plain, folder):
    pub_path = os.path.join(folder, "epub.pem")
    open(pub_path, "wb").write(key["spki"])
    return must("pkeyutl", "-encrypt", "-pubin", "-inkey", pub_path, *oaep_opts(hash_name, label), data=plain)


def decrypt_openssl(key, hash_name, label, ciphertext):
    rc, out, err = openssl("pkeyutl", "-decrypt", "-inkey", key["path"], *oaep_opts(hash_name, label),
                           data=ciphertext)
    return out if rc == 0 else None


def cases_for(key, rng, folder):
    lines = []
    name = key["name"]
    for form in ("pkcs8", "pkcs1", "spki", "pkcs1_public"):
        lines.append(f"key {name} {form} {key[form].hex()}")
    lines.append(f"der {name} {key['der'].hex()} {key['der'].hex()}")
    lines.append(f"der {name} {key['der_pkcs1'].hex()} {key['der'].hex()}")
    k = key["bits"] // 8
    for hash_name in HASHES:
        h_len = {"SHA1": 20, "SHA256": 32, "SHA384": 48, "SHA512": 64}[hash_name]
        data = rng.randbytes(rng.choice([0, 1, 64, rng.randrange(2000)]))
        for scheme in ("pkcs1", "pss"):
            salts = ["digest", "max", "0"] if scheme == "pss" else ["-"]
            for salt in salts:
                sig = sign_openssl(key, scheme, hash_name, data, folder, salt)
                lines.append(f"verify {name} {scheme} {hash_name} {field(data)} {sig.hex()} 1")
            bad = bytearray(sig)
            bad[rng.randrange(len(bad))] ^= 1 << rng.randrange(8)
            lines.append(f"verify {name} {scheme} {hash_name} {field(data)} {bytes(bad).hex()} 0")
            lines.append(f"sign {name} {scheme} {hash_name} {field(data)}")
        for label in (b"", rng.randbytes(rng.randrange(1, 40))):
            plain = rng.randbytes(rng.choice([0, 1, k - 2 * h_len - 2, rng.randrange(k - 2 * h_len - 1)]))
            ct = encrypt_openssl(key, hash_name, label, plain, folder)
            lines.append(f"decrypt {name} {hash_name} {field(label)} {ct.hex()} {field(plain)}")
            lines.append(f"encrypt {name} {hash_name} {field(label)} {field(plain)}")
        # One byte more than a block carries: E_INVALIDARG.
        lines.append(f"toolong {name} {hash_name} {k - 2 * h_len - 1}")
    lines.append(f"export {name}")
    for what, der, error in malformed(key["der"]):
        lines.append(f"malformed {name} {what.replace(' ', '_')} {der.hex()} {error.replace(' ', '_')}")
    return lines


def other_files(folder):
    """An encrypted PKCS #8 file and an EC key: refused with their errors."""
    lines = []
    path = os.path.join(folder, "plain.pem")
    must("genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:1024", "-out", path)
    encrypted = must("pkcs8", "-topk8", "-in", path, "-v2", "aes-128-cbc", "-passout", "pass:secret")
    lines.append(f"refusedpem encrypted {encrypted.hex()} Crypto_System:_Data_is_corrupted_-_RSA")
    encrypted_der = must("pkcs8", "-topk8", "-in", path, "-v2", "aes-128-cbc", "-passout", "pass:secret",
                         "-outform", "DER")
    lines.append(f"refusedder encrypted {encrypted_der.hex()} Crypto_System:_Data_is_corrupted_-_RSA")
    ec = os.path.join(folder, "ec.pem")
    must("genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-out", ec)
    lines.append(f"refusedpem ec {open(ec, 'rb').read().hex()} Crypto_System:_Unsupported_algorithm_-_RSA")
    for form, der in (("ec_pkcs8", must("pkcs8", "-topk8", "-nocrypt", "-in", ec, "-outform", "DER")),
                      ("ec_sec1", must("ec", "-in", ec, "-outform", "DER")),
                      ("ec_public", must("pkey", "-in", ec, "-pubout", "-outform", "DER"))):
        lines.append(f"refusedder {form} {der.hex()} Crypto_System:_Unsupported_algorithm_-_RSA")
    ed = os.path.join(folder, "ed.pem")
    must("genpkey", "-algorithm", "ED25519", "-out", ed)
    lines.append(f"refusedpem ed25519 {open(ed, 'rb').read().hex()} Crypto_System:_Unsupported_algorithm_-_RSA")
    params, dsa = os.path.join(folder, "dsaparams.pem"), os.path.join(folder, "dsa.pem")
    must("genpkey", "-genparam", "-algorithm", "DSA", "-pkeyopt", "dsa_paramgen_bits:1024", "-out", params)
    must("genpkey", "-paramfile", params, "-out", dsa)
    lines.append(f"refusedpem dsa {open(dsa, 'rb').read().hex()} Crypto_System:_Unsupported_algorithm_-_RSA")
    lines.append(f"refusedder dsa_own {must('dsa', '-in', dsa, '-outform', 'DER').hex()} "
                 "Crypto_System:_Unsupported_algorithm_-_RSA")
    ec_pub = must("pkey", "-in", ec, "-pubout")
    lines.append(f"refusedpem ecpublic {ec_pub.hex()} Crypto_System:_Unsupported_algorithm_-_RSA")
    return lines


def check_results(path, keys, folder):
    by_name = {k["name"]: k for k in keys}
    failures = checked = 0

    def fail(message):
        nonlocal failures
        failures += 1
        print("FAIL: " + message)

    for line in open(path, encoding="ascii"):
        f = line.split()
        if not f:
            continue
        kind = f[0]
        checked += 1
        if kind == "signed":
            name, scheme, hash_name, data, sig = f[1:]
            data = b"" if data == "-" else bytes.fromhex(data)
            if not verify_openssl(by_name[name], scheme, hash_name, data, bytes.fromhex(sig), folder):
                fail(f"openssl does not verify the {scheme} {hash_name} signature made with {name}")
            if scheme == "pkcs1" and bytes.fromhex(sig) != sign_openssl(by_name[name], scheme, hash_name, data,
                                                                          folder):
                fail(f"the {hash_name} PKCS #1 v1.5 signature with {name} differs from openssl's")
        elif kind == "encrypted":
            name, hash_name, label, plain, ct = f[1:]
            label = b"" if label == "-" else bytes.fromhex(label)
            plain = b"" if plain == "-" else bytes.fromhex(plain)
            if decrypt_openssl(by_name[name], hash_name, label, bytes.fromhex(ct)) != plain:
                fail(f"openssl does not decrypt the {hash_name} OAEP ciphertext made with {name}")
        elif kind == "exported":
            name, private_pem, public_pem = f[1:]
            for what, pem in (("private", private_pem), ("public", public_pem)):
                file = os.path.join(folder, "exported.pem")
                open(file, "wb").write(bytes.fromhex(pem))
                args = ["pkey", "-in", file, "-pubout"] + (["-pubin"] if what == "public" else [])
                rc, out, err = openssl(*args)
                if rc or out != by_name[name]["spki"]:
                    fail(f"openssl pkey does not read the exported {what} key of {name} as that key: {err}")
        elif kind == "generated":
            bits, private_pem = f[1:]
            file = os.path.join(folder, "generated.pem")
            open(file, "wb").write(bytes.fromhex(private_pem))
            rc, out, err = openssl("pkey", "-in", file, "-check", "-noout")
            rc2, text, _ = openssl("pkey", "-in", file, "-text", "-noout")
            if rc or rc2 or f"Private-Key: ({bits} bit, 2 primes)".encode() not in text \
                    or b"publicExponent: 65537" not in text:
                fail(f"openssl pkey -check refuses the generated {bits}-bit key: {err}")
        else:
            checked -= 1
    print(f"openssl checked {checked - failures} of {checked} results of the harness")
    return failures == 0 and checked > 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("harness")
    parser.add_argument("zelwine", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    if not args.zelwine:
        parser.error("the zelwine command is missing")
    seed = args.seed if args.seed is not None else int.from_bytes(os.urandom(4), "big")
    print(f"seed {seed}", flush=True)
    rng = random.Random(seed)
    with tempfile.TemporaryDirectory() as folder:
        keys = make_keys(folder)
        lines = []
        for key in keys:
            lines += cases_for(key, rng, folder)
        lines += other_files(folder)
        data = os.path.join(folder, "cases.txt")
        results = os.path.join(folder, "results.txt")
        with open(data, "w", newline="\r\n") as out:
            out.write(f"cases {len(lines)}\n")
            for line in lines:
                out.write(line + "\n")

        def windows(path):
            return "Z:" + os.path.realpath(path).replace("/", "\\")

        command = args.zelwine + ["script", "--check", "--append", CHECKS, os.path.realpath(args.harness),
                                  windows(data), windows(results)]
        result = subprocess.run(command, stdin=subprocess.DEVNULL)
        ok = result.returncode == 0 and os.path.exists(results) and check_results(results, keys, folder)
    if not ok:
        print(f"failed with seed {seed}", flush=True)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
