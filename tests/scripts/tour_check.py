#!/usr/bin/python3
"""Runs a tour in examples/ with the project's script host (zelhost.exe) under
Wine and checks what it prints, line by line, not only that it reaches its end
and exits with status 0.

Every result line is checked: the blob conversions and the packing records
byte for byte, the digests and CRCs against Python's hashlib, zlib and a CRC-24
written here, what must agree (a key derived twice, the salt-less key and the
plain SHA-1, a ciphertext remade on a new object) and what must differ (two
random draws, two encryptions), every cipher's round trip, the RSA and PGP
round trips, and every error line exactly as the tour's language reports it.

    tour_check.py <tour.vbs|tour.js> <zelwine command...>
"""

import base64
import hashlib
import re
import subprocess
import sys
import zlib


def crc24(data):
    crc = 0xB704CE
    for byte in data:
        crc ^= byte << 16
        for _ in range(8):
            crc <<= 1
            if crc & 0x1000000:
                crc ^= 0x1864CFB
    return crc & 0xFFFFFF


def ripemd160(data):
    try:
        return hashlib.new("ripemd160", data).hexdigest()
    except ValueError:
        from Crypto.Hash import RIPEMD160  # python3-pycryptodome
        return RIPEMD160.new(data).hexdigest()


HELLO = b"Hello, world"
PLAIN = "Attack at dawn, bring snacks"

# Lines both tours print the same way, in this order.
COMMON = [
    ("Text", "Hello, world"),
    ("Hex", HELLO.hex()),
    ("Base64", base64.b64encode(HELLO).decode()),
    ("Length", "12"),
    ("from Hex", "Hello"),
    ("from Base64", "world"),
    ("from blob.Bytes", "Hello, world"),
    ("after Clear, Length", "0"),
    ("16909060", "01020304"),
    ("then -1 at the end", "01020304ffffffff"),
    ("extracted at 0", "16909060, leaving ffffffff"),
    ("extracted again", '-1, leaving ""'),
    ("the record", "0000000700000005616c69636500000004cafebabe"),
    ("number", "7"),
    ("name", "alice"),
    ("data", "cafebabe"),
    ("left in the record", "0 bytes"),
    ("MD5", hashlib.md5(HELLO).hexdigest()),
    ("SHA1", hashlib.sha1(HELLO).hexdigest()),
    ("Ripemd", ripemd160(HELLO)),
    ("CRC32", "%X" % zlib.crc32(HELLO)),
    ("CRC24", "%X" % crc24(HELLO)),
    ("the message", "%d bytes" % len(PLAIN)),
] + [("deciphered", "[%s    ]" % PLAIN)] * 5 + [
    ("deciphered", PLAIN + " (+4 filler bytes)"),
    ("Decrypt, new object", PLAIN),
    ("encrypted", "128 bytes"),
    ("decrypted", "The meeting moves to Thursday."),
    ("signature", "128 bytes"),
    ("Verify (1 = good)", "1"),
    ("Verify other text", "0"),
    ("decrypted", "Meet me at the old mill at noon."),
]

ERRORS = {
    ".vbs": [
        ("from Array(90, 69, 76)", "ZEL"),
        ("Err.Number", "&H80004005"),
        ("Err.Source", "Valdergast.ZELCryptoMisc.2"),
        ("Err.Description", "Crypto System: Data is corrupted - XBlob"),
        ("the blob still holds", "00000010414243"),
        ("Nothing for a blob", "Internal error: can't get source ZELBlob COM interface"),
        ("Keygen with hash 7", "Crypto System: Unsupported algorithm"),
        ("position 100", "5 Invalid procedure call or argument"),
        ("Decrypt of 28 bytes", "Crypto System: Unable to decrypt data"),
        ("Encrypt without a key", "Crypto System: Invalid key"),
        ("Verify, wrong data", "0 (no error)"),
        ("wrong password", "Crypto System: Invalid key - PGP"),
        ("not armor", "Crypto System: Data is corrupted - PGP"),
        ("a changed character", "Crypto System: Data CRC error - PGP"),
        ('Hex = "12 3"', "Hex text has an odd number of digits"),
    ],
    ".js": [
        ("Bytes = [90, 69, 76]", "80070057 Bytes takes a one-dimensional array of bytes"),
        ("from 90, 69, 76 as Hex", "ZEL"),
        ("ExtractBlobFromBlob", "80004005 Crypto System: Data is corrupted - XBlob"),
        ("the blob still holds", "00000010414243"),
        ("another object", "80004005 Internal error: can't get source ZELBlob COM interface"),
        ("null for a blob", "80020005"),
        ("Keygen with hash 7", "80004005 Crypto System: Unsupported algorithm"),
        ("position 100", "80070057"),
        ("Decrypt of 28 bytes", "80004005 Crypto System: Unable to decrypt data"),
        ("Encrypt without a key", "80004005 Crypto System: Invalid key"),
        ("Verify, wrong data", "0 (no error)"),
        ("wrong password", "80004005 Crypto System: Invalid key - PGP"),
        ("not armor", "80004005 Crypto System: Data is corrupted - PGP"),
        ("a changed character", "80004005 Crypto System: Data CRC error - PGP"),
        ('Hex = "12 3"', "80070057 Hex text has an odd number of digits"),
    ],
}

