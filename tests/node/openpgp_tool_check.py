#!/usr/bin/env python3
"""Self-test of openpgp_tool.mjs, the OpenPGP.js command the tests use.

Encrypts messages in each mode the tool offers, checks the packets it wrote
(session key packet and data packet versions, cipher, AEAD, string-to-key
and chunk size), decrypts them again with the tool, has GnuPG and rnp
decrypt the version 4 ones with iterated string-to-key (and GnuPG see their compressed packet), and the
tool decrypt what GnuPG writes.  Wrong passwords, altered messages and
wrong command lines fail with a message on standard error and nothing on
standard output.

    openpgp_tool_check.py          exits 77 (skipped) when node is missing
"""
import os
import random
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
TOOL = os.path.join(HERE, "openpgp_tool.mjs")
PASSWORD = "correct horse"

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)
    return condition


def tool(args, data):
    return subprocess.run(["node", TOOL] + args, input=data, capture_output=True, timeout=120)


def packets(message):
    """(tag, first bytes of the body) of each packet; new- and old-format headers, partial lengths."""
    out, pos = [], 0
    while pos < len(message):
        ctb = message[pos]
        pos += 1
        if not ctb & 0x80:
            raise ValueError(f"not a packet header: {ctb:#x}")
        if ctb & 0x40:
            tag, body = ctb & 0x3F, b""
            while True:
                first = message[pos]
                if first < 192:
                    length, pos = first, pos + 1
                elif first < 224:
                    length, pos = ((first - 192) << 8) + message[pos + 1] + 192, pos + 2
                elif first == 255:
                    length, pos = int.from_bytes(message[pos + 1:pos + 5], "big"), pos + 5
                else:  # a partial chunk of 2^(first & 31) bytes; more follow
                    chunk = 1 << (first & 0x1F)
                    body += message[pos + 1:pos + 1 + chunk]
                    pos += 1 + chunk
                    continue
                body += message[pos:pos + length]
                pos += length
                break
        else:
            tag, kind = (ctb >> 2) & 15, ctb & 3
            size = {0: 1, 1: 2, 2: 4}.get(kind)
            length = int.from_bytes(message[pos:pos + size], "big") if size else len(message) - pos
            pos += size or 0
            body = message[pos:pos + length]
            pos += length
        out.append((tag, body))
    return out


def dearmor(text):
    import base64
    lines = text.decode().splitlines()
    start = lines.index("") + 1 if "" in lines else 1
    body = [l for l in lines[start:] if l and not l.startswith("=") and not l.startswith("-----")]
    return base64.b64decode("".join(body))


# (arguments, SKESK version, SEIPD version, cipher id, AEAD id or None, S2K type, chunk size byte or None, compression)
AES = {"aes128": 7, "aes192": 8, "aes256": 9}
AEAD = {"eax": 1, "ocb": 2, "gcm": 3}
MODES = [
    ([], 4, 1, 9, None, 3, None, None),
    (["--v4", "--cipher", "aes128", "--compress", "zip"], 4, 1, 7, None, 3, None, 1),
    (["--v4", "--cipher", "aes192", "--compress", "zlib", "--armor"], 4, 1, 8, None, 3, None, 2),
    (["--v4", "--s2k", "argon2"], 4, 1, 9, None, 4, None, None),
    (["--v6"], 6, 2, 9, 2, 3, 12, None),
    (["--v6", "--aead", "eax", "--s2k", "argon2", "--chunk", "0"], 6, 2, 9, 1, 4, 0, None),
    (["--v6", "--aead", "gcm", "--cipher", "aes128", "--chunk", "4096", "--compress", "zlib"], 6, 2, 7, 3, 3, 6, 2),
    (["--aead", "ocb", "--cipher", "aes192", "--armor"], 6, 2, 8, 2, 3, 12, None),
]


def check_packets(name, message, skesk, seipd, cipher, aead, s2k, chunk):
    try:
        found = packets(message)
    except (ValueError, IndexError) as e:
        check(False, f"{name}: unreadable packets: {e}")
        return
    if not check([t for t, _ in found] == [3, 18], f"{name}: packets {[t for t, _ in found]}, expected [3, 18]"):
        return
    key, data = found[0][1], found[1][1]
    check(key[0] == skesk, f"{name}: session key packet version {key[0]}")
    check(data[0] == seipd, f"{name}: data packet version {data[0]}")
    if skesk == 4:
        check((key[1], key[2]) == (cipher, s2k), f"{name}: cipher {key[1]}, S2K {key[2]}")
    else:
        # version, count of what follows, cipher, AEAD, S2K length, S2K type
        check((key[2], key[3], key[5]) == (cipher, aead, s2k), f"{name}: cipher {key[2]}, AEAD {key[3]}, S2K {key[5]}")
        check((data[1], data[2], data[3]) == (cipher, aead, chunk),
              f"{name}: data packet cipher {data[1]}, AEAD {data[2]}, chunk {data[3]}")


class Gnupg:
    def __init__(self, home):
        self.home = home

    def run(self, args, stdin=None):
        return subprocess.run(["gpg", "--homedir", self.home, "--batch", "--no-tty", "--pinentry-mode", "loopback",
                               "--passphrase", PASSWORD] + args, input=stdin, capture_output=True, timeout=120)


