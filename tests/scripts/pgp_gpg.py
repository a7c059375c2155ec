#!/usr/bin/python3
"""Password-encrypted messages exchanged between Valdergast.ZELCryptoPGP and GnuPG, rnp and OpenPGP.js.

Two directions, in one run of pgp_gpg.js in the Wine prefix:

- The class encrypts: every cipher id (2, 3, 4, 7, 8, 9, 10) with every
  string-to-key type (0, 1, 3) and hash id (1, 2, 3), plus an empty and a
  plaintext of about 1 MB, half of them armored with Enarmor.  gpg decrypts
  each one (with --ignore-mdc-error: the messages carry no modification
  detection code) and must give back the exact plaintext.
- GnuPG encrypts: gpg --rfc2440 -z 0 --symmetric with every cipher, type and
  digest, reading the plaintext from a file (old-format packet headers) or
  from standard input (new-format headers with partial body lengths), binary
  or --armor (64-character lines, no Version line, LF line ends), from 0 bytes
  to a few MB.  The class (Dearmor for the armored ones, then Decrypt) must
  give back the exact plaintext and take the message's cipher, type and hash
  as its settings.
- The newer formats: the class writes integrity-protected messages (format
  1, with and without compression) that a plain gpg -d must read (no
  --ignore-mdc-error), RFC 9580 messages (format 2, each AEAD mode) that
  OpenPGP.js reads and LibrePGP AEAD messages (format 3) that rnp reads;
  and it reads gpg -c with GnuPG's defaults (compressed, integrity-
  protected), rnp -c --aead, and OpenPGP.js's RFC 9580 messages (each AEAD
  mode, Argon2), taking their format, AEAD mode and compression.  rnp and
  OpenPGP.js cases are left out, with a note, where the tool is missing.

Plaintexts come from os.urandom and every case has its own random printable
passphrase.  Data passes through text files in a temporary folder: base64 in
one line, armored texts as they are.

    pgp_gpg.py [--seed N] [--gpg PATH] <harness.js> <zelwine command...>

The zelwine command is the prefix that selects the preset and build tree, for
instance `tools/zelwine --build build/win32 win32`.  The seed (printed) fixes
the case parameters; the plaintexts and passphrases are new every run and
failing cases are kept in the printed messages.
"""

import argparse
import re
import base64
import concurrent.futures
import os
import random
import shutil
import subprocess
import sys
import tempfile

# The shared JScript checks, appended to the harness as to every JScript suite.
CHECKS = os.path.join(os.path.dirname(os.path.realpath(__file__)), "checks.js")
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.realpath(__file__))))
OPENPGP_TOOL = os.path.join(ROOT, "tests", "node", "openpgp_tool.mjs")

CIPHERS = {2: "3DES", 3: "CAST5", 4: "BLOWFISH", 7: "AES", 8: "AES192", 9: "AES256", 10: "TWOFISH"}
HASHES = {1: "MD5", 2: "SHA1", 3: "RIPEMD160"}
MODES = (0, 1, 3)
SIZES = (0, 1, 15, 16, 17, 185, 186, 191, 192, 8377, 8378)


def passphrase():
    """A random printable passphrase of 1 to 40 characters (no blanks)."""
    length = 1 + os.urandom(1)[0] % 40
    return "".join(chr(0x21 + b % 94) for b in os.urandom(length))


def plaintext(rng):
    size = rng.choice(SIZES + (rng.randrange(1, 70000),) * 3)
    return os.urandom(size)


