#!/usr/bin/python3
"""Runs examples/jwt.vbs and checks the tokens it prints with Python's
`cryptography` and hmac, independently of the object that made them: the
RS256 token's signature under the public key the example printed
(RSASSA-PKCS1-v1_5, SHA-256), the HS256 token's HMAC-SHA256 under the
example's secret, the JSON of both headers and payloads, and the example's
own verdicts.

    jwt_check.py <jwt.vbs> <zelwine command...>
"""

import base64
import hashlib
import hmac
import json
import subprocess
import sys

from cryptography.exceptions import InvalidSignature
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import padding

SECRET = b"a-shared-secret-of-at-least-32-bytes!"
PAYLOAD = {"sub": "user-1029", "name": "Ana Lima", "iat": 1765400000}


def b64url(text):
    return base64.urlsafe_b64decode(text + "=" * (-len(text) % 4))


def main():
    script, zelwine = sys.argv[1], sys.argv[2:]
    result = subprocess.run(zelwine + ["script", script], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True)
    lines = result.stdout.splitlines()
    failures = []

    def check(cond, what):
        if not cond:
            failures.append(what)

    check(result.returncode == 0, f"exit status {result.returncode}: {result.stderr.strip()}")
    values = {}
    pem = []
    in_pem = False
    for line in lines:
        if line.startswith("-----BEGIN"):
            in_pem = True
        if in_pem:
            pem.append(line)
            if line.startswith("-----END"):
                in_pem = False
            continue
        if ": " in line:
            key, value = line.split(": ", 1)
            values[key] = value
    rs256 = values.get("RS256 token", "")
    hs256 = values.get("HS256 token", "")
    for name, token, alg in (("RS256", rs256, "RS256"), ("HS256", hs256, "HS256")):
        parts = token.split(".")
        check(len(parts) == 3, f"{name} token has three parts")
        if len(parts) != 3:
            continue
        check(json.loads(b64url(parts[0])) == {"alg": alg, "typ": "JWT"}, f"{name} header")
        check(json.loads(b64url(parts[1])) == PAYLOAD, f"{name} payload")
        check("=" not in token, f"{name} token without padding")
        signing_input = (parts[0] + "." + parts[1]).encode()
        signature = b64url(parts[2])
        if name == "RS256":
            key = serialization.load_pem_public_key("\n".join(pem).encode())
            check(key.key_size == 2048, "RS256 key of 2048 bits")
            try:
                key.verify(signature, signing_input, padding.PKCS1v15(), hashes.SHA256())
            except InvalidSignature:
                check(False, "RS256 signature verified by cryptography")
        else:
            check(hmac.compare_digest(signature, hmac.new(SECRET, signing_input, hashlib.sha256).digest()),
                  "HS256 HMAC equal to Python's")
    check(values.get("RS256 valid") == "1", "the example accepts its RS256 token")
    check(values.get("RS256 with another payload valid") == "0", "the example refuses a changed RS256 token")
    check(values.get("HS256 valid") == "True", "the example accepts its HS256 token")
    check(values.get("HS256 with a changed signature valid") == "False", "the example refuses a changed HS256 token")
    for f in failures:
        print("FAIL: " + f)
    print(f"{len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