def main():
    if not shutil.which("node"):
        print("node not found: OpenPGP.js tool not checked")
        return 77
    if not os.path.isdir(os.path.join(HERE, "node_modules", "openpgp")):
        print("tests/node/node_modules/openpgp is missing: run tools/deps (npm ci --prefix tests/node)")
        return 1
    have_gpg, have_rnp = shutil.which("gpg"), shutil.which("rnp")
    check(have_gpg and have_rnp, "gpg and rnp are needed (tools/deps installs gnupg and rnp)")
    rng = random.Random(7)
    # Empty, and text across many AEAD chunks and partial-length pieces.
    plains = [b"", b"".join(rng.choice([b"data ", b"packet ", b"line\n"]) for _ in range(8000))]

    with tempfile.TemporaryDirectory() as tmp:
        gpg_home, rnp_home = os.path.join(tmp, "gnupg"), os.path.join(tmp, "rnp")
        os.mkdir(gpg_home, 0o700)
        os.mkdir(rnp_home, 0o700)
        gpg = Gnupg(gpg_home)
        for args, skesk, seipd, cipher, aead, s2k, chunk, compression in MODES:
            for plain in plains:
                name = f"encrypt {' '.join(args) or '(defaults)'} of {len(plain)} bytes"
                r = tool(["encrypt", "--password", PASSWORD] + args, plain)
                if not check(r.returncode == 0 and not r.stderr, f"{name}: exit {r.returncode}, {r.stderr!r}"):
                    continue
                message = r.stdout
                armored = "--armor" in args
                check(message.startswith(b"-----BEGIN PGP MESSAGE-----") == armored, f"{name}: armor is {not armored}")
                check_packets(name, dearmor(message) if armored else message, skesk, seipd, cipher, aead, s2k, chunk)
                r = tool(["decrypt", "--password", PASSWORD], message)
                check(r.returncode == 0 and r.stdout == plain, f"{name}: the tool does not decrypt it: {r.stderr!r}")
                # GnuPG 2.2 and rnp 0.16 read neither version 6 packets nor Argon2.
                if skesk != 4 or s2k == 4:
                    continue
                path = os.path.join(tmp, "message.pgp")
                with open(path, "wb") as f:
                    f.write(message)
                if have_gpg:
                    r = gpg.run(["--decrypt", path])
                    check(r.returncode == 0 and r.stdout == plain, f"{name}: gpg does not decrypt it: {r.stderr!r}")
                    if compression:
                        r = gpg.run(["--list-packets", path])
                        check(f"compressed packet: algo={compression}".encode() in r.stdout,
                              f"{name}: gpg sees no compressed packet of algorithm {compression}")
                if have_rnp:
                    r = subprocess.run(["rnp", "--homedir", rnp_home, "--decrypt", "--password", PASSWORD,
                                        "--output", "-", path], capture_output=True, timeout=120)
                    check(r.returncode == 0 and r.stdout == plain, f"{name}: rnp does not decrypt it: {r.stderr!r}")

        # What GnuPG writes (AES-256 with MDC, compressed or not), the tool reads.
        if have_gpg:
            for options in (["-z", "0"], ["--compress-algo", "zlib"], ["--armor", "--compress-algo", "zip"]):
                path = os.path.join(tmp, "gpg.pgp")
                r = gpg.run(["--yes", "-o", path, "--cipher-algo", "AES256", "--symmetric"] + options, plains[1])
                if check(r.returncode == 0, f"gpg --symmetric {options}: {r.stderr!r}"):
                    with open(path, "rb") as f:
                        r = tool(["decrypt", "--password", PASSWORD], f.read())
                    check(r.returncode == 0 and r.stdout == plains[1], f"the tool does not decrypt gpg {options}")

        # Failures: a message on standard error, nothing on standard output.
        v6 = tool(["encrypt", "--password", PASSWORD, "--v6"], plains[1]).stdout
        v4 = tool(["encrypt", "--password", PASSWORD], plains[1]).stdout
        altered = bytearray(v6)
        altered[len(altered) // 2] ^= 1
        altered4 = bytearray(v4)
        altered4[-5] ^= 1
        refusals = [
            ("wrong password, v6", ["decrypt", "--password", "wrong"], v6, 1),
            ("wrong password, v4", ["decrypt", "--password", "wrong"], v4, 1),
            ("altered v6 message", ["decrypt", "--password", PASSWORD], bytes(altered), 1),
            ("altered v4 message", ["decrypt", "--password", PASSWORD], bytes(altered4), 1),
            ("not a message", ["decrypt", "--password", PASSWORD], b"hello", 1),
            ("--v4 with --aead", ["encrypt", "--password", PASSWORD, "--v4", "--aead", "ocb"], b"x", 2),
            ("unknown AEAD", ["encrypt", "--password", PASSWORD, "--aead", "ccm"], b"x", 2),
            ("chunk size not a power of two", ["encrypt", "--password", PASSWORD, "--chunk", "100"], b"x", 2),
            ("no password", ["encrypt"], b"x", 2),
            ("unknown command", ["sign", "--password", PASSWORD], b"x", 2),
        ]
        for what, args, data, code in refusals:
            r = tool(args, data)
            check(r.returncode == code and r.stdout == b"" and r.stderr.startswith(b"openpgp_tool: "),
                  f"{what}: exit {r.returncode} (expected {code}), stdout {len(r.stdout)} bytes, stderr {r.stderr!r}")

    print(f"{len(MODES)} modes, {len(plains)} plaintexts each: {len(failures)} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
