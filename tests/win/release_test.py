#!/usr/bin/python3
"""Packs this build tree with tools/release and checks the archive.

    release_test.py <win32|win64> <build tree> <project version>

The archive must be named after the project version (given three parts) and
the bitness, hold exactly the shipped files in one folder, carry the build's
DLLs and type library byte for byte (the DLLs of the right bitness, the type
library the same one zelcrypto.dll embeds), the examples as they are in the
source with CR LF line ends, installation notes that fit the bitness, and
the README's sections for script authors as REFERENCE.txt.
"""

import os
import re
import subprocess
import sys
import tempfile
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.realpath(__file__))))

failures = 0


def check(condition, what):
    global failures
    if not condition:
        failures += 1
        print(f"FAIL: {what}", flush=True)
    return condition


def read(path):
    with open(path, "rb") as f:
        return f.read()


def pe_machine(data):
    pe = int.from_bytes(data[0x3C:0x40], "little")
    if data[:2] != b"MZ" or data[pe:pe + 4] != b"PE\0\0":
        return None
    return int.from_bytes(data[pe + 4:pe + 6], "little")


def main():
    arch, tree, version = sys.argv[1], os.path.realpath(sys.argv[2]), sys.argv[3]
    parts = version.split(".")
    version = ".".join((parts + ["0", "0"])[:max(3, len(parts))])
    base = f"zelcrypto-{version}-{arch}"
    other = "win64" if arch == "win32" else "win32"

    with tempfile.TemporaryDirectory() as out:
        result = subprocess.run([os.path.join(ROOT, "tools", "release"), "--no-build", f"--{arch}-build", tree,
                                 "--out", out, arch], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        print(result.stdout, end="")
        if not check(result.returncode == 0, f"tools/release exits with {result.returncode}"):
            return 1
        check(sorted(os.listdir(out)) == [base + ".zip"], f"{out} holds only {base}.zip: {os.listdir(out)}")
        check(result.stdout.strip() == os.path.join(os.path.realpath(out), base + ".zip"),
              "tools/release prints the archive's path")
        path = os.path.join(out, base + ".zip")
        if not check(os.path.isfile(path), f"{base}.zip exists"):
            return 1

        with zipfile.ZipFile(path) as archive:
            check(archive.testzip() is None, "every entry's CRC is right")
            names = archive.namelist()
            expected = [f"{base}/{n}" for n in ("zelcrypto.dll", "zelblob.dll", "zelcrypto.tlb", "README-admin.txt", "REFERENCE.txt",
                                                "examples/tour.vbs", "examples/tour.js",
                                                "examples/encrypt_page.asp", "examples/hmac_webhook.vbs",
                                                "examples/aes_gcm.js", "examples/jwt.vbs")]
            check(sorted(names) == sorted(expected) and len(names) == len(set(names)),
                  f"the listing: {names}")
            entries = {name[len(base) + 1:]: archive.read(name) for name in names if name.startswith(base + "/")}

        machine = {"win32": 0x014C, "win64": 0x8664}[arch]
        for dll in ("zelcrypto.dll", "zelblob.dll"):
            data = entries.get(dll, b"")
            check(data == read(os.path.join(tree, "bin", dll)), f"{dll} is the build's, byte for byte")
            check(pe_machine(data) == machine, f"{dll} is a {arch} DLL")
        tlb = entries.get("zelcrypto.tlb", b"")
        check(tlb == read(os.path.join(tree, "server", "zelcrypto.tlb")), "zelcrypto.tlb is the build's")
        check(tlb.startswith(b"MSFT") and tlb in entries.get("zelcrypto.dll", b"x"),
              "zelcrypto.tlb is the type library zelcrypto.dll embeds")

        for name in ("tour.vbs", "tour.js", "encrypt_page.asp", "hmac_webhook.vbs", "aes_gcm.js", "jwt.vbs"):
            data = entries.get("examples/" + name, b"")
            source = read(os.path.join(ROOT, "examples", name)).replace(b"\r\n", b"\n")
            check(data.replace(b"\r\n", b"\n") == source, f"examples/{name} is the source's")
            check(b"\n" in data and data.count(b"\n") == data.count(b"\r\n"), f"examples/{name} has CR LF lines")

        notes = entries.get("README-admin.txt", b"").decode("ascii", errors="replace")
        check(notes.count("\n") > 20 and notes.count("\n") == notes.count("\r\n"), "README-admin.txt has CR LF lines")
        notes = notes.replace("\r\n", "\n")
        check(not re.search(r"@[A-Z0-9_]+@", notes), "no placeholder is left")
        check(notes.startswith(f"ZELCrypto {version}, {arch[3:]}-bit DLLs"), "the notes name version and bitness")
        regsvr32 = {"win32": r"%SystemRoot%\SysWOW64\regsvr32.exe", "win64": r"%SystemRoot%\System32\regsvr32.exe"}
        order = [f"{regsvr32[arch]} zelblob.dll", f"{regsvr32[arch]} zelcrypto.dll",
                 f"{regsvr32[arch]} /u zelcrypto.dll", f"{regsvr32[arch]} /u zelblob.dll"]
        positions = [notes.find(line) for line in order]
        check(all(p >= 0 for p in positions) and positions == sorted(positions),
              "register the blob component first, unregister it last: " + str(positions))
        check(not re.search(re.escape(regsvr32[other]) + " (/u )?zel", notes),
              "no regsvr32 line of the other bitness")
        for phrase in ("Enable 32-bit Applications", "apartment-threaded", "Read & execute",
                       "Run as administrator", "side by side"):
            check(phrase in " ".join(notes.split()), f"the notes cover {phrase!r}")

        # The reference: every README section from Constants to the errors
        # table, word for word, and nothing about building.
        data = entries.get("REFERENCE.txt", b"")
        check(data.startswith(b"\xef\xbb\xbf"), "REFERENCE.txt starts with a UTF-8 byte order mark")
        check(data.count(b"\n") > 50 and data.count(b"\n") == data.count(b"\r\n"), "REFERENCE.txt has CR LF lines")
        text = data[3:].decode("utf-8", errors="replace").replace("\r\n", "\n")
        check(text.startswith(f"ZELCrypto {version}: reference for script authors\n"), "the reference names the version")
        readme = read(os.path.join(ROOT, "README.md")).decode("utf-8")
        sections = re.findall(r"^##+ .*$", readme, re.MULTILINE)
        first, end = sections.index("### Constants"), sections.index("## Building and testing by hand")
        for heading in sections[first:end]:
            start = readme.index("\n" + heading + "\n") + 1
            following = [readme.find("\n" + h + "\n", start + 1) for h in sections if readme.find("\n" + h + "\n", start + 1) > 0]
            body = readme[start:min(following) + 1 if following else len(readme)]
            check(body in text or body.rstrip() + "\n" in text, f"the reference holds the section {heading!r} whole")
        for heading in sections[:first] + sections[end:]:
            check("\n" + heading + "\n" not in text, f"the reference leaves out {heading!r}")

    print(f"{'FAILED' if failures else 'passed'}: {failures} failed checks")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