class Gpg:
    """gpg with a home directory of its own."""

    def __init__(self, program, folder):
        self.program = program
        self.home = os.path.join(folder, "gnupg")
        os.mkdir(self.home, 0o700)

    def run(self, password, args, stdin=None):
        # The passphrase goes through a file: one that starts with "-" is
        # not taken as an argument.
        descriptor, password_file = tempfile.mkstemp(dir=self.home)
        with os.fdopen(descriptor, "w") as out:
            out.write(password + "\n")
        command = [self.program, "--homedir", self.home, "--batch", "--no-tty", "--quiet", "--pinentry-mode",
                   "loopback", "--passphrase-file", password_file] + args
        source = open(stdin, "rb") if stdin else subprocess.DEVNULL
        try:
            result = subprocess.run(command, stdin=source, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        finally:
            if stdin:
                source.close()
            os.remove(password_file)
        return result.returncode, result.stderr.decode("utf-8", "replace").strip()

    def stop(self):
        subprocess.run(["gpgconf", "--homedir", self.home, "--kill", "all"], stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)


def other_tools():
    """(rnp available, OpenPGP.js available)."""
    rnp = shutil.which("rnp") is not None
    node = shutil.which("node") is not None and os.path.isdir(
        os.path.join(ROOT, "tests", "node", "node_modules", "openpgp"))
    return rnp, node


def rnp_run(folder, args):
    home = os.path.join(folder, "rnp-home")
    os.makedirs(home, exist_ok=True)
    result = subprocess.run(["rnp", "--homedir", home] + args, capture_output=True, stdin=subprocess.DEVNULL)
    return result.returncode, (result.stdout + result.stderr).decode(errors="replace")


def node_run(args, data):
    result = subprocess.run(["node", OPENPGP_TOOL] + args, input=data, capture_output=True, timeout=300)
    return result.returncode, result.stdout, result.stderr.decode(errors="replace")


def write_base64(path, data):
    with open(path, "w", newline="") as out:
        out.write(base64.b64encode(data).decode("ascii"))


def read_base64(path):
    with open(path, newline="") as source:
        return base64.b64decode(source.read())


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("--gpg", default="gpg")
    parser.add_argument("harness")
    parser.add_argument("zelwine", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    if not args.zelwine:
        parser.error("the zelwine command is missing")
    if not shutil.which(args.gpg):
        print(f"{args.gpg} not found", flush=True)
        return 1

    seed = args.seed if args.seed is not None else int.from_bytes(os.urandom(4), "big")
    print(f"seed {seed}", flush=True)
    rng = random.Random(seed)
    problems = []

    with tempfile.TemporaryDirectory() as folder:
        gpg = Gpg(args.gpg, folder)
        try:
            lines = []
            ours = {}    # id -> (description, plaintext, password, armored)
            theirs = {}  # id -> (description, plaintext, expected settings bytes)

            # The class encrypts: the whole product of cipher, type and hash.
            params = [(c, m, h) for c in CIPHERS for m in MODES for h in HASHES]
            extra = [(rng.choice(list(CIPHERS)), rng.choice(MODES), rng.choice(list(HASHES))) for _ in range(4)]
            for n, (cipher, mode, hash_id) in enumerate(params + extra):
                case_id = f"a{n}"
                if n >= len(params):
                    data = b"" if n - len(params) < 2 else os.urandom((1 << 20) + rng.randrange(1000))
                else:
                    data = plaintext(rng)
                armored = rng.random() < 0.5 if n < len(params) else (n - len(params)) % 2 == 1
                count = rng.choice([0, 96, rng.randrange(0x91)])
                password = passphrase()
                write_base64(os.path.join(folder, case_id + ".plain"), data)
                lines.append(f"encrypt {case_id} {hash_id} {cipher} {mode} {count} {int(armored)} "
                             f"{password.encode('ascii').hex()}")
                what = (f"{case_id}: class encrypts {len(data)} bytes, cipher {cipher}, type {mode}, hash {hash_id}, "
                        f"count {count}, {'armored' if armored else 'binary'}")
                ours[case_id] = (what, data, password, armored)

            # The class encrypts in the newer formats: each is read by the
            # tool that writes it.
            have_rnp, have_node = other_tools()
            if not have_rnp:
                print("rnp not found: format 3 messages not exchanged", flush=True)
            if not have_node:
                print("node or OpenPGP.js missing: format 2 messages not exchanged", flush=True)
            readers = {}  # id -> gpg, rnp or node
            new_formats = [(1, c, rng.choice((0, 1, 2)), 2, "gpg") for c in CIPHERS]
            if have_node:
                new_formats += [(2, rng.choice((7, 8, 9)), rng.choice((0, 1, 2)), aead, "node") for aead in (1, 2, 3)]
            if have_rnp:
                new_formats += [(3, rng.choice((7, 9, 10)), rng.choice((0, 1, 2)), aead, "rnp") for aead in (1, 2)]
            for n, (fmt, cipher, compression, aead, reader) in enumerate(new_formats):
                case_id = f"f{n}"
                data = plaintext(rng) if n % 3 else os.urandom((1 << 20) + rng.randrange(1000))
                password = passphrase()
                write_base64(os.path.join(folder, case_id + ".plain"), data)
                hash_id = rng.choice((2, 8, 10))
                lines.append(f"encrypt {case_id} {hash_id} {cipher} 3 96 0 {password.encode('ascii').hex()} "
                             f"{fmt} {compression} {aead}")
                what = (f"{case_id}: class encrypts {len(data)} bytes in format {fmt}, cipher {cipher}, "
                        f"compression {compression}, AEAD {aead}, for {reader}")
                ours[case_id] = (what, data, password, False)
                readers[case_id] = reader

            # GnuPG encrypts: every cipher, type and digest again, from a file
            # or from standard input, binary or armored; then the sizes at
            # both ends.
            gpg_cases = []
            for n, (cipher, mode, hash_id) in enumerate(params):
                gpg_cases.append((cipher, mode, hash_id, plaintext(rng), rng.random() < 0.5, rng.random() < 0.5))
            for size, from_stdin, armored in [(0, False, False), (0, True, True),
                                              ((3 << 20) + rng.randrange(1000), True, False),
                                              ((2 << 20) + rng.randrange(1000), False, True)]:
                gpg_cases.append((rng.choice(list(CIPHERS)), 3, rng.choice(list(HASHES)), os.urandom(size),
                                  from_stdin, armored))

            def gpg_encrypt(n, case):
                cipher, mode, hash_id, data, from_stdin, armored = case
                case_id = f"b{n}"
                password = passphrase()
                plain_file = os.path.join(folder, case_id + ".bin")
                with open(plain_file, "wb") as out:
                    out.write(data)
                message_file = os.path.join(folder, case_id + ".msg")
                count = rng_counts[n]
                options = ["--rfc2440", "-z", "0", "--cipher-algo", CIPHERS[cipher], "--s2k-mode", str(mode),
                           "--s2k-digest-algo", HASHES[hash_id], "--s2k-count", str(count), "--yes",
                           "-o", message_file + (".gpg" if not armored else "")]
                if armored:
                    options.append("--armor")
                options.append("--symmetric")
                if not from_stdin:
                    options.append(plain_file)
                code, log = gpg.run(password, options, stdin=plain_file if from_stdin else None)
                what = (f"{case_id}: gpg encrypts {len(data)} bytes from {'stdin' if from_stdin else 'a file'}, "
                        f"{CIPHERS[cipher]}, type {mode}, {HASHES[hash_id]}, count {count}, "
                        f"{'armored' if armored else 'binary'}")
                if code:
                    return case_id, what, None, f"gpg failed: {log}"
                if not armored:
                    with open(message_file + ".gpg", "rb") as source:
                        message = source.read()
                    write_base64(message_file, message)
                    # The packet headers are the kind each input gives: from
                    # a file (not empty) old-format definite lengths, from
                    # standard input a new-format data packet in partial
                    # lengths (once there is more than one chunk of data).
                    data_at = 2 + message[1]
                    if from_stdin and len(data) >= 9000 and not (
                            message[data_at] == 0xC9 and 224 <= message[data_at + 1] < 255):
                        return case_id, what, None, f"no partial lengths: {message[:data_at + 2].hex()}"
                    if not from_stdin and data and not (message[0] == 0x8C and message[data_at] & 0xC0 == 0x80):
                        return case_id, what, None, f"no old-format headers: {message[:data_at + 2].hex()}"
                # The settings bytes an Encrypt after the Decrypt must start with.
                expected = bytes([0xC3, {0: 4, 1: 12, 3: 13}[mode], 4, cipher, mode, hash_id]).hex()
                line = f"decrypt {case_id} {int(armored)} {password.encode('ascii').hex()}"
                return case_id, what, (data, expected), line

            rng_counts = [rng.choice([1024, 65536, rng.randrange(1024, 1 << 21)]) for _ in gpg_cases]
            with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
                made = list(pool.map(lambda item: gpg_encrypt(*item), enumerate(gpg_cases)))
            for case_id, what, expected, line in made:
                if expected is None:
                    problems.append(f"{what}: {line}")
                    continue
                theirs[case_id] = (what, expected[0], expected[1])
                lines.append(line)

            # The newer formats from each tool: (id, what, plaintext,
            # expected "<format> <aead> <compression>").
            tool_cases = []
            for n, (algo, compress) in enumerate([("AES256", "zip"), ("TWOFISH", "zlib"), ("AES", "zip")]):
                case_id = f"g{n}"
                data = b"text that compresses, " * rng.randrange(1, 5000)
                password = passphrase()
                plain_file = os.path.join(folder, case_id + ".bin")
                with open(plain_file, "wb") as out:
                    out.write(data)
                message_file = os.path.join(folder, case_id + ".gpg")
                code, log = gpg.run(password, ["--cipher-algo", algo, "--compress-algo", compress, "--yes",
                                               "-o", message_file, "-c", plain_file])
                what = f"{case_id}: gpg -c {algo} {compress} ({len(data)} bytes)"
                if code:
                    problems.append(f"{what}: gpg failed: {log}")
                    continue
                with open(message_file, "rb") as source:
                    tool_cases.append((case_id, what, data, source.read(), password,
                                       f"1 2 {1 if compress == 'zip' else 2}"))
            if have_rnp:
                for n, (aead, cipher) in enumerate([("ocb", "AES128"), ("eax", "AES256"), ("ocb", "Twofish")]):
                    case_id = f"r{n}"
                    data = os.urandom(rng.randrange(0, 300000))
                    password = passphrase()
                    plain_file = os.path.join(folder, case_id + ".bin")
                    with open(plain_file, "wb") as out:
                        out.write(data)
                    message_file = os.path.join(folder, case_id + ".rnp")
                    code, log = rnp_run(folder, ["-c", "--password", password, f"--aead={aead}", "--cipher", cipher,
                                                 "-z", "0", plain_file, "--output", message_file])
                    what = f"{case_id}: rnp -c --aead={aead} {cipher} ({len(data)} bytes)"
                    if code:
                        problems.append(f"{what}: rnp failed: {log}")
                        continue
                    with open(message_file, "rb") as source:
                        tool_cases.append((case_id, what, data, source.read(), password,
                                           f"3 {1 if aead == 'eax' else 2} 0"))
            if have_node:
                for n, (aead, s2k, compress) in enumerate([("ocb", "iterated", "none"), ("eax", "argon2", "zip"),
                                                           ("gcm", "iterated", "zlib")]):
                    case_id = f"j{n}"
                    data = os.urandom(rng.randrange(0, 300000))
                    password = passphrase()
                    code, message, log = node_run(["encrypt", "--password", password, "--aead", aead, "--s2k", s2k,
                                                   "--compress", compress], data)
                    what = f"{case_id}: OpenPGP.js --aead {aead} --s2k {s2k} --compress {compress} ({len(data)} bytes)"
                    if code:
                        problems.append(f"{what}: OpenPGP.js failed: {log}")
                        continue
                    tool_cases.append((case_id, what, data, message, password,
                                       f"2 {dict(eax=1, ocb=2, gcm=3)[aead]} {dict(none=0, zip=1, zlib=2)[compress]}"))
            for case_id, what, data, message, password, settings in tool_cases:
                write_base64(os.path.join(folder, case_id + ".msg"), message)
                lines.append(f"decrypt {case_id} 0 {password.encode('ascii').hex()}")
                theirs[case_id] = (what, data, settings)

            data_file = os.path.join(folder, "cases.txt")
            with open(data_file, "w", newline="\r\n") as out:
                out.write("\n".join(lines) + "\n")
            windows_path = "Z:" + os.path.realpath(data_file).replace("/", "\\")
            command = args.zelwine + ["script", "--check", "--append", CHECKS, os.path.realpath(args.harness), windows_path]
            harness = subprocess.run(command, stdin=subprocess.DEVNULL)
            if harness.returncode:
                problems.append(f"the harness failed (exit code {harness.returncode})")

            results = {}
            results_file = os.path.join(folder, "results.txt")
            if os.path.exists(results_file):
                with open(results_file, newline="") as source:
                    for line in source.read().splitlines():
                        case_id, status, rest = (line.split(" ", 2) + [""])[:3]
                        results[case_id] = (status, rest)

            # gpg decrypts what the class wrote.
            def gpg_decrypt(case_id):
                what, data, password, armored = ours[case_id]
                status, rest = results.get(case_id, ("missing", ""))
                if status != "ok":
                    return f"{what}: the class failed: {status} {rest}"
                out_file = os.path.join(folder, case_id + ".out")
                message_file = os.path.join(folder, case_id + (".asc" if armored else ".pgp"))
                if armored:
                    shutil.copyfile(out_file, message_file)
                else:
                    with open(message_file, "wb") as out:
                        out.write(read_base64(out_file))
                decrypted = message_file + ".dec"
                reader = readers.get(case_id)
                if reader == "node":
                    with open(message_file, "rb") as source:
                        code, got, log = node_run(["decrypt", "--password", password], source.read())
                    if code:
                        return f"{what}: OpenPGP.js failed: {log}"
                else:
                    if reader == "rnp":
                        code, log = rnp_run(folder, ["--decrypt", "--password", password, message_file,
                                                     "--output", decrypted])
                    else:
                        # Format 1 needs no forgiveness: a plain gpg -d.
                        options = [] if reader == "gpg" else ["--ignore-mdc-error"]
                        code, log = gpg.run(password, options + ["--yes", "-o", decrypted, "-d", message_file])
                    if code:
                        return f"{what}: {reader or 'gpg'} failed: {log}"
                    with open(decrypted, "rb") as source:
                        got = source.read()
                if got != data:
                    return f"{what}: gpg gave {len(got)} bytes that differ from the plaintext"
                return None

            with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
                problems += [p for p in pool.map(gpg_decrypt, sorted(ours)) if p]

            # The class decrypted what gpg wrote.
            for case_id, (what, data, settings) in sorted(theirs.items()):
                status, rest = results.get(case_id, ("missing", ""))
                if status != "ok":
                    problems.append(f"{what}: the class failed: {status} {rest}")
                    continue
                got = read_base64(os.path.join(folder, case_id + ".got"))
                if got != data:
                    problems.append(f"{what}: the class gave {len(got)} bytes that differ from the plaintext")
                head, _, message_settings = rest.partition(" ")
                if re.fullmatch(r"[0-9a-f]{12}", settings):
                    if head != settings or message_settings != "0 2 0":
                        problems.append(f"{what}: settings after Decrypt {rest}, expected {settings} 0 2 0")
                elif message_settings != settings:
                    problems.append(f"{what}: message settings after Decrypt {message_settings}, expected {settings}")

            print(f"class -> tools: {len(ours)} messages; tools -> class: {len(theirs)} messages", flush=True)
        finally:
            gpg.stop()

    for p in problems:
        print("FAIL: " + p, flush=True)
    if problems:
        print(f"{len(problems)} failures with seed {seed}", flush=True)
        return 1
    print("all messages read back exactly", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
