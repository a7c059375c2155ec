#!/usr/bin/python3
"""The installer packages under Wine's msiexec.

    msi_test.py <x86|x64> <win32 build tree> <win64 build tree> <work dir> [win64|win32]

Builds the package (tools/make_msi) from the two trees, then in a fresh
Wine prefix of its own (64-bit Windows, or with win32 32-bit Windows, for the
x86 package only):
- installs it quietly (msiexec /i /qn): the files land in Program Files
  (x64, the 64-bit DLLs) and Program Files (x86) (the 32-bit DLLs), the tour
  runs on the cscript of each bitness the package carries;
- reads back every key and value the installation added under HKCR, in both
  registry views;
- uninstalls it (msiexec /x /qn): no key, value or file of it is left;
- puts the same DLLs at the same paths and registers them with regsvr32:
  the entries are the installation's, key by key and value by value, in
  each view regsvr32 can be run for (the 32-bit one needs a machine that
  runs 32-bit programs; there the 32-bit view is compared with the 64-bit
  registration's entries, which the same class table and type library make);
- installs the package of the next version (made from the DLLs built again
  with the next patch version, next/bin of each tree) over it: one product
  remains, of the new version, with the new DLLs, and the older package then
  refuses to install.
Exit status 77 (skipped) when a build tree lacks its DLLs, or for a 32-bit
prefix on a machine that cannot run 32-bit programs.
"""

import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import types

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.realpath(__file__))))


def load_tool(name):
    """One of the tools/ scripts (no .py suffix) as a module."""
    path = os.path.join(ROOT, "tools", name)
    module = types.ModuleType(name.replace("-", "_"))
    module.__file__ = path
    with open(path, encoding="utf-8") as f:
        exec(compile(f.read(), path, "exec"), module.__dict__)
    return module


make_msi = load_tool("make_msi")
release = load_tool("release")

failures = 0
checks = 0


def check(condition, what):
    global failures, checks
    checks += 1
    print(("ok   " if condition else "FAIL ") + what, flush=True)
    if not condition:
        failures += 1
    return condition


def can_run_32bit():
    """Whether the 32-bit Wine loader, a 32-bit Linux program, starts here."""
    try:
        return subprocess.run(["/usr/lib/wine/wine", "--version"], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).returncode == 0
    except OSError:
        return False


class Prefix(make_msi.Wine):
    def run_rc(self, *args, bits=64):
        """Runs a Windows program; (exit status, output without CRs)."""
        loader = "/usr/lib/wine/wine64" if bits == 64 and self.env["WINEARCH"] == "win64" else "/usr/lib/wine/wine"
        with tempfile.TemporaryFile() as out:
            rc = subprocess.run([loader, *args], env=self.env, stdin=subprocess.DEVNULL, stdout=out,
                                stderr=subprocess.STDOUT).returncode
            out.seek(0)
            return rc, out.read().decode("utf-8", "replace").replace("\r", "")

    def software(self):
        return make_msi.read_registry(os.path.join(self.prefix, "system.reg"), prefix="Software\\")

    def files(self):
        found = set()
        for top in ("Program Files", "Program Files (x86)"):
            base = os.path.join(self.prefix, "drive_c", top)
            for folder, _, names in os.walk(base):
                found.add(os.path.relpath(folder, self.prefix + "/drive_c"))
                for name in names:
                    found.add(os.path.relpath(os.path.join(folder, name), self.prefix + "/drive_c"))
        return found


def file_version(path):
    """The file version of a DLL's version resource (its fixed part), "a.b.c.d"."""
    with open(path, "rb") as f:
        data = f.read()
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        return None
    ms, ls = struct.unpack_from("<II", data, at + 8)
    return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"


def classes_delta(before, after):
    """What after adds under Classes, less the installer's own bookkeeping."""
    delta = make_msi.registry_delta(before, after)
    return {k[len("Classes\\"):]: v for k, v in delta.items()
            if k.lower().startswith("classes\\") and not k.lower().startswith("classes\\installer\\")}


def lower_keys(entries):
    """Keys compared without regard to case, as Windows looks them up."""
    return {k.lower(): {(n.lower() if n else n): (t, d.lower() if t == "string" else d) for n, (t, d) in v.items()}
            for k, v in entries.items()}


