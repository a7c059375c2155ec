#!/usr/bin/env python3
"""Writes the hand-made seeds of the fuzz targets into tests/fuzz/corpus/.

The seeds show each target's input layout at work (see the comment at the
top of each target); the fuzzer's own finds are merged in next to them with
-merge=1.  Run from anywhere: python3 tests/fuzz/make_seeds.py [target...]
"""
import hashlib
import os
import random
import struct
import sys

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def part(data):
    return struct.pack(">H", len(data)) + data


def be32(v):
    return struct.pack(">I", v & 0xFFFFFFFF)


def write(target, name, data):
    folder = os.path.join(ROOT, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def cipher_seeds():
    # control: engine | 8 record | mode choice << 4 | 0x40 AES-NI first | 0x80 damaged tables
    engines = ["aes", "twofish", "blowfish", "cast", "tripledes"]
    block = [16, 16, 8, 8, 8]
    records = [
        be32(14) + bytes(range(32)),
        be32(3) + bytes(range(24)),
        be32(13) + b"blowfish key!",
        be32(16) + bytes(range(16)) + b"trailing bytes are ignored",
        bytes(range(100, 124)) + b"more",
    ]
    bad_records = [be32(11) + bytes(24), be32(5) + bytes(40), be32(57) + bytes(57), bytes(19), bytes(23)]
    for e, name in enumerate(engines):
        b = block[e]
        plain = bytes((i * 7) & 0xFF for i in range(9 * b + 3))
        # MakeKey, ECB, a plaintext across the 8-block lanes, whole-block ciphertext.
        write("cipher", f"{name}_make_ecb",
              bytes([e | 0x00, 0x20]) + be32(20) + be32(0) + bytes([3]) + be32(0)
              + part(b"password material") + part(plain) + part(bytes(2 * b)) + part(records[e]))
        # A record, CBC, ciphertext that is not whole blocks, a refused second record.
        write("cipher", f"{name}_record_cbc",
              bytes([e | 0x08 | 0x10 | 0x40, 0x00]) + be32(0) + be32(2) + bytes([1]) + be32(0)
              + part(records[e]) + part(plain) + part(bytes(b + 1)) + part(bad_records[e]))
        # A refused record.
        write("cipher", f"{name}_record_refused",
              bytes([e | 0x08, 0x00]) + be32(0) + be32(1) + bytes([0]) + be32(0)
              + part(bad_records[e]) + part(b"") + part(b"") + part(b""))
        # Another mode value, and Setup with a mode value.
        write("cipher", f"{name}_mode_other",
              bytes([e | 0x20, 0xFF]) + be32(0xFFFFFFFF) + be32(7) + bytes([0]) + be32(0)
              + part(b"") + part(plain[:5]) + part(bytes(b)) + part(b""))
        write("cipher", f"{name}_setup",
              bytes([e | 0x30, 0x41]) + be32(64) + be32(2) + bytes([2]) + be32(0)
              + part(bytes(70)) + part(plain) + part(plain[: 3 * b]) + part(records[e]))
    # Blowfish with damaged tables: checksum caught, and repaired so that the
    # known-answer test must catch it.
    write("cipher", "blowfish_damaged_checksum",
          bytes([2 | 0x80, 0]) + be32(16) + be32(1) + bytes([0]) + be32(0x00000501)
          + part(b"key material") + part(b"x") + part(b"") + part(b""))
    write("cipher", "blowfish_damaged_repaired",
          bytes([2 | 0x80, 0]) + be32(16) + be32(1) + bytes([0]) + be32(0x10000001)
          + part(b"key material") + part(b"x") + part(b"") + part(b""))
    # CAST with a 12-round record and TripleDES with a two-key record.
    write("cipher", "cast_12_rounds",
          bytes([3 | 0x08, 0]) + be32(0) + be32(1) + bytes([0]) + be32(0)
          + part(be32(12) + bytes(range(16))) + part(b"twelve rounds") + part(b"") + part(b""))
    write("cipher", "tripledes_two_key",
          bytes([4 | 0x08, 0]) + be32(0) + be32(1) + bytes([0]) + be32(0)
          + part(bytes(range(8)) * 2 + bytes(range(8))) + part(b"two keys") + part(b"") + part(b""))


def aes_modes_seeds():
    # control: key length (0: 16, 1: 24, 2: 32, 3: the key part as it is) | 4 AES-NI first
    #          | 8 PCLMULQDQ first | 0x10 PKCS#7 | (tag length - 12) << 5;
    # position: 0x8000 for the 256-bit AES loops, the rest where a byte is changed
    def seed(control, position, flip, key, iv, aad, plain, foreign):
        return (bytes([control]) + struct.pack(">H", position) + bytes([flip])
                + part(key) + part(iv) + part(aad) + part(plain) + part(foreign))

    k = bytes.fromhex("feffe9928665731c6d6a8f9467308308")
    aad = bytes.fromhex("feedfacedeadbeeffeedfacedeadbeefabaddad2")
    p60 = bytes.fromhex("d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a72"
                        "1c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de657ba637b39")
    iv60 = bytes.fromhex("9313225df88406e555909c5aff5269aa6a7a9538534f7da1e4c303d2a318a728"
                         "c3c0c95156809539fcf0e2429a6b525416aedbf5a0de6a57a637b39b")
    # The GCM paper's test case 4, its sealed message given as the foreign
    # ciphertext too (which opens).
    sealed4 = bytes.fromhex("42831ec2217774244b7221b784d0d49ce3aa212f2c02a4e035c17e2329aca12e"
                            "21d514b25466931c7d8f6a5aac84aa051ba30b396a0aac973d58e091"
                            "5bc94fbc3221a5db94fae95ae7121a47")
    write("aes_modes", "gcm_case_4", seed(0x0C | 4 << 5, 7, 0x80, k, bytes.fromhex("cafebabefacedbaddecaf888"),
                                          aad, p60, sealed4))
    # Test case 18's inputs (AES-256, a 60-byte IV), a 12-byte tag, PKCS#7.
    write("aes_modes", "gcm_iv60_aes256", seed(0x02 | 0x10, 70, 0x01, k + k, iv60, aad, p60, b"\x00" * 48))
    # Nothing at all: an empty IV (refused by GCM, completed for the rest), empty plaintext.
    write("aes_modes", "empty_iv", seed(0x01 | 0x04, 0, 0xff, bytes(24), b"", b"", b"", b""))
    # A key of 20 bytes, and a tag length of 19 bytes.
    write("aes_modes", "bad_key", seed(0x03, 0, 1, bytes(range(20)), bytes(16), b"", b"abc", b""))
    write("aes_modes", "bad_tag_length", seed(0x00 | 7 << 5, 3, 2, bytes(16), bytes(12), b"a", b"b" * 20, bytes(17)))
    # CTR whose counter wraps all 128 bits within the message, on 256-bit
    # vectors first; CBC of 5 whole blocks, without padding, and a partial
    # foreign block.
    write("aes_modes", "ctr_wrap", seed(0x01 | 0x04 | 0x08, 0x8000 | 200, 0x10, bytes(range(24)), b"\xff" * 15 + b"\xfa",
                                        b"", bytes(range(80)), bytes(33)))
    # Plaintexts ending in padding, one valid (sixteen 16s) and one wrong in
    # its first byte only (refused by the padding check on the way back).
    write("aes_modes", "padding_valid", seed(0x00, 0, 1, bytes(16), bytes(16), b"", bytes(16) + b"\x10" * 16, b""))
    write("aes_modes", "padding_wrong_first", seed(0x00, 0, 1, bytes(16), bytes(16), b"", b"\x11" + b"\x10" * 15, b""))
    # Long inputs: several multi-block groups, an odd IV length, long additional data.
    write("aes_modes", "long", seed(0x02 | 0x04 | 0x08 | 0x10 | 2 << 5, 4999, 0x5a, bytes(range(32)),
                                    bytes(range(13)), bytes(range(256)) + bytes(44), bytes(i * 7 & 0xFF for i in range(5000)),
                                    bytes(range(256)) * 4))


def blob_seeds():
    def op(code, slot=0, pos=0, alt=0):
        # opcode in the low 5 bits, the blob in bits 5-6, bit 7 picks the other blob
        return bytes([code | (slot << 5) | (alt << 7)]) + struct.pack(">H", pos)

    # The README's packing example: a long in, back out; an item appended, taken out again.
    write("blob", "misc_example",
          bytes([0b010]) + part(b"other blob")
          + op(0) + be32(16909060) + b"\x00"
          + op(1)
          + op(2, pos=0) + b"\x00\x00"
          + op(3, pos=0)
          + op(0, pos=0) + be32(0xFFFFFFFF) + b"\x01"
          + op(2, pos=0) + b"\x01\x01")
    # Items that are not well formed: a length past the end, too few bytes, a position at the end.
    write("blob", "malformed_items",
          bytes([0b011]) + part(b"\x00\x00\x00\x09short") + part(b"\x00\x00")
          + op(3, pos=0) + op(4, pos=0) + b"\x01" + op(4, pos=5) + b"\x00"
          + op(3, slot=1, pos=0) + op(3, slot=1, pos=2))
    # Well-formed items extracted into another blob and into the blob itself.
    write("blob", "nested_items",
          bytes([0b001]) + part(b"\x00\x00\x00\x0a\x00\x00\x00\x02hi\x00\x00\x00\x00tail")
          + op(4, pos=0) + b"\x00" + op(4, pos=0) + b"\x01" + op(4, pos=0) + b"\x01")
    # A moved-from blob as target and as source of every edit.
    write("blob", "moved_from",
          bytes([0b011]) + part(b"abc") + part(b"defg")
          + op(12) + b"\x01"
          + op(5, slot=0) + b"\x01" + op(6, slot=0) + b"\x00\x00" + op(7, slot=0) + be32(5)
          + op(8, slot=0) + b"\x00\x00\x00\x04" + op(17, slot=0) + b"\x00\x00"
          + op(14, slot=2, alt=1) + b"\x00" + be32(7) + op(9, slot=0)
          + op(10, slot=0) + b"z" + op(12, slot=1, alt=1) + b"\x00" + op(11, slot=1) + b"\x00\x09"
          + op(15, slot=0) + b"\x00\x00" + op(18, slot=0) + op(4, slot=0) + b"\x01")
    # Every other operation once.
    write("blob", "all_operations",
          bytes([0b111]) + part(b"0123456789") + part(b"\x00\x00\x00\x01x") + part(b"")
          + op(5, pos=3) + b"\x01" + op(5, pos=2) + b"\x00" + op(6, pos=4) + b"\x00\x08"
          + op(7, pos=1) + be32(3) + op(8, pos=2) + b"\x00\x01\x00\x05" + op(9)
          + op(10, pos=0) + b"\x7f" + op(11) + b"\x00\x30" + op(11) + b"\x00\x02"
          + op(13) + b"\x01" + op(13, slot=2) + b"\x00" + op(14) + b"\x01" + be32(1)
          + op(15) + b"\x10\x01" + op(16) + b"text\x00" + op(17, pos=1) + b"\x00\x03"
          + op(18) + op(19) + b"\x00" + part(b"appended bytes") + op(4, slot=1) + b"\x00")


def codec_seeds():
    def wide(text):
        return b"\x01" + text.encode("utf-16-le", "surrogatepass")

    texts = {
        "hex_blanks": b"\x00" + b"48 65 6C 6c 6F\r\n\t0a",
        "hex_odd": b"\x00" + b"abc",
        "hex_bad_digit": b"\x00" + b"12 3g",
        "base64_padded": b"\x00" + b"SGVsbG8=",
        "base64_unpadded_lines": b"\x00" + b"SGVs\r\nbG8gd29y\nbGQ",
        "base64_misplaced_pad": b"\x00" + b"S=GVs",
        "base64_after_pad": b"\x00" + b"SGk=SGk=",
        "base64_single_digit": b"\x00" + b"SGVsb",
        "base64_incomplete_pad": b"\x00" + b"SGVsbA=",
        "base64_other_chars": b"\x00" + b"SG-Vs*bG8",
        "wide_hex": wide("48656c6c6f"),
        "wide_base64": wide("SGVsbG8gd29ybGQ="),
        # U+0141 and U+FF10 are no digits, whatever their low byte says.
        "wide_lookalikes": wide("4\u0141\uff10=="),
        "long_data": b"\x00" + bytes(range(256)),
        "base64url": b"\x00" + b"-_8SGVsbG8",
        "base64url_padded_blank": b"\x00" + b"Zg== Zm8",
        "utf8_every_length": b"\x00" + "a\u00e9\u20ac\U0001f600".encode("utf-8"),
        "utf8_ill_formed": b"\x00" + b"ok\xe2\x82(\xed\xa0\x80\xf4\x90\x80\x80\xc0\xaf",
        "wide_surrogates": wide("\U0001f600 \ud83d \ude00"),
    }
    for name, data in texts.items():
        write("codec", name, data)


def digest_seeds():
    def seed(flags, hash_id, passes, length, clock, message, pieces, salt, entropy):
        return (bytes([flags, hash_id]) + be32(passes) + struct.pack(">H", length) + be32(clock)
                + part(message) + part(pieces) + part(salt) + part(entropy))

    text = b"The quick brown fox jumps over the lazy dog" * 5
    write("digest", "sha1_iterated_96", seed(0, 2, 96, 32, 0x5F000000, b"password", b"\x03\x01", b"saltsalt", bytes(12)))
    write("digest", "md5_salted_long", seed(1, 1, 0, 100, 1, text, b"\x3f\x40\x01", b"NaCl", bytes(range(12))))
    write("digest", "ripemd_count_below_pattern", seed(0, 3, 0x10, 64, 0, b"a longer password than the count", b"", b"12345678", b""))
    write("digest", "unknown_hash", seed(1, 13, 255, 16, 0xFFFFFFFF, b"abc", b"\x01", b"", b"entropy here"))
    write("digest", "empty_everything", seed(0, 2, 0, 0, 0, b"", b"", b"", b""))
    write("digest", "blocks_and_random", seed(1, 1, 0x30, 300, 0x12345678, bytes(range(256)) * 3, b"\x10\x40\x07", b"s", bytes(12)))
    # The SHA-2 and SHA-3 rows: messages around their block sizes (a tail
    # one short of SHA-3's rate puts both padding bits in one byte).
    write("digest", "sha256_extensions_salted", seed(1, 8, 0, 80, 2, text[:119], b"\x37\x05", b"saltsalt", bytes(12)))
    write("digest", "sha224_portable_simple", seed(0, 11, 0, 60, 3, text[:64], b"\x40", b"", bytes(12)))
    write("digest", "sha384_iterated", seed(0, 9, 0x20, 100, 4, bytes(range(111)), b"\x6f\x01", b"pepper!!", bytes(12)))
    write("digest", "sha512_two_blocks", seed(1, 10, 0, 130, 5, bytes(range(240)), b"\x80\x11", b"NaCl", bytes(12)))
    write("digest", "sha3_256_rate_edge", seed(0, 12, 0x10, 40, 6, bytes(135), b"\x87\x01", b"s", bytes(12)))
    write("digest", "sha3_512_rate_edge", seed(1, 14, 0, 200, 7, bytes(range(143)), b"\x47\x01", b"", bytes(12)))


def rsa_seeds():
    rng = random.Random(2048)

    def is_probable_prime(n):
        if n < 2:
            return False
        for small in (2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37):
            if n % small == 0:
                return n == small
        d, r = n - 1, 0
        while d % 2 == 0:
            d //= 2
            r += 1
        for _ in range(24):
            x = pow(rng.randrange(2, n - 1), d, n)
            if x in (1, n - 1):
                continue
            for _ in range(r - 1):
                x = pow(x, 2, n)
                if x == n - 1:
                    break
            else:
                return False
        return True

    def prime(bits):
        while True:
            c = rng.getrandbits(bits) | (3 << (bits - 2)) | 1
            if is_probable_prime(c):
                return c

    def key(k):
        e = 65537
        while True:
            p, q = prime(4 * k), prime(4 * k)
            if p == q or (p - 1) % e == 0 or (q - 1) % e == 0:
                continue
            if p < q:
                p, q = q, p
            d = pow(e, -1, (p - 1) * (q - 1))
            return dict(k=k, n=p * q, e=e, d=d, p=p, q=q, dp=d % (p - 1), dq=d % (q - 1), qinv=pow(q, -1, p))

    def num(x):
        return x.to_bytes(max(1, (x.bit_length() + 7) // 8), "big")

    def item(b):
        return be32(len(b)) + b

    def public_blob(key, k=None):
        return be32(key["k"] if k is None else k) + item(num(key["n"])) + item(num(key["e"]))

    def private_blob(key, k=None, **changes):
        v = dict(key, **changes)
        return be32(v["k"] if k is None else k) + b"".join(
            item(num(v[name])) for name in ("n", "d", "p", "q", "dp", "dq", "qinv"))

    def mask_gen(z, length):
        # The counter after z is the byte offset of its block: 0, 20, 40, ...
        out, counter = b"", 0
        while len(out) < length:
            out += hashlib.sha1(z + be32(counter)).digest()
            counter += 20
        return out[:length]

    def xor(a, b):
        return bytes(x ^ y for x, y in zip(a, b))

    def encrypt(key, message):
        k, out = key["k"], b""
        label = hashlib.sha1(bytes(4)).digest()
        for pos in range(0, len(message), k - 42):
            chunk = message[pos:pos + k - 42]
            db = label + bytes(k - 21 - 20 - len(chunk) - 1) + b"\x01" + chunk
            while True:
                seed = bytes(rng.getrandbits(8) for _ in range(20))
                masked_db = xor(db, mask_gen(seed, k - 21))
                em = xor(seed, mask_gen(masked_db, 20)) + masked_db
                if int.from_bytes(em, "big") < key["n"]:
                    break
            out += pow(int.from_bytes(em, "big"), key["e"], key["n"]).to_bytes(k, "big")
        return out

    def sign(key, data):
        k = key["k"]
        block = b"\x01" + b"\xff" * (k - 23) + b"\x00" + hashlib.sha1(data).digest()
        return pow(int.from_bytes(block, "big"), key["d"], key["n"]).to_bytes(k, "big")

    def seed(mode, *parts):
        return bytes([mode]) + b"".join(part(x) for x in parts)

    big = key(256)
    small = key(64)
    message = bytes(range(256)) + b"two blocks of 2048-bit RSA"
    write("rsa", "import_2048_cipher",
          seed(0x04, public_blob(big), private_blob(big), message, encrypt(big, message)))
    write("rsa", "import_2048_private_only_signature",
          seed(0x0A, b"", private_blob(big), b"signed data", sign(big, b"signed data")))
    # An even d matches neither dP and dQ nor any exponent: no CRT, no check
    # exponent, two computations per block (the slowest private half alone).
    write("rsa", "import_2048_even_d",
          seed(0x02, b"", private_blob(big, d=big["d"] + 1), message, encrypt(big, message)))
    # A 2048-bit e (and d): every public step costs a full exponentiation.
    phi = (big["p"] - 1) * (big["q"] - 1)
    while True:
        e = rng.getrandbits(2040) | (1 << 2039) | 1
        try:
            d = pow(e, -1, phi)
            break
        except ValueError:
            continue
    wide = dict(big, e=e, d=d, dp=d % (big["p"] - 1), dq=d % (big["q"] - 1))
    write("rsa", "import_2048_large_e",
          seed(0x06, public_blob(wide), private_blob(wide), message, encrypt(wide, message)))
    # Numbers longer than k: refused on import whatever their size.
    write("rsa", "import_oversized_e",
          seed(0x00, public_blob(dict(big, e=rng.getrandbits(8 * 300) | 1)), b"", b"data", b""))
    write("rsa", "import_oversized_d",
          seed(0x02, b"", private_blob(small, d=rng.getrandbits(8 * 5000)), b"data", b""))
    # k far above the numbers: imports work; Encrypt and Sign refuse, Decrypt
    # reads 4096-byte blocks modulo a 512-bit n.
    write("rsa", "import_k4096_small_numbers",
          seed(0x00, public_blob(small, k=4096), private_blob(small, k=4096), b"data", bytes(range(256)) * 16))
    # A full 4096-byte modulus (import and export only), the last part taking the rest of the input.
    n4096 = rng.getrandbits(8 * 4096) | (1 << (8 * 4096 - 1)) | 1
    write("rsa", "import_k4096_full_modulus",
          bytes([0x00]) + part(be32(4096) + item(num(n4096)) + item(b"\x03")) + part(b"") + part(b"")
          + b"\xff\xff" + bytes(range(256)) * 20)
    # k outside 43 ... 4096: every operation refuses before any work.
    write("rsa", "import_k_too_large",
          seed(0x00, public_blob(small, k=5000), private_blob(small, k=5000), b"data", bytes(5000)))
    write("rsa", "import_k_too_small",
          seed(0x02, public_blob(small, k=42), private_blob(small, k=42), b"data", bytes(42)))
    # Moduli no blinding number can be drawn for (2), or inverted for (even).
    write("rsa", "import_modulus_two",
          seed(0x02, b"", private_blob(dict(small, n=2, d=1, p=1, q=2, dp=1, dq=1, qinv=1)), b"data", bytes(64)))
    write("rsa", "import_even_modulus",
          seed(0x02, b"", private_blob(dict(small, n=small["n"] + 1)), b"data", bytes(63) + b"\x05"))
    # Generated keys whose first prime is 1 modulo 65537, so that e steps on
    # to the next prime (the seed was found by trying "e steps 0", "e steps 1", ...).
    write("rsa", "keygen_e_steps", seed(0x01, b"e steps 280216", b"seed two", b"data", b""))
    # Generated keys: a ciphertext of zeros decrypts to no valid block.
    write("rsa", "keygen_zero_cipher", seed(0x01, b"seed one", b"seed two", b"data", bytes(64)))
    write("rsa", "keygen_128_adx_sha", seed(0x0F, b"first seed", b"second seed", b"x" * 200, b""))
    # Blocks the harness encodes: no separator byte, another label, a separator that is not 01.
    write("rsa", "decode_no_separator", seed(0x11, b"seed one", b"seed two", b"\x00", b""))
    write("rsa", "decode_wrong_label", seed(0x15, b"seed one", b"seed two", b"\x01label", b""))
    write("rsa", "decode_any_separator", seed(0x19, b"seed one", b"seed two", b"\x00\x00\x00\x9fmessage", b""))


def bigint_seeds():
    def seed(control, field, u, v, m, e):
        return bytes([control]) + be32(field) + part(u) + part(v) + part(m) + part(e)

    def num(x, length=None):
        return x.to_bytes(length or max(1, (x.bit_length() + 7) // 8), "big")

    rng = random.Random(64)
    big = rng.getrandbits(8 * 300)
    write("bigint", "zeros", seed(0, 0, b"", b"\x00\x00", b"", b""))
    write("bigint", "ones", seed(1, 1, b"\x01", b"\x01", b"\x01", b"\x01"))
    # Quotient digits at the limb boundaries of both widths: 2^64 - 1, 2^32, 2^128 - 1.
    write("bigint", "limb_edges", seed(0, 64, num(2**192 - 1), num(2**64 - 1), num(2**128 - 1), num(2**32)))
    write("bigint", "long_division", seed(0, 0x12345678, num(big), num(big >> 1000 | 1), num(rng.getrandbits(1024) | 1),
                                          num(rng.getrandbits(1024))))
    # An even modulus (no Montgomery form) and a one-limb one.
    write("bigint", "even_modulus", seed(0, 7, num(rng.getrandbits(900)), num(12), num(rng.getrandbits(512) << 1),
                                         num(rng.getrandbits(300))))
    write("bigint", "one_limb_modulus", seed(0, 3, num(rng.getrandbits(200)), num(97), num(0xFFFFFFFFFFFFFFC5),
                                             num(65537)))
    write("bigint", "inverse_coprime", seed(0, 1, num(65537), num(2**61 - 1), num((2**127 - 1) * (2**89 - 1)),
                                            num(3)))
    # Prime search: from a small number (every candidate below 20393 is a table prime),
    # across several sieve windows, and at 2047 = 23 * 89, a strong pseudoprime to base 2.
    write("bigint", "primes_small_start", seed(1, 0x7FF, num(3), b"", b"", b""))
    write("bigint", "primes_large_start", seed(1, 0x700, num(rng.getrandbits(256) | 2**255), b"", b"", b""))
    write("bigint", "strong_pseudoprime", seed(1, 10, num(2047), num(2047), num(2047), num(2046)))


def compression_seeds():
    # control: bit 0 format (0 ZIP, 1 ZLIB) | limit: bits 1..4 eighths of the stream's length, bits 5..7 thousands
    import zlib

    def stream(fmt, data, level=6, strategy=zlib.Z_DEFAULT_STRATEGY, zdict=None):
        args = {"zdict": zdict} if zdict else {}
        c = zlib.compressobj(level, zlib.DEFLATED, -15 if fmt == 0 else 15, 8, strategy, **args)
        return c.compress(data) + c.flush()

    rng = random.Random(8)
    text = b"".join(rng.choice([b"the ", b"packet ", b"literal ", b"data\n", b"zero "]) for _ in range(800))
    noise = bytes(rng.getrandbits(8) for _ in range(600))
    for fmt, name in ((0, "zip"), (1, "zlib")):
        no_limit = fmt | 0xE0 | 0x1E  # 7000 bytes plus 15/8 of the length
        write("compression", f"{name}_text", bytes([no_limit]) + stream(fmt, text))
        write("compression", f"{name}_stored", bytes([no_limit]) + stream(fmt, noise, level=0))
        write("compression", f"{name}_fixed", bytes([no_limit]) + stream(fmt, text[:300], strategy=zlib.Z_FIXED))
        write("compression", f"{name}_huffman", bytes([no_limit]) + stream(fmt, text, strategy=zlib.Z_HUFFMAN_ONLY))
        write("compression", f"{name}_rle", bytes([no_limit]) + stream(fmt, noise[:50] * 20, strategy=zlib.Z_RLE))
        write("compression", f"{name}_empty", bytes([fmt]) + stream(fmt, b""))
        write("compression", f"{name}_trailing", bytes([no_limit]) + stream(fmt, text[:200]) + b"trailing bytes")
        # A bomb: 1 MiB of zeros in about 1 KB, under a limit of 2000 bytes.
        write("compression", f"{name}_bomb", bytes([fmt | 0x40]) + stream(fmt, bytes(1 << 20), level=9))
        # The limit at the output's size exactly: 1000 bytes of text.
        write("compression", f"{name}_at_limit", bytes([fmt | 0x20]) + stream(fmt, text[:1000]))
        # Truncated, and refers to a dictionary it does not carry.
        write("compression", f"{name}_truncated", bytes([no_limit]) + stream(fmt, text)[:-7])
        write("compression", f"{name}_dictionary", bytes([no_limit]) + stream(fmt, text[:500], zdict=text[500:1500]))
    write("compression", "zip_block_type_3", bytes([0xFE, 0x07]))
    write("compression", "zlib_bad_adler", bytes([0xFF]) + stream(1, text)[:-1] + b"\x00")


def aead_seeds():
    # control: mode (0 OCB, 1 EAX, 2 GCM) | 4 Twofish | AES key (0: 16, 1: 24, 2: 32 bytes) << 3
    #          | 0x20 in place | 0x40 AES instructions first | 0x80 carry-less multiply first;
    # position and flip: the byte changed in ciphertext || tag || nonce || associated data
    def seed(control, position, flip, key, nonce, ad, plain, foreign):
        return (bytes([control]) + struct.pack(">H", position) + bytes([flip])
                + part(key) + part(nonce) + part(ad) + part(plain) + part(foreign))

    counting = bytes(range(40))
    # The OCB sample with 40 bytes of both, its sealed message as the foreign bytes (which open).
    ocb13 = bytes.fromhex("D5CA91748410C1751FF8A2F618255B68A0A12E093FF454606E59F9C1D0DDC54B"
                          "65E8628E568BAD7AED07BA06A4A69483A7035490C5769E60")
    write("aead", "ocb_sample", seed(0x40 | 0x80, 10, 0x80, bytes(range(16)), bytes.fromhex("BBAA9988776655443322110D"),
                                     counting, counting, ocb13))
    # The EAX paper's last vector.
    eax10 = bytes.fromhex("cb8920f87a6c75cff39627b56e3ed197c552d295a7cfc46afc253b4652b1af3795b124ab6e")
    write("aead", "eax_paper", seed(0x01 | 0x40, 30, 0x01, bytes.fromhex("8395fcf1e95bebd697bd010bc766aac3"),
                                    bytes.fromhex("22e7add93cfc6393c57ec0b3c17d6b44"), bytes.fromhex("126735fcc320d25a"),
                                    bytes.fromhex("ca40d7446e545ffaed3bd12a740a659ffbbb3ceab7"), eax10))
    # The GCM paper's test case 4, and test case 18's inputs (AES-256, a 60-byte IV) in place.
    k = bytes.fromhex("feffe9928665731c6d6a8f9467308308")
    aad = bytes.fromhex("feedfacedeadbeeffeedfacedeadbeefabaddad2")
    p60 = bytes.fromhex("d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a72"
                        "1c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de657ba637b39")
    iv60 = bytes.fromhex("9313225df88406e555909c5aff5269aa6a7a9538534f7da1e4c303d2a318a728"
                         "c3c0c95156809539fcf0e2429a6b525416aedbf5a0de6a57a637b39b")
    sealed4 = bytes.fromhex("42831ec2217774244b7221b784d0d49ce3aa212f2c02a4e035c17e2329aca12e"
                            "21d514b25466931c7d8f6a5aac84aa051ba30b396a0aac973d58e091"
                            "5bc94fbc3221a5db94fae95ae7121a47")
    write("aead", "gcm_case_4", seed(0x02 | 0x40 | 0x80, 65, 0x02, k, bytes.fromhex("cafebabefacedbaddecaf888"),
                                     aad, p60, sealed4))
    write("aead", "gcm_iv60_aes256", seed(0x02 | 2 << 3 | 0x20, 100, 0x40, k + k, iv60, aad, p60, bytes(20)))
    # Twofish in each mode with OpenPGP's nonce sizes, several batches of blocks and a partial one.
    text = bytes(i * 7 & 0xFF for i in range(1200))
    write("aead", "twofish_ocb", seed(0x00 | 0x04 | 0x20, 1215, 0x10, bytes(range(32)), bytes(range(15)), b"\x14\x01\x02",
                                      text[:1000], bytes(48)))
    write("aead", "twofish_eax", seed(0x01 | 0x04, 3, 0xff, bytes(range(32)), bytes(range(16)), bytes(5), text, b""))
    write("aead", "twofish_gcm", seed(0x02 | 0x04 | 0x80, 700, 0x01, bytes(range(32)), bytes(range(12)), bytes(13),
                                      text[:777], bytes(16)))
    # AES-192 OCB over 70 blocks (the 256-bit loop and its 128-bit tail), AES instructions first.
    write("aead", "ocb_aes192_long", seed(0x00 | 1 << 3 | 0x40, 4000, 0x08, bytes(range(24)), bytes(range(15)),
                                          bytes(50), text * 2, b""))
    # Nonces the mode refuses (16 bytes for OCB, none for EAX) and nothing at all for GCM.
    write("aead", "ocb_nonce_16", seed(0x00, 0, 1, bytes(16), bytes(16), b"", b"abc", b""))
    write("aead", "eax_no_nonce", seed(0x01, 0, 1, bytes(16), b"", b"a", b"", b""))
    write("aead", "gcm_empty", seed(0x02 | 0x40, 0, 1, b"", b"\x00", b"", b"", b""))


def der(tag, content):
    n = len(content)
    if n < 0x80:
        return bytes([tag, n]) + content
    body = n.to_bytes((n.bit_length() + 7) // 8, "big")
    return bytes([tag, 0x80 | len(body)]) + body + content


def pem(label, data):
    import base64
    text = base64.b64encode(data).decode()
    lines = [text[i:i + 64] for i in range(0, len(text), 64)]
    return ("-----BEGIN %s-----\n%s\n-----END %s-----\n" % (label, "\n".join(lines), label)).encode()


def rsa_keys_seeds():
    # The key of the published OAEP example 1.1 as PKCS #8; the other files
    # are cut from it: its RSAPrivateKey, and n and e for the public ones.
    pkcs8 = bytes.fromhex(
        "30820276020100300d06092a864886f70d0101010500048202603082025c02010002818100a8b3b284af8eb50b387034a860f146c4919f318763cd6c5598c8ae"
        "4811a1e0abc4c7e0b082d693a5e7fced675cf4668512772c0cbc64a742c6c630f533c8cc72f62ae833c40bf25842e984bb78bdbf97c0107d55bdb662f5c4e0fa"
        "b9845cb5148ef7392dd3aaff93ae1e6b667bb3d4247616d4f5ba10d4cfd226de88d39f16fb020301000102818053339cfdb79fc8466a655c7316aca85c55fd8f"
        "6dd898fdaf119517ef4f52e8fd8e258df93fee180fa0e4ab29693cd83b152a553d4ac4d1812b8b9fa5af0e7f55fe7304df41570926f3311f15c4d65a732c4831"
        "16ee3d3d2d0af3549ad9bf7cbfb78ad884f84d5beb04724dc7369b31def37d0cf539e9cfcdd3de653729ead5d1024100d32737e7267ffe1341b2d5c0d150a81b"
        "586fb3132bed2f8d5262864a9cb9f30af38be448598d413a172efb802c21acf1c11c520c2f26a471dcad212eac7ca39d024100cc8853d1d54da630fac004f471"
        "f281c7b8982d8224a490edbeb33d3e3d5cc93c4765703d1dd791642f1f116a0dd852be2419b2af72bfe9a030e860b0288b5d7702400e12bf1718e9cef5599ba1"
        "c3882fe8046a90874eefce8f2ccc20e4f2741fb0a33a3848aec9c9305fbecbd2d76819967d4671acc6431e4037968db37878e695c102410095297b0f95a2fa67"
        "d00707d609dfd4fc05c89dafc2ef6d6ea55bec771ea333734d9251e79082ecda866efef13c459e1a631386b7e354c899f5f112ca85d7158302404f456c502493"
        "bdc0ed2ab756a3a6ed4d67352a697d4216e93212b127a63d5411ce6fa98d5dbefd73263e3728142743818166ed7dd63687dd2a8ca1d2f4fbd8e1")
    pkcs1 = pkcs8[26:]
    n_element = pkcs1[7:7 + 3 + 0x81]
    e_element = pkcs1[7 + 3 + 0x81:7 + 3 + 0x81 + 5]
    pkcs1_public = der(0x30, n_element + e_element)
    algorithm = bytes.fromhex("300d06092a864886f70d0101010500")
    spki = der(0x30, algorithm + der(0x03, b"\x00" + pkcs1_public))
    for name, data in (("pkcs8", pkcs8), ("pkcs1", pkcs1), ("pkcs1_public", pkcs1_public), ("spki", spki)):
        write("rsa_keys", "der_" + name, b"\x02" + data)
    for label, data in (("PRIVATE KEY", pkcs8), ("RSA PRIVATE KEY", pkcs1), ("RSA PUBLIC KEY", pkcs1_public),
                        ("PUBLIC KEY", spki)):
        write("rsa_keys", "pem_" + label.lower().replace(" ", "_"), b"\x03" + b"text before\r\n" + pem(label, data))
    # Files that are refused: cut short, a length past the end, a non-minimal
    # integer, another algorithm, an encrypted-looking structure.
    write("rsa_keys", "truncated", b"\x00" + pkcs8[:300])
    write("rsa_keys", "length_past_end", b"\x00" + pkcs8[:2] + bytes([2, 0x77]) + pkcs8[4:])
    write("rsa_keys", "non_minimal_n", b"\x00" + pkcs8[:37] + b"\x00" + pkcs8[38:])
    write("rsa_keys", "dh_algorithm", b"\x00" + pkcs8[:11] + bytes.fromhex("2a864886f70d010301") + pkcs8[20:])
    write("rsa_keys", "octets_after_algorithm", b"\x00" + der(0x30, algorithm + der(0x04, pkcs1)))


SEEDS = {"cipher": cipher_seeds, "aes_modes": aes_modes_seeds, "blob": blob_seeds, "codec": codec_seeds,
         "digest": digest_seeds, "rsa": rsa_seeds, "bigint": bigint_seeds,
         "compression": compression_seeds, "aead": aead_seeds, "rsa_keys": rsa_keys_seeds}

if __name__ == "__main__":
    for target in sys.argv[1:] or SEEDS:
        SEEDS[target]()
