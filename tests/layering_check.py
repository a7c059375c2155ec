#!/usr/bin/env python3
"""Checks that includes and links run one way between the source folders.

    server -> objects -> {com, blob, engine};  zelblob -> {com, blob, core}
    engine folders -> core (and each other, downwards); com -> nothing of ours
    zlib (linked statically into the DLLs) -> used by pgp/ alone
    host (zelhost.exe, a generic script host) -> com at most; nothing -> host

Each folder may include headers of the folders listed for it below, and its
CMakeLists.txt may link only the targets listed for it.  The engine folders
include no Windows header (the one exception: the Windows entropy source).
Prints every violation and exits non-zero when there is one.

    tests/layering_check.py [repository root]
    tests/layering_check.py --self-test     plants each kind of fault in a
                                            small tree and expects it found
"""
import pathlib
import re
import sys

ENGINE = ["core", "hash", "cipher", "random", "rsa", "pgp"]

# Folder -> folders whose headers it may include (its own always).
INCLUDES = {
    "core": [],
    "hash": ["core"],
    "cipher": ["core"],
    "random": ["core", "hash"],
    "rsa": ["core", "hash", "random"],
    "pgp": ["core", "hash", "cipher", "random"],
    "blob": ["core"],
    "com": [],
    "objects": ["com", "blob"] + ENGINE,
    "server": ["objects", "com"],
    "zelblob": ["com", "blob", "core"],
    "host": ["com"],
}

# Headers generated from IDL, included without a folder.
GENERATED = {
    "objects": {"zelcrypto.h"},
    "server": {"zelcrypto.h"},
}

# Folder -> our targets its CMakeLists.txt may link.
LINKS = {
    "core": set(),
    "hash": {"zelcore"},
    "cipher": {"zelcore"},
    "random": {"zelcore"},
    "rsa": {"zelcore"},
    "pgp": {"zelcore"},
    "blob": {"zelcore"},
    "com": set(),
    "objects": {"zelcom", "zelblobclient", "zelengine", "zelcore", "zelcrypto_interfaces"},
    "server": {"zelobjects", "zelcom", "zelengine", "zelcore"},
    "zelblob": {"zelcom", "zelcore"},
    "host": {"zelcom"},
}
OUR_TARGETS = {"zelcore", "zelengine", "zelcom", "zelblobclient", "zelobjects", "zelcrypto_interfaces",
               "zelcrypto", "zelblob", "zelcrypto_ids", "zelhost"}

WINDOWS_HEADER = re.compile(r"^(windows|winbase|ole2|oleauto|oaidl|objbase|unknwn|ntsecapi|wincrypt)\.h$", re.I)
WINDOWS_ONLY_ENGINE_FILES = {"random/entropy_windows.cpp"}

# External libraries linked into the DLLs, and the one folder that may use each.
EXTERNAL = {"zlib.h": "pgp"}

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^">]+)[">]')
LINK = re.compile(r"target_link_libraries\s*\(\s*(\S+)([^)]*)\)", re.S)


def check(root):
    problems = []
    for folder, allowed in INCLUDES.items():
        base = root / folder
        if not base.is_dir():
            problems.append(f"{folder}/: missing")
            continue
        for path in sorted(base.iterdir()):
            if path.suffix not in (".h", ".cpp"):
                continue
            rel = f"{folder}/{path.name}"
            for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
                m = INCLUDE.match(line)
                if not m:
                    continue
                kind, name = m.groups()
                where = f"{rel}:{number}: #include {kind}{name}"
                if kind == "<":
                    owner = EXTERNAL.get(name)
                    if owner and folder != owner:
                        problems.append(f"{where}: only {owner}/ uses {name}")
                    if folder in ENGINE and WINDOWS_HEADER.match(name) and rel not in WINDOWS_ONLY_ENGINE_FILES:
                        problems.append(f"{where}: the engine includes no Windows header")
                    continue
                if "/" not in name:
                    if name not in GENERATED.get(folder, set()):
                        problems.append(f"{where}: name the folder of the header")
                    continue
                target = name.split("/", 1)[0]
                if target != folder and target not in allowed:
                    problems.append(f"{where}: {folder}/ may not depend on {target}/")
        cmake = base / "CMakeLists.txt"
        if cmake.exists():
            text = re.sub(r"#.*", "", cmake.read_text())
            for m in LINK.finditer(text):
                for word in m.group(2).split():
                    if word in OUR_TARGETS and word not in LINKS[folder]:
                        problems.append(f"{folder}/CMakeLists.txt: {m.group(1)} may not link {word}")
    return problems


def self_test():
    """Each kind of wrong-way dependency in a small tree must be reported."""
    import tempfile

    cases = {
        "core/x.cpp": '#include "hash/sha1.h"\n',                      # core points up
        "rsa/x.cpp": '#include "pgp/message.h"\n',                      # engine sideways-up
        "cipher/x.cpp": "#include <windows.h>\n",                       # Windows header in the engine
        "com/x.h": '#include "blob/izelblob.h"\n',                      # the COM kit knows blobs
        "objects/x.h": '#include "server/zelcrypto.h"\n',               # objects point at the server
        "zelblob/x.cpp": '#include "rsa/rsa.h"\n',                      # the blob DLL takes the engine
        "server/x.cpp": '#include "local.h"\n',                         # a header without its folder
        "zelblob/CMakeLists.txt": "target_link_libraries(zelblob PRIVATE zelcom zelengine)\n",
        "host/x.cpp": '#include "blob/izelblob.h"\n',                  # the script host knows blobs
        "com/x.cpp": '#include "host/job.h"\n',                        # something points at the host
        "host/CMakeLists.txt": "target_link_libraries(zelhost PRIVATE zelcom zelobjects)\n",
        "hash/y.cpp": "#include <zlib.h>\n",                          # zlib outside the PGP layer
    }
    with tempfile.TemporaryDirectory() as tmp:
        root = pathlib.Path(tmp)
        for folder in INCLUDES:
            (root / folder).mkdir()
        for name, text in cases.items():
            (root / name).write_text(text)
        problems = check(root)
    missed = [name for name in cases if not any(p.startswith(name) for p in problems)]
    for name in missed:
        print(f"self-test: {name} was not reported")
    print(f"self-test: {len(cases) - len(missed)} of {len(cases)} planted faults reported")
    return not missed


def main():
    if sys.argv[1:2] == ["--self-test"]:
        return 0 if self_test() else 1
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parents[1])
    problems = check(root)
    for p in problems:
        print(p)
    folders = len(INCLUDES)
    print(f"{folders} folders checked, {len(problems)} wrong-way dependencies")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