def split_views(entries):
    own, wow = {}, {}
    for key, values in entries.items():
        if key.lower().startswith("wow6432node\\"):
            wow[key[len("wow6432node\\"):]] = values
        else:
            own[key] = values
    return own, wow


def view32(entries):
    """What a 32-bit program sees of the entries: the 32-bit view's own copy
    of a key where there is one (Wine's msiexec puts even the ProgIDs of
    32-bit components there), else the shared key; no 64-bit type-library
    platform key."""
    own, wow = split_views(entries)
    visible = {k: v for k, v in own.items() if not k.lower().endswith("\\win64")}
    visible.update(wow)
    return visible


def compare(expected, found, what):
    expected, found = lower_keys(expected), lower_keys(found)
    missing = sorted(set(expected) - set(found))
    extra = sorted(set(found) - set(expected))
    differing = sorted(k for k in set(expected) & set(found) if expected[k] != found[k])
    check(not missing, f"{what}: no key missing ({len(expected)} keys) {missing[:5]}")
    check(not extra, f"{what}: no key more {extra[:5]}")
    for key in differing[:5]:
        print(f"     {key}: expected {expected[key]}, found {found[key]}")
    check(not differing, f"{what}: every value the same")


def products(software):
    """(product code, display name, version) of the Programs and Features entries."""
    result = []
    for key, values in software.items():
        match = re.match(r"(?:Wow6432Node\\)?Microsoft\\Windows\\CurrentVersion\\Uninstall\\(\{[^\\]+\})$", key, re.I)
        if match and "DisplayName" in values:
            result.append((match.group(1).upper(), values["DisplayName"][1],
                           values.get("DisplayVersion", ("", ""))[1]))
    return sorted(result)