# A result line: its label indented and padded to column 26, the value after.
def parse(line):
    if len(line) > 26 and line.startswith("  ") and line[25] == " " and line[26] != " ":
        return line[:26].strip(), line[26:]
    return None


def main():
    tour, zelwine = sys.argv[1], sys.argv[2:]
    language = ".vbs" if tour.endswith(".vbs") else ".js"
    run = subprocess.run(zelwine + ["script", tour], capture_output=True, text=True, timeout=240)
    lines = run.stdout.replace("\r\n", "\n").split("\n")
    results = [parse(line) for line in lines if parse(line)]
    values = {}
    for label, value in results:
        values.setdefault(label, []).append(value)
    failures = []

    def check(cond, what):
        if not cond:
            failures.append(what)

    # Every expected line, in the order the tour prints them.
    def in_order(expected):
        position = 0
        for label, value in expected:
            found = next((i for i in range(position, len(results)) if results[i] == (label, value)), None)
            check(found is not None, "missing, or out of order: %s = %s" % (label, value))
            if found is not None:
                position = found + 1

    in_order(COMMON)
    in_order(ERRORS[language])

    def one(label):
        got = values.get(label, [])
        check(len(got) == 1, "%s printed %d times" % (label, len(got)))
        return got[0] if got else ""

    # What must agree and what must differ.
    first, more = one("8 random bytes"), one("8 more")
    check(re.fullmatch(r"[0-9a-f]{16}", first) and re.fullmatch(r"[0-9a-f]{16}", more) and first != more,
          "two random draws: %s, %s" % (first, more))
    key = one("32-byte key")
    check(re.fullmatch(r"[0-9a-f]{64}", key) is not None, "a 32-byte key: " + key)
    check(one("derived again") == key, "the key derived again")
    check(one("SHA-1 without a salt") == one("SHA1(password)"), "salt-less S2K is SHA-1 of the password")
    check(re.fullmatch(r"[0-9a-f]{80}", one("seed stretched to 40")) is not None, "40 bytes of stretched seed")
    record = one("AES-128 Key record")
    check(record == "0000000a" + key[:32], "the AES-128 record is the round count and the key's first 16 bytes")
    check(one("same ciphertext").lower() == "true", "the record makes the same ciphertext")
    ciphertexts = [one(name) for name in ("AES", "Twofish", "Blowfish", "Cast", "TripleDES")]
    check(all(c.startswith("32 bytes: ") for c in ciphertexts) and len(set(ciphertexts)) == 5,
          "five ciphers, five ciphertexts: %s" % ciphertexts)
    check(one("first Encrypt") == one("on a new object"), "a new object starts a new chain")
    check(one("second Encrypt") != one("first Encrypt"), "the chain carries on within an object")
    check(one("Decrypt, same object").endswith((PLAIN[8:].encode() + b"\0" * 4).hex()),
          "decrypting on the encrypting object garbles only the first (8-byte) block")
    check(re.fullmatch(r"143 bytes, 0000008000000080[0-9a-f]{8}\.\.\.", one("public key blob")) is not None,
          "a 128-byte public key blob")
    # The private blob's items are the key's numbers without leading zero
    # bytes: 608 bytes when every one fills its length, a byte less for each
    # of d, dP, dQ and qInv (random keys) that happens to start with a zero.
    private = re.fullmatch(r"(\d+) bytes", one("private key blob"))
    check(private is not None and 604 <= int(private.group(1)) <= 608,
          "a 128-byte key's private blob: " + one("private key blob"))
    check(one("encrypted again differs").lower() == "true", "RSA encryption is randomised")
    armor = "\n".join(lines)
    check(re.search(r"-----BEGIN PGP MESSAGE-----\n(.*\n)+?=[A-Za-z0-9+/]{4}\n-----END PGP MESSAGE-----", armor)
          is not None, "an armored message with its checksum")
    check(lines and "End of the tour." in lines, "the tour ends")
    check(run.returncode == 0, "exit status %d, standard error:\n%s" % (run.returncode, run.stderr))

    for f in failures:
        print("FAIL: " + f)
    print("%d result lines read, %d failed" % (len(results), len(failures)))
    if failures:
        print(run.stdout)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
