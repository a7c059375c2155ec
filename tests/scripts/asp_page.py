#!/usr/bin/python3
"""Runs a classic server-side VBScript page without a web server, with
stand-in Request, Response and Server objects, and checks examples/encrypt_page.asp.

The page is turned into a .vbs the way the page host compiles it: the text
between code blocks becomes Response.Write of that text, <%= expr %> becomes
Response.Write of expr, <% code %> stays as it is, the <%@ %> directive is
dropped and Option Explicit moves to the top.  In front go VBScript classes
that stand in for the host's objects: Request.Form(name) and
Request.ServerVariables("REQUEST_METHOD") answer from the request being
simulated, Response.Write collects the page, Server.CreateObject creates
objects and Server.HTMLEncode escapes & < > ".  The script runs with the
project's script host (zelhost.exe) in the Wine prefix and prints the
collected page between two marker lines; it must exit with status 0.

Checked: a GET shows the empty form and no message; a POST without a password
asks for one; a POST with a text and a password echoes the text HTML-escaped
and shows an armored message in a <pre>, which GnuPG (the independent oracle)
decrypts with that password, and only with it, to the posted text, and whose
session-key packet names AES-256, SHA-1 and the iterated and salted
string-to-key.

    asp_page.py <page.asp> <zelwine command...>
"""

import html
import os
import re
import shutil
import subprocess
import sys
import tempfile

BEGIN = "==== page begins"
END = "==== page ends"


def vb_string(text, line_end="vbLf"):
    """A VBScript expression for a text: quoted pieces joined by line ends."""
    pieces = []
    for i, line in enumerate(text.split("\n")):
        if i:
            pieces.append(line_end)
        if line:
            chunks = re.split(r"([^\x20-\x7e])", line)
            for chunk in chunks:
                if not chunk:
                    continue
                if len(chunk) == 1 and not ("\x20" <= chunk <= "\x7e"):
                    pieces.append(f"Chr({ord(chunk)})")
                else:
                    pieces.append('"' + chunk.replace('"', '""') + '"')
    return " & ".join(pieces) if pieces else '""'


def translate(page):
    """The page's code as plain VBScript statements."""
    out = []
    option_explicit = False
    pos = 0
    while pos < len(page):
        start = page.find("<%", pos)
        literal = page[pos:] if start < 0 else page[pos:start]
        if literal:
            out.append("Response.Write " + vb_string(literal))
        if start < 0:
            break
        end = page.find("%>", start)
        if end < 0:
            raise ValueError("a code block is not closed")
        block = page[start + 2:end]
        pos = end + 2
        if block.startswith("@"):
            continue                      # the processing directive
        if block.startswith("="):
            out.append("Response.Write (" + block[1:].strip() + ")")
            continue
        lines = []
        for line in block.split("\n"):
            if re.fullmatch(r"\s*Option\s+Explicit\s*", line, re.IGNORECASE):
                option_explicit = True
            else:
                lines.append(line)
        out.append("\n".join(lines))
    return option_explicit, "\n".join(out)


STAND_INS = """
Class StandInRequest
  Public Function Form(name)
    Select Case LCase(name)
{form_cases}      Case Else: Form = Empty
    End Select
  End Function
  Public Function ServerVariables(name)
    ServerVariables = ""
    If UCase(name) = "REQUEST_METHOD" Then ServerVariables = {method}
  End Function
End Class

Class StandInResponse
  Public Output
  Public Sub Write(text)
    Output = Output & text
  End Sub
End Class

Class StandInServer
  Public Function CreateObject(progId)
    Set CreateObject = WScript.CreateObject(progId)
  End Function
  Public Function HTMLEncode(text)
    Dim s
    s = Replace(CStr(text), "&", "&amp;")
    s = Replace(s, "<", "&lt;")
    s = Replace(s, ">", "&gt;")
    HTMLEncode = Replace(s, \"\"\"\", "&quot;")
  End Function
End Class

Dim Request, Response, Server
Set Request = New StandInRequest
Set Response = New StandInResponse
Set Server = New StandInServer
"""


def page_script(page, method, form):
    option_explicit, code = translate(page)
    # Browsers post line breaks as CR LF.
    cases = "".join(f'      Case "{name.lower()}": Form = {vb_string(value.replace(chr(13) + chr(10), chr(10)), "vbCrLf")}\n'
                    for name, value in form.items())
    return "\r\n".join(
        (["Option Explicit"] if option_explicit else [])
        + STAND_INS.format(form_cases=cases, method=vb_string(method)).split("\n")
        + code.split("\n")
        + [f'WScript.Echo "{BEGIN}" & vbLf & Response.Output & vbLf & "{END}"']) + "\r\n"


class Failures:
    def __init__(self):
        self.count = 0

    def check(self, condition, what):
        if not condition:
            self.count += 1
            print(f"FAIL: {what}", flush=True)
        return condition


