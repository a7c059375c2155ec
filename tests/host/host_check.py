#!/usr/bin/python3
"""zelhost.exe, the project's console script host, on a table of small
scripts in this folder: exactly what each run prints on standard output and
on standard error, and its exit status.  Then tools/zelwine's `script
--check` on the endings it must tell apart (a tally with failures, a script
error after a good tally, no tally at all) and on an error in a file that
--append added, which is reported against that file.

    host_check.py <zelwine command...>

The zelwine command selects the preset and build tree, for instance
`tools/zelwine --build build/win64 win64`.  Scripts reach the host as Z:
paths, so the file names in the expected messages are Z: paths too.  The
texts of errors the engines describe themselves are Wine's.
"""

import hashlib
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.realpath(__file__))


def path(name):
    return os.path.join(HERE, name)


def win(name):
    return "Z:" + path(name).replace("/", "\\")


def lines(*items):
    return "".join(item + "\n" for item in items)


CHECK_FAILED = "zelwine: the script failed (exit status 1)\n"

# name, arguments after `script`, exit status, standard output, standard error
CASES = [
    # Errors: file(line, column) source: description, and status 1.
    ("a VBScript runtime error", [path("runtime_error.vbs")], 1,
     lines("before the error"),
     lines(win("runtime_error.vbs") + "(4, 1) VBScript runtime error: Division by zero")),
    ("an error raised in a procedure, with its own source", [path("raise_error.vbs")], 1,
     lines("calling Fail"),
     lines(win("raise_error.vbs") + "(4, 3) Fixture.Source: raised on purpose")),
    ("a JScript runtime error", [path("runtime_error.js")], 1,
     lines("before the error"),
     lines(win("runtime_error.js") + "(4, 1) Microsoft JScript runtime error: 'nosuch' is undefined")),
    ("a VBScript syntax error: nothing runs", [path("syntax_error.vbs")], 1,
     "",
     lines(win("syntax_error.vbs") + "(3, 9) Microsoft VBScript compilation error: Syntax error")),
    ("a JScript syntax error: nothing runs", [path("syntax_error.js")], 1,
     "",
     lines(win("syntax_error.js") + "(3, 18) Microsoft JScript compilation error: Expected ')'")),
    ("an error the script handles", [path("handled_error.vbs")], 0,
     lines("handled True", "done"), ""),
    ("a missing script file", [path("missing.vbs")], 1,
     "",
     lines('zelhost: cannot open the script file "' + win("missing.vbs") + '": File not found.')),

    # Quit.
    ("Quit 3 under On Error Resume Next", [path("quit.vbs")], 3, lines("before Quit"), ""),
    ("Quit(7) inside try/finally", [path("quit.js")], 7, lines("before Quit"), ""),
    ("Quit without a number", [path("quit_default.vbs")], 0, lines("Quit without a number"), ""),

    # WScript's members.
    ("Arguments from VBScript", [path("arguments.vbs"), "one", "two words", "-x"], 0,
     lines("Count 3 Length 3", "0 [one] [one]", "1 [two words] [two words]", "2 [-x] [-x]",
           "each [one]", "each [two words]", "each [-x]", "second [two words]",
           "arguments.vbs", win("arguments.vbs")), ""),
    ("Arguments from JScript", [path("arguments.js"), "alpha", "b c"], 0,
     lines("length 2 Count 2", "0 [alpha] [alpha]", "1 [b c] [b c]", "each [alpha]", "each [b c]",
           "arguments.js"), ""),
    ("no Arguments", [path("arguments.js")], 0, lines("length 0 Count 0", "arguments.js"), ""),
    ("Echo of several values from VBScript", [path("echo.vbs")], 0,
     lines("text 42 -1.5 True False  Null", "", "one value", "200 -7 1.25   spaced  "), ""),
    ("Echo of several values from JScript", [path("echo.js")], 0,
     lines("text 42 -1.5 True Null  end", "", "one value"), ""),
    ("StdOut and StdErr from VBScript", [path("streams.vbs")], 0,
     lines("out line", "", "", "end"), lines("to the error stream") + "no line end"),
    ("StdOut and StdErr from JScript", [path("streams.js")], 0,
     lines("output line") + "no line end", lines("error line")),
    ("CreateObject of the project's classes", [path("create_object.vbs")], 0,
     lines("Hi! 3", hashlib.sha1(b"Hi!").hexdigest()), ""),
    ("CreateObject of a class that is not registered", [path("create_missing.vbs")], 1,
     lines("trying"),
     lines(win("create_missing.vbs") +
           '(2, 1) WScript.CreateObject: Could not locate automation class named "Valdergast.NoSuchClass".')),

    # Job files.
    ("a job of two languages sharing functions and variables", [path("two_languages.wsf")], 0,
     lines("VBScript calls twice(21): 42", "VBScript reads greeting: hello from JScript",
           "VBScript reads point.y: 4", "VBScript hashes JScript's blob: " + hashlib.sha1(b"abc").hexdigest(),
           "JScript calls Thrice(7): 21", "JScript reads counter: 11",
           "JScript calls twice(4): 8"), ""),
    ("constants through <reference object=...>", [path("constants.wsf")], 0,
     lines("VBScript: 2 9 2 256", "SHA-1 key: " + hashlib.sha1(b"pw").hexdigest()[:16],
           "JScript: 2 3 True"), ""),
    ("constants through <reference guid=...>, //job picks the job", ["//job:byGuid", path("constants.wsf")], 0,
     lines("by guid: 3 10 True"), ""),
    ("no constants without a reference", ["//job:none", path("constants.wsf")], 0,
     lines("without a reference: []"), ""),
    ("an error in an inline block of a job file", [path("wsf_errors.wsf")], 1,
     lines("first block", "second block"),
     lines(win("wsf_errors.wsf") + "(10, 7) Microsoft JScript runtime error: Object expected")),
    ("an error in a one-line block: its column in the file", ["//job:oneLine", path("wsf_errors.wsf")], 1,
     lines("one line"),
     lines(win("wsf_errors.wsf") + "(14, 70) VBScript runtime error: Division by zero")),
    ("an error in a src file of a job file", ["//job:src", path("wsf_errors.wsf")], 1,
     lines("described the helper"),
     lines(win("wsf_helpers.vbs") + "(7, 3) Fixture.Helper: exploded in the helper")),
    ("an error of another language's function that the caller handles", ["//job:handled", path("wsf_errors.wsf")],
     0, lines("VBScript went on: True"), ""),
    ("a job id the file does not have", ["//job:nothing", path("wsf_errors.wsf")], 1,
     "", lines("zelhost: " + win("wsf_errors.wsf") + ': no job with the id "nothing"')),

    # tools/zelwine script --check.
    ("--check: a good tally", ["--check", path("check_tally.vbs"), "pass"], 0, lines("2 passed, 0 failed"), ""),
    ("--check: a tally with failures", ["--check", path("check_tally.vbs"), "failed"], 1,
     lines("1 passed, 1 failed"), ""),
    ("--check: a script error after a good tally", ["--check", path("check_tally.vbs"), "error"], 1,
     lines("1 passed, 0 failed"),
     lines(win("check_tally.vbs") + "(5, 64) VBScript runtime error: Division by zero") + CHECK_FAILED),
    ("--check: no tally", ["--check", path("check_tally.vbs"), "silent"], 1,
     lines("nothing counted"), lines("zelwine: no 'N passed, M failed' line: the script stopped early")),
    ("--append: an error in the appended file, reported against it",
     ["--check", "--append", path("check_helper.vbs"), path("check_tally.vbs"), "helper"], 1,
     lines("calling Helper"),
     lines(win("check_helper.vbs") + "(5, 3) VBScript runtime error: Division by zero") + CHECK_FAILED),
]


def main():
    zelwine = sys.argv[1:]
    if not zelwine:
        print(__doc__)
        return 2
    failed = 0
    for name, args, status, out, err in CASES:
        run = subprocess.run(zelwine + ["script"] + args, stdin=subprocess.DEVNULL, capture_output=True,
                             encoding="utf-8", errors="replace", timeout=120)
        problems = []
        if run.returncode != status:
            problems.append(f"exit status {run.returncode}, expected {status}")
        if run.stdout != out:
            problems.append(f"standard output {run.stdout!r}, expected {out!r}")
        if run.stderr != err:
            problems.append(f"standard error {run.stderr!r}, expected {err!r}")
        if problems:
            failed += 1
            print(f"FAIL: {name}")
            for p in problems:
                print(f"    {p}")
        else:
            print(f"ok: {name}")
    print(f"{len(CASES)} cases, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