def main():
    arch, tree32, tree64, work = sys.argv[1], *map(os.path.realpath, sys.argv[2:5])
    windows = sys.argv[5] if len(sys.argv) > 5 else "win64"
    if windows == "win32" and (arch != "x86" or not can_run_32bit()):
        print("SKIP: 32-bit Windows takes the x86 package only, on a machine that runs 32-bit programs")
        return 77
    for tree in (tree32, tree64):
        for folder in ("bin", "next/bin"):
            for dll in ("zelcrypto.dll", "zelblob.dll"):
                if not os.path.isfile(os.path.join(tree, folder, dll)):
                    print(f"SKIP: {tree}/{folder}/{dll} is missing; build the win32 and win64 presets first")
                    return 77
    bits = [64, 32] if arch == "x64" else [32]
    run32 = can_run_32bit()
    version = release.tree_version(tree64)
    # The next patch version, as the build's next/bin DLLs carry it.
    parts = (version.split(".") + ["0", "0", "0"])[:4]
    parts[2] = str(int(parts[2]) + 1)
    newer_full = ".".join(parts)
    newer = newer_full if parts[3] != "0" else ".".join(parts[:3])

    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    # The packages of this version and of the next: the build trees' DLLs
    # and those built again with the next patch version (next/bin).
    staged, staged_next = {}, {}
    for name, tree in (("win32", tree32), ("win64", tree64)):
        dlls, tlb = release.stage(name, tree, os.path.join(work, name), version, None)
        staged[name] = (dlls, tlb, os.path.join(work, name, "docs"))
        next_tree = os.path.join(work, "next-tree-" + name)
        os.makedirs(next_tree)
        os.symlink(os.path.join(tree, "next", "bin"), os.path.join(next_tree, "bin"))
        os.symlink(os.path.join(tree, "server"), os.path.join(next_tree, "server"))
        dlls, tlb = release.stage(name, next_tree, os.path.join(work, "next-" + name), newer, None)
        staged_next[name] = (dlls, tlb, os.path.join(work, "next-" + name, "docs"))
    packages = {}
    for v, files in ((version, staged), (newer, staged_next)):
        out = os.path.join(work, v)
        os.makedirs(out)
        packages[v] = release.msi(arch, files, out, v, None, work)
    check(file_version(staged_next["win64"][0]["zelcrypto.dll"]) == newer_full,
          f"the next build's DLLs carry version {newer_full}")
    msi = packages[version]
    base = os.path.basename(msi)
    check(base == f"zelcrypto-{version}-{arch}.msi", f"package name {base}")

    wine = Prefix(os.path.join(work, "wineprefix"), windows)
    folders = {64: "Program Files/ZELCrypto", 32: "Program Files (x86)/ZELCrypto"}
    system32 = {64: "C:\\windows\\system32\\", 32: "C:\\windows\\syswow64\\"}
    if windows == "win32":
        # 32-bit Windows: one Program Files, one system folder, one view.
        folders[32], system32[32] = folders[64], system32[64]
    try:
        wine.run("wineboot", "-i")
        # The first script Wine's cscript runs registers the script host's own
        # type libraries: that happens before the registry is read.
        warm_up = os.path.join(work, "warm_up.vbs")
        with open(warm_up, "w") as f:
            f.write('WScript.Echo "ready"\r\n')
        for b in bits:
            if b == 64 or run32:
                wine.run_rc(system32[b] + "cscript.exe", "//nologo", "Z:" + warm_up.replace("/", "\\"), bits=b)
        wine.stop()
        before, files_before = wine.software(), wine.files()

        print("== installed")
        rc, out = wine.run_rc("msiexec", "/i", "Z:" + msi.replace("/", "\\"), "/qn")
        check(rc == 0, f"msiexec /i /qn exits with {rc} {out.strip()[-300:]}")
        for b in bits:
            for name in ("zelcrypto.dll", "zelblob.dll", "zelcrypto.tlb", "README-admin.txt", "REFERENCE.txt",
                         "examples/tour.vbs", "examples/tour.js"):
                path = os.path.join(wine.prefix, "drive_c", folders[b], name)
                check(os.path.isfile(path), f"{folders[b]}/{name} installed")
            for dll in ("zelcrypto.dll", "zelblob.dll"):
                installed = os.path.join(wine.prefix, "drive_c", folders[b], dll)
                source = staged["win64" if b == 64 else "win32"][0][dll]
                with open(installed, "rb") as f1, open(source, "rb") as f2:
                    check(f1.read() == f2.read(), f"{folders[b]}/{dll} is the {b}-bit build's")
        for b in bits:
            if b == 32 and not run32:
                print("skip the 32-bit tour: this machine cannot run 32-bit programs")
                continue
            cscript = system32[b] + "cscript.exe"
            tour = "C:\\" + folders[b].replace("/", "\\") + "\\examples\\tour.vbs"
            rc, out = wine.run_rc(cscript, "//nologo", tour, bits=b)
            ended = rc == 0 and "End of the tour." in out
            check(ended, f"{b}-bit cscript runs the installed tour" + ("" if ended else f": {out.strip()[-600:]}"))
        wine.stop()
        installed_software = wine.software()
        installed = classes_delta(before, installed_software)
        check(len(installed) > 0, f"the installation wrote {len(installed)} keys under HKCR")
        found = products(installed_software)
        check(len(found) == 1 and found[0][1] == "ZELCrypto" and found[0][2] == version,
              f"one entry in Programs and Features, ZELCrypto {version}: {found}")

        print("== uninstalled")
        rc, out = wine.run_rc("msiexec", "/x", "Z:" + msi.replace("/", "\\"), "/qn")
        check(rc == 0, f"msiexec /x /qn exits with {rc} {out.strip()[-300:]}")
        wine.stop()
        left = classes_delta(before, wine.software())
        check(not left, f"no key left under HKCR: {sorted(left)[:5]}")
        ours = re.compile(r"zelcrypto|zelblob|valdergast", re.I)
        mentions = sorted(k for k, values in wine.software().items()
                          if ours.search(k) or any(ours.search(d) for _, d in values.values()))
        check(not mentions, f"no key anywhere names the product or its files: {mentions[:5]}")
        check(not products(wine.software()), "no entry left in Programs and Features")
        left_files = wine.files() - files_before
        check(not left_files, f"no file or folder left: {sorted(left_files)[:5]}")

        print("== the same DLLs registered with regsvr32")
        for b in bits:
            os.makedirs(os.path.join(wine.prefix, "drive_c", folders[b]), exist_ok=True)
            for dll in ("zelblob.dll", "zelcrypto.dll"):
                shutil.copy2(staged["win64" if b == 64 else "win32"][0][dll],
                             os.path.join(wine.prefix, "drive_c", folders[b]))
        # The 32-bit DLLs first: the package writes the 64-bit DLLs' entries last.
        registered_bits = sorted(b for b in bits if b == 64 or run32)
        for b in registered_bits:
            regsvr32 = system32[b] + "regsvr32.exe"
            for dll in ("zelblob.dll", "zelcrypto.dll"):
                path = "C:\\" + folders[b].replace("/", "\\") + "\\" + dll
                rc, out = wine.run_rc(regsvr32, "/s", path, bits=b)
                check(rc == 0, f"{b}-bit regsvr32 {path}")
        wine.stop()
        registered = classes_delta(before, wine.software())
        msi64, msi32 = split_views(installed)
        reg64, reg32 = split_views(registered)
        if 64 in bits:
            # The 64-bit view, less the 32-bit DLLs' type-library platform keys
            # (the type library key is shared by both views).
            compare({k: v for k, v in reg64.items() if not k.lower().endswith("\\win32")},
                    {k: v for k, v in msi64.items() if not k.lower().endswith("\\win32")}, "64-bit view")
        if 32 in registered_bits:
            compare(view32(registered), view32(installed), "32-bit view")
        elif 32 in bits:
            # Without 32-bit programs: the 32-bit DLLs' entries are the 64-bit
            # registration's with their own paths and the win32 platform key.
            folder32 = "C:\\" + folders[32].replace("/", "\\")
            folder64 = "C:\\" + folders[64].replace("/", "\\")
            expected32 = {}
            source = reg64 if 64 in bits else None
            if source is None:
                # x86 on a machine without 32-bit programs: register the
                # 64-bit DLLs of the same build in their place to learn the
                # entries, then remove them.
                os.makedirs(os.path.join(wine.prefix, "drive_c", folders[64]), exist_ok=True)
                for dll in ("zelblob.dll", "zelcrypto.dll"):
                    shutil.copy2(staged["win64"][0][dll], os.path.join(wine.prefix, "drive_c", folders[64]))
                for dll in ("zelblob.dll", "zelcrypto.dll"):
                    rc, _ = wine.run_rc("regsvr32", "/s", folder64 + "\\" + dll)
                    check(rc == 0, f"64-bit regsvr32 {dll} to learn the entries")
                wine.stop()
                source = split_views(classes_delta(before, wine.software()))[0]
            for key, values in source.items():
                key32 = re.sub(r"\\win64$", r"\\win32", key, flags=re.I)
                expected32[key32] = {n: (t, d.replace(folder64, folder32)) for n, (t, d) in values.items()}
            # Shared keys hold the values of the bitness registered last, the
            # 64-bit one in an x64 package.
            if arch == "x64":
                for key, values in reg64.items():
                    if key in expected32 and key in msi64 and key not in msi32:
                        expected32[key] = values
            compare(expected32, view32(installed), "32-bit view (entries of the 64-bit registration)")

        print("== upgraded to the next version")
        wine.stop()
        shutil.rmtree(wine.prefix)
        wine.run("wineboot", "-i")
        for v in (version, newer):
            rc, out = wine.run_rc("msiexec", "/i", "Z:" + packages[v].replace("/", "\\"), "/qn")
            check(rc == 0, f"msiexec /i /qn {os.path.basename(packages[v])} exits with {rc}")
        wine.stop()
        found = products(wine.software())
        check(len(found) == 1 and found[0][2] == newer, f"one product, version {newer}: {found}")
        for b in bits:
            for dll in ("zelcrypto.dll", "zelblob.dll"):
                path = os.path.join(wine.prefix, "drive_c", folders[b], dll)
                found_version = file_version(path) if os.path.isfile(path) else "missing"
                check(found_version == newer_full, f"{folders[b]}/{dll} after the upgrade: {found_version}")
        rc, _ = wine.run_rc("msiexec", "/i", "Z:" + packages[version].replace("/", "\\"), "/qn")
        wine.stop()
        found = products(wine.software())
        check(rc != 0 and len(found) == 1 and found[0][2] == newer,
              f"the older package refuses to install over the newer one (exit status {rc}): {found}")
        rc, _ = wine.run_rc("msiexec", "/x", "Z:" + packages[newer].replace("/", "\\"), "/qn")
        check(rc == 0, "the upgraded product uninstalls")
    finally:
        wine.stop()
        wine.log.close()
    print(f"{checks - failures} passed, {failures} failed")
    if failures == 0:
        shutil.rmtree(work, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