def run_page(zelwine, page, method, form, folder):
    script = os.path.join(folder, "page.vbs")
    with open(script, "w", encoding="ascii", newline="") as out:
        out.write(page_script(page, method, form))
    result = subprocess.run(zelwine + ["script", script], stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                            errors="replace")
    output = result.stdout
    match = re.search(re.escape(BEGIN) + r"\n(.*)\n" + re.escape(END), output, re.DOTALL)
    if not match or result.returncode:
        print(output)
        print(f"FAIL: the {method} page did not run to its end (exit status {result.returncode})", flush=True)
        return None
    return match.group(1)


def element(pattern, page):
    return re.findall(pattern, page, re.DOTALL)


def gpg(home, args, data):
    return subprocess.run(["gpg", "--homedir", home, "--batch", "--quiet", "--no-symkey-cache",
                           "--pinentry-mode", "loopback"] + args,
                          input=data, stdout=subprocess.PIPE, stderr=subprocess.PIPE)


def check_encrypted(f, page, text, password, home):
    textarea = element(r'<textarea[^>]*name="text"[^>]*>(.*?)</textarea>', page)
    if f.check(len(textarea) == 1, "one textarea"):
        f.check(not re.search(r'[<>"]', textarea[0]), "the echoed text is escaped: " + textarea[0])
        f.check(html.unescape(textarea[0]) == text.replace("\r", ""), "the echoed text: " + textarea[0])
    f.check(not element(r'class="problem"', page), "no problem reported")
    pre = element(r'<pre id="message">(.*?)</pre>', page)
    if not f.check(len(pre) == 1, "one <pre> with the message"):
        return
    armor = html.unescape(pre[0])
    f.check(armor.startswith("-----BEGIN PGP MESSAGE-----\n"), "the armor's first line")
    f.check(armor.rstrip("\n").endswith("-----END PGP MESSAGE-----"), "the armor's last line")
    data = armor.encode("ascii")

    wrong = gpg(home, ["--passphrase", password + "x", "--ignore-mdc-error", "--decrypt"], data)
    f.check(wrong.returncode != 0, "gpg refuses another password")
    right = gpg(home, ["--passphrase", password, "--ignore-mdc-error", "--decrypt"], data)
    if f.check(right.returncode == 0, "gpg decrypts: " + right.stderr.decode(errors="replace")):
        f.check(right.stdout == text.encode("ascii"),
                f"gpg's plaintext {right.stdout!r} is the posted text {text!r}")
    packets = gpg(home, ["--passphrase", password, "--ignore-mdc-error", "--list-packets"], data)
    listing = packets.stdout.decode(errors="replace")
    f.check(re.search(r"symkey enc packet: version 4, cipher 9, aead 0, ?s2k 3, hash 2", listing),
            "AES-256, SHA-1, iterated and salted:\n" + listing)
    f.check(re.search(r"count 65536\b", listing), "count code 96 (65536 bytes):\n" + listing)


def main():
    if len(sys.argv) < 3:
        print(__doc__)
        return 2
    with open(sys.argv[1], encoding="ascii") as source:
        page = source.read()
    zelwine = sys.argv[2:]
    f = Failures()
    text = 'Dear <b>Bob</b>,\r\n"Fish" & chips at 8.\r\n'
    password = "s3cret pass"
    folder = tempfile.mkdtemp()
    try:
        home = os.path.join(folder, "gnupg")
        os.mkdir(home, 0o700)

        shown = run_page(zelwine, page, "GET", {}, folder)
        if f.check(shown is not None, "GET"):
            f.check(len(element(r'<form method="post">', shown)) == 1, "GET shows the form")
            f.check(element(r'<textarea[^>]*name="text"[^>]*></textarea>', shown), "GET: an empty textarea")
            f.check(element(r'<input[^>]*name="password"[^>]*type="password"', shown), "GET: a password field")
            f.check(not element(r"<pre", shown), "GET shows no message")
            f.check(not element(r'class="problem"', shown), "GET reports no problem")

        shown = run_page(zelwine, page, "POST", {"text": "hello", "password": ""}, folder)
        if f.check(shown is not None, "POST without a password"):
            f.check(element(r'<p class="problem">Please enter a password\.</p>', shown),
                    "POST without a password asks for one")
            f.check(not element(r"<pre", shown), "no message without a password")
            f.check(element(r">hello</textarea>", shown), "the text stays in the form")

        shown = run_page(zelwine, page, "POST", {"text": text, "password": password}, folder)
        if f.check(shown is not None, "POST"):
            check_encrypted(f, shown, text, password, home)
    finally:
        subprocess.run(["gpgconf", "--homedir", os.path.join(folder, "gnupg"), "--kill", "gpg-agent"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        shutil.rmtree(folder, ignore_errors=True)
    print(f"{'FAILED' if f.count else 'passed'}: {f.count} failed checks", flush=True)
    return 1 if f.count else 0


if __name__ == "__main__":
    sys.exit(main())
