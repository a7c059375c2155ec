' The five symmetric cipher objects as a VBScript author uses them: keys from
' Keygen and from Key records, published vectors through the objects, the
' Filler and Mode properties, padding of the last block, and every refusal
' with its Err.Number, Err.Source and Err.Description.  (How the chaining
' block carries over between calls is checked for every class from C++.)
'
' Expected ciphertexts are published vectors: FIPS-197 appendix C (AES), the
' Twofish designers' known answers, the Blowfish designer's vectors, RFC 2144
' appendix B.1 (CAST-128) and single-DES known answers (TripleDES with
' K1 = K2 = K3).  Random keys and messages are compared with independent
' implementations by symmetric_crosscheck.py.
'
' Wine's cscript stops silently on an unhandled error, so every block prints
' its name first: the last name printed shows where a run stopped.
Option Explicit

' ok, same, section, Outcome, Tally, TryEncrypt, TryDecrypt and the blob helpers
' come from checks.vbs, which the test runner appends to this script.

' ---- bytes as hex

Function HexXor(a, b)
  Dim i, s
  s = ""
  For i = 1 To Len(a) Step 2
    s = s & Hex2(CLng("&H" & Mid(a, i, 2)) Xor CLng("&H" & Mid(b, i, 2)))
  Next
  HexXor = s
End Function

' ---- the five classes: ProgID suffix, engine name in messages, block size

Dim classes
classes = Array( _
  Array("AES", "AES", 16), _
  Array("Twofish", "Twofish", 16), _
  Array("Blowfish", "Blowfish", 8), _
  Array("Cast", "CAST", 8), _
  Array("TripleDES", "TripleDES", 8))

Function NewCipher(name)
  Set NewCipher = CreateObject("Valdergast.ZELCrypto" & name)
End Function

' A cipher with a full-size key (32 bytes asked for; CAST takes 16, TripleDES 24).
Function KeyedCipher(name, mode)
  Set KeyedCipher = NewCipher(name)
  KeyedCipher.Keygen NewBlob(Seq(&H11, 40)), 32
  KeyedCipher.Mode = mode
End Function

' The ciphertext of hex text p on a fresh object given a key record, mode and filler.
Function FreshEncrypt(name, record, mode, filler, p)
  Dim o
  Set o = NewCipher(name)
  Set o.Key = record
  o.Mode = mode
  o.Filler = filler
  FreshEncrypt = o.Encrypt(NewBlob(p)).Hex
End Function

Function FreshDecrypt(name, record, mode, filler, c)
  Dim o
  Set o = NewCipher(name)
  Set o.Key = record
  o.Mode = mode
  o.Filler = filler
  FreshDecrypt = o.Decrypt(NewBlob(c)).Hex
End Function

' ---- calls that may fail: each returns "no error" or "number | source | description"

Function TryKeygen(o, material, v)
  On Error Resume Next
  o.Keygen material, v
  TryKeygen = Outcome()
End Function

Function TryGetKey(o, ByRef result)
  On Error Resume Next
  Set result = o.Key
  TryGetKey = Outcome()
End Function

Function TrySetKey(o, record)
  On Error Resume Next
  Set o.Key = record
  TrySetKey = Outcome()
End Function

Function Refusal(name, description)
  Refusal = "80004005 | Valdergast.ZELCrypto" & name & ".2 | " & description
End Function

Const kNotABlob = "Internal error: can't get source ZELBlob COM interface"
Const kNoKey = "Crypto System: Invalid key"
Const kCannotDecrypt = "Crypto System: Unable to decrypt data"
Const kUnsupported = "Crypto System: Unsupported algorithm"
Const kTypeMismatch = "D | Microsoft VBScript runtime error | Type mismatch"

Dim cls, name, engine, bs, o, o2, b, c, d, k, r, row, cases, p, q, v, i, n, mode, expected

' ---------------------------------------------------------------- fresh objects
section "a fresh object: Filler 0, Mode 1, no key"
For Each cls In classes
  name = cls(0)
  engine = cls(1)
  bs = cls(2)
  Set o = NewCipher(name)
  same o.Filler, 0, name & " Filler"
  same o.Mode, 1, name & " Mode"
  Set r = Nothing
  same TryGetKey(o, r), Refusal(name, kNoKey & " - " & engine), name & " Key before a key"
  ok r Is Nothing, name & ": no record handed out"
  ' Encrypt and Decrypt name no engine; Decrypt looks at the key before the length.
  For Each p In Array("", Seq(0, bs), Seq(0, bs + 1))
    Set b = NewBlob(p)
    same TryEncrypt(o, b, r), Refusal(name, kNoKey), name & " Encrypt of " & Len(p) / 2 & " bytes before a key"
    ok r Is Nothing, name & ": no ciphertext handed out"
    same TryDecrypt(o, b, r), Refusal(name, kNoKey), name & " Decrypt of " & Len(p) / 2 & " bytes before a key"
    ok r Is Nothing, name & ": no plaintext handed out"
    same b.Hex, p, name & ": the source stays"
  Next
Next

' ---------------------------------------------------------------- published vectors
section "published vectors through Keygen"
' class, key material, val, plaintext, ciphertext
Const kFipsPlain = "00112233445566778899aabbccddeeff"
Const kBlowfishKey = "f0e1d2c3b4a5968778695a4b3c2d1e0f0011223344556677"
Const kCastPlain = "0123456789abcdef"
cases = Array( _
  Array("AES", Seq(0, 16), 16, kFipsPlain, "69c4e0d86a7b0430d8cdb78070b4c55a"), _
  Array("AES", Seq(0, 24), 24, kFipsPlain, "dda97ca4864cdfe06eaf70a0ec0d7191"), _
  Array("AES", Seq(0, 32), 32, kFipsPlain, "8ea2b7ca516745bfeafc49904b496089"), _
  Array("AES", Seq(0, 32), 128, kFipsPlain, "8ea2b7ca516745bfeafc49904b496089"), _
  Array("Twofish", Rep("00", 16), 16, Rep("00", 16), "9f589f5cf6122c32b6bfec2f2ae8c35a"), _
  Array("Twofish", Rep("00", 24), 24, Rep("00", 16), "efa71f788965bd4453f860178fc19101"), _
  Array("Twofish", Rep("00", 32), 32, Rep("00", 16), "57ff739d4dc92c1bd7fc01700cc8216f"), _
  Array("Twofish", "0123456789abcdeffedcba98765432100011223344556677", 24, Rep("00", 16), _
        "cfd1d2e5a9be9cdf501f13b892bd2248"), _
  Array("Twofish", "0123456789abcdeffedcba987654321000112233445566778899aabbccddeeff", 32, Rep("00", 16), _
        "37527be0052334b89f0cfccae87cfa20"), _
  Array("Blowfish", "0000000000000000", 8, "0000000000000000", "4ef997456198dd78"), _
  Array("Blowfish", "ffffffffffffffff", 8, "ffffffffffffffff", "51866fd5b85ecb8a"), _
  Array("Blowfish", "3000000000000000", 8, "1000000000000001", "7d856f9a613063f2"), _
  Array("Blowfish", "0123456789abcdef", 8, "1111111111111111", "61f9c3802281b096"), _
  Array("Blowfish", "fedcba9876543210", 8, "0123456789abcdef", "0aceab0fc6a0a28d"), _
  Array("Blowfish", Left(kBlowfishKey, 16), 8, "fedcba9876543210", "e87a244e2cc85e82"), _
  Array("Blowfish", Left(kBlowfishKey, 18), 9, "fedcba9876543210", "15750e7a4f4ec577"), _
  Array("Blowfish", Left(kBlowfishKey, 30), 15, "fedcba9876543210", "79d9373a714ca34f"), _
  Array("Blowfish", Left(kBlowfishKey, 32), 16, "fedcba9876543210", "93142887ee3be15c"), _
  Array("Blowfish", Left(kBlowfishKey, 34), 17, "fedcba9876543210", "03429e838ce2d14b"), _
  Array("Blowfish", kBlowfishKey, 24, "fedcba9876543210", "05044b62fa52d080"), _
  Array("Cast", "0123456712345678234567893456789a", 16, kCastPlain, "238b4fe5847e44b2"), _
  Array("Cast", "01234567123456782345", 16, kCastPlain, "eb6a711a2c02271b"), _
  Array("Cast", "0123456712", 16, kCastPlain, "7ac816d16e9b302e"), _
  Array("TripleDES", Rep("0123456789abcdef", 3), 24, "4e6f772069732074", "3fa40e8a984d4815"), _
  Array("TripleDES", Rep("133457799bbcdff1", 3), 24, "0123456789abcdef", "85e813540f0ab405"), _
  Array("TripleDES", Rep("0101010101010101", 3), 24, "8000000000000000", "95f8a5e5dd31d900"), _
  Array("TripleDES", Rep("0000000000000000", 3), 24, "0000000000000000", "8ca64de9c1b123a7"))
For Each row In cases
  name = row(0)
  Set o = NewCipher(name)
  Set b = NewBlob(row(1))
  o.Keygen b, row(2)
  same b.Hex, row(1), name & ": Keygen leaves its material alone"
  Set p = NewBlob(row(3))
  Set c = o.Encrypt(p)
  same c.Hex, row(4), name & " key " & row(1) & " (val " & row(2) & ")"
  same p.Hex, row(3), name & ": the plaintext blob stays"
  same o.Decrypt(c).Hex, row(3), name & " decrypts " & row(4)
  ' Mode 2 starts from a zero block: the first block is the same, and a
  ' second block of P Xor C enciphers P again.
  Set o = NewCipher(name)
  o.Mode = 2
  o.Keygen NewBlob(row(1)), row(2)
  same o.Encrypt(NewBlob(row(3) & HexXor(row(3), row(4)))).Hex, row(4) & row(4), name & " mode 2 from a zero block"
Next

section "the DES example message through TripleDES"
Set o = NewCipher("TripleDES")
o.Keygen NewBlob(Rep("0123456789abcdef", 3)), 0
same o.Encrypt(NewBlob("")).Hex, "", "empty in, empty out"
Set b = CreateObject("Valdergast.ZELBlob")
b.Text = "Now is the time for all "
same o.Encrypt(b).Hex, "3fa40e8a984d48156a271787ab8883f9893d51ec4b563b53", "three blocks in mode 1"

section "Blowfish keys of 1 to 7 bytes come only from Key records"
cases = Array("f9ad597c49db005e", "e91d21c1d961a6d6", "e9c2b70a1bc65cf3", "be1e639408640f05", _
              "b39e44481bdb1e6e", "9457aa83b1928c0d", "8bb77032f960629d")
For i = 1 To 7
  Set o = NewCipher("Blowfish")
  Set o.Key = NewBlob(Right("0000000" & i, 8) & Left(kBlowfishKey, 2 * i))
  same o.Encrypt(NewBlob("fedcba9876543210")).Hex, cases(i - 1), "Blowfish " & i & "-byte key"
  same o.Key.Hex, Right("0000000" & i, 8) & Left(kBlowfishKey, 2 * i), "Blowfish " & i & "-byte record read back"
Next
' Keygen never makes a key that short: the material is padded to 8 bytes.
Set o = NewCipher("Blowfish")
o.Keygen NewBlob(Left(kBlowfishKey, 16)), 3
same o.Encrypt(NewBlob("fedcba9876543210")).Hex, "e87a244e2cc85e82", "Blowfish val 3 gives the 8-byte key"

' ---------------------------------------------------------------- Keygen key sizes
section "Keygen: the key size follows val (bytes, unsigned)"
Dim m60
m60 = Seq(&HA0, 60)
' class, material, val, the Key record expected (Filler 0)
cases = Array( _
  Array("AES", m60, 0, "0000000a" & Left(m60, 32)), _
  Array("AES", m60, 16, "0000000a" & Left(m60, 32)), _
  Array("AES", m60, 23, "0000000a" & Left(m60, 32)), _
  Array("AES", m60, 24, "0000000c" & Left(m60, 48)), _
  Array("AES", m60, 31, "0000000c" & Left(m60, 48)), _
  Array("AES", m60, 32, "0000000e" & Left(m60, 64)), _
  Array("AES", m60, 128, "0000000e" & Left(m60, 64)), _
  Array("AES", m60, 256, "0000000e" & Left(m60, 64)), _
  Array("AES", m60, -1, "0000000e" & Left(m60, 64)), _
  Array("AES", Seq(1, 10), 16, "0000000a" & Seq(1, 10) & Rep("00", 6)), _
  Array("Twofish", m60, 0, "00000002" & Left(m60, 32)), _
  Array("Twofish", m60, 16, "00000002" & Left(m60, 32)), _
  Array("Twofish", m60, 17, "00000003" & Left(m60, 48)), _
  Array("Twofish", m60, 20, "00000003" & Left(m60, 48)), _
  Array("Twofish", m60, 24, "00000003" & Left(m60, 48)), _
  Array("Twofish", m60, 25, "00000004" & Left(m60, 64)), _
  Array("Twofish", m60, 128, "00000004" & Left(m60, 64)), _
  Array("Twofish", m60, -1, "00000004" & Left(m60, 64)), _
  Array("Blowfish", m60, 0, "00000008" & Left(m60, 16)), _
  Array("Blowfish", m60, 8, "00000008" & Left(m60, 16)), _
  Array("Blowfish", m60, 9, "00000009" & Left(m60, 18)), _
  Array("Blowfish", m60, 20, "00000014" & Left(m60, 40)), _
  Array("Blowfish", m60, 55, "00000037" & Left(m60, 110)), _
  Array("Blowfish", m60, 56, "00000038" & Left(m60, 112)), _
  Array("Blowfish", m60, 57, "00000038" & Left(m60, 112)), _
  Array("Blowfish", m60, -1, "00000038" & Left(m60, 112)), _
  Array("Blowfish", Seq(1, 20), 30, "0000001e" & Seq(1, 20) & Rep("00", 10)), _
  Array("Cast", Seq(1, 10), 16, "0000000c" & Seq(1, 10) & Rep("00", 6)), _
  Array("Cast", Seq(1, 10), 100, "0000000c" & Seq(1, 10) & Rep("00", 6)), _
  Array("Cast", Seq(1, 11), 0, "00000010" & Seq(1, 11) & Rep("00", 5)), _
  Array("Cast", Seq(1, 11), -1, "00000010" & Seq(1, 11) & Rep("00", 5)), _
  Array("Cast", m60, 5, "00000010" & Left(m60, 32)), _
  Array("Cast", "", 16, "0000000c" & Rep("00", 16)), _
  Array("TripleDES", m60, 0, Left(m60, 48)), _
  Array("TripleDES", m60, -1, Left(m60, 48)), _
  Array("TripleDES", Seq(1, 16), 24, Seq(1, 16) & Rep("00", 8)))
For Each row In cases
  Set o = NewCipher(row(0))
  o.Keygen NewBlob(row(1)), row(2)
  Set k = o.Key
  same k.Hex, row(3), row(0) & " Keygen of " & Len(row(1)) / 2 & " bytes with val " & row(2)
  same k.Length, Len(row(3)) / 2, row(0) & " record length"
Next

section "Keygen pads short material with the Filler of the moment"
For Each cls In classes
  name = cls(0)
  Set o = NewCipher(name)
  o.Filler = &H2A
  o.Keygen NewBlob("0102030405"), 16
  Set k = o.Key
  Select Case name
    Case "AES": expected = "0000000a"
    Case "Twofish": expected = "00000002"
    Case "Blowfish": expected = "00000010"
    Case "Cast": expected = "0000000c"
    Case "TripleDES": expected = ""
  End Select
  If name = "TripleDES" Then
    expected = "0102030405" & Rep("2a", 19)
  Else
    expected = expected & "0102030405" & Rep("2a", 11)
  End If
  same k.Hex, expected, name & ": 5 bytes of material, Filler &H2A"
  ' A later Filler changes neither the key nor what it enciphers.
  p = Seq(&H40, 16)
  c = FreshEncrypt(name, k, 1, 0, p)
  o.Filler = 0
  same o.Key.Hex, expected, name & ": the key stays when Filler changes"
  same o.Encrypt(NewBlob(p)).Hex, c, name & ": enciphers as before"
Next

section "AES val 128 is AES-256; CAST rounds follow the material"
Set o = NewCipher("AES")
o.Keygen NewBlob(Seq(0, 40)), 128
Set k = o.Key
same k.Length, 36, "AES val 128: a 36-byte record"
same Left(k.Hex, 8), "0000000e", "AES val 128: 14 rounds"
' 80 key bits or fewer: 12 rounds, whatever val says.
For Each v In Array(0, 10, 16, 11, -1)
  Set o = NewCipher("Cast")
  o.Keygen NewBlob("01234567123456782345"), v
  same o.Encrypt(NewBlob(kCastPlain)).Hex, "eb6a711a2c02271b", "CAST 10 bytes with val " & v
  Set o = NewCipher("Cast")
  o.Keygen NewBlob("0123456712345678234500"), v
  same Left(o.Key.Hex, 8), "00000010", "CAST 11 bytes with val " & v & ": 16 rounds"
  ok o.Encrypt(NewBlob(kCastPlain)).Hex <> "eb6a711a2c02271b", _
    "CAST 11 bytes with val " & v & " is not the 12-round cipher"
Next
' The record's round count decides: 16 is the full cipher, anything else 12.
cases = Array( _
  Array("00000010" & "0123456712345678234567893456789a", "238b4fe5847e44b2"), _
  Array("0000000c" & "01234567123456782345" & Rep("00", 6), "eb6a711a2c02271b"), _
  Array("00000007" & "01234567123456782345" & Rep("00", 6), "eb6a711a2c02271b"), _
  Array("ffffffff" & "0123456712" & Rep("00", 11), "7ac816d16e9b302e"))
For Each row In cases
  Set o = NewCipher("Cast")
  Set o.Key = NewBlob(row(0))
  same o.Encrypt(NewBlob(kCastPlain)).Hex, row(1), "CAST record " & row(0)
  same o.Key.Hex, row(0), "CAST record read back unchanged"
Next
Set o = NewCipher("Cast")
Set o.Key = NewBlob("0000000c" & "0123456712345678234567893456789a")
ok o.Encrypt(NewBlob(kCastPlain)).Hex <> "238b4fe5847e44b2", "a 128-bit CAST key with 12 rounds is not the full cipher"

section "TripleDES: short material is filled with Filler, not repeated"
' K1 = K2, so EDE is single DES under K3: with 16 bytes of material and
' Filler 0 that is the all-zero DES key.
Set o = NewCipher("TripleDES")
o.Keygen NewBlob(Rep("0123456789abcdef", 2)), 24
same o.Key.Hex, Rep("0123456789abcdef", 2) & Rep("00", 8), "third DES key is zero"
same o.Encrypt(NewBlob("0000000000000000")).Hex, "8ca64de9c1b123a7", "single DES under the zero key"
' Only the parity bit differs: the same cipher.
Set o = NewCipher("TripleDES")
o.Keygen NewBlob(Rep("0123456789abcdef", 2) & "0101010101010101"), 24
same o.Encrypt(NewBlob("0000000000000000")).Hex, "8ca64de9c1b123a7", "parity bits are ignored"

' ---------------------------------------------------------------- Key records
section "Key records move between objects of a class"
For Each cls In classes
  name = cls(0)
  bs = cls(2)
  For Each mode In Array(1, 2)
    Set o = KeyedCipher(name, mode)
    Set o2 = NewCipher(name)
    Set o2.Key = o.Key
    o2.Mode = mode
    same o2.Key.Hex, o.Key.Hex, name & ": the record comes back as it went in"
    p = Seq(3, 3 * bs + 1)
    same o2.Encrypt(NewBlob(p)).Hex, o.Encrypt(NewBlob(p)).Hex, name & " mode " & mode & ": same ciphertext"
  Next
  ' Each read is a new blob: changing it changes nothing.
  Set o = KeyedCipher(name, 1)
  Set k = o.Key
  expected = k.Hex
  k.Hex = "00"
  same o.Key.Hex, expected, name & ": the record read is a copy"
  ' A record replaces a key already loaded.
  Set o2 = NewCipher(name)
  o2.Keygen NewBlob(Seq(&H90, 40)), 32
  Set o2.Key = o.Key
  same o2.Key.Hex, expected, name & ": a record replaces the key"
  same o2.Encrypt(NewBlob(Seq(0, bs))).Hex, o.Encrypt(NewBlob(Seq(0, bs))).Hex, name & ": and enciphers like it"
Next
' Records longer than needed: CAST and TripleDES take what they need.
Set o = NewCipher("Cast")
Set o.Key = NewBlob("00000010" & "0123456712345678234567893456789a" & Seq(0, 5))
same o.Key.Hex, "00000010" & "0123456712345678234567893456789a", "a 25-byte CAST record loads its first 20"
same o.Encrypt(NewBlob(kCastPlain)).Hex, "238b4fe5847e44b2", "and enciphers with them"
Set o = NewCipher("TripleDES")
Set o.Key = NewBlob(Rep("133457799bbcdff1", 3) & Seq(0, 6))
same o.Key.Hex, Rep("133457799bbcdff1", 3), "a 30-byte TripleDES record loads its first 24"
same o.Encrypt(NewBlob("0123456789abcdef")).Hex, "85e813540f0ab405", "and enciphers with them"

' ---------------------------------------------------------------- properties
section "Filler keeps the low 8 bits"
For Each cls In classes
  Set o = NewCipher(cls(0))
  For Each row In Array(Array(&H141, 65), Array(-1, 255), Array(256, 0), Array(255, 255), Array(&H7FFFFF80, 128), _
                        Array(2.5, 2), Array("7", 7))
    o.Filler = row(0)
    same o.Filler, row(1), cls(0) & " Filler = " & row(0)
  Next
  same o.Mode, 1, cls(0) & ": Filler leaves Mode alone"
Next

section "Mode keeps any value; Encrypt and Decrypt refuse all but 1 and 2"
For Each cls In classes
  name = cls(0)
  bs = cls(2)
  ' True is -1; Empty (what an undefined constant name gives) is 0.
  For Each v In Array(7, 0, 3, -1, &H80000000, True, Empty)
    Set o = KeyedCipher(name, 2)
    c = o.Encrypt(NewBlob(Seq(0, bs))).Hex
    o.Mode = v
    same o.Mode, CLng(v), name & " Mode = " & v
    same o.mode, CLng(v), name & " read as mode"
    Set r = Nothing
    same TryEncrypt(o, NewBlob(Seq(0, 2 * bs + 3)), r), Refusal(name, kUnsupported), name & " Encrypt in mode " & v
    ok r Is Nothing, name & ": no ciphertext in mode " & v
    same TryEncrypt(o, NewBlob(""), r), Refusal(name, kUnsupported), name & " empty Encrypt in mode " & v
    same TryDecrypt(o, NewBlob(Seq(0, 2 * bs)), r), Refusal(name, kUnsupported), name & " Decrypt in mode " & v
    ok r Is Nothing, name & ": no plaintext in mode " & v
    ' The length is checked first.
    same TryDecrypt(o, NewBlob(Seq(0, bs + 1)), r), Refusal(name, kCannotDecrypt), name & " bad length in mode " & v
    ' Back in mode 2, the chain goes on from where the first Encrypt left it.
    o.Mode = 2
    q = Seq(&H40, bs)
    same o.Encrypt(NewBlob(q)).Hex, FreshEncrypt(name, o.Key, 1, 0, HexXor(q, c)), name & ": the refusals moved no chain"
  Next
  Set o = NewCipher(name)
  o.mode = 2
  same o.Mode, 2, name & ": mode and Mode are one property"
  o.MODE = 1
  same o.mode, 1, name & ": MODE too"
Next

' ---------------------------------------------------------------- padding
section "the last block is padded with Filler"
For Each cls In classes
  name = cls(0)
  bs = cls(2)
  For Each mode In Array(1, 2)
    For Each v In Array(1, bs - 1, bs + 4, 2 * bs + 1)
      Set o = KeyedCipher(name, mode)
      o.Filler = &HA5
      p = Seq(&H30, v)
      Set c = o.Encrypt(NewBlob(p))
      n = ((v + bs - 1) \ bs) * bs
      same c.Length, n, name & " mode " & mode & ": " & v & " bytes in"
      expected = p & Rep("a5", n - v)
      ' The same as enciphering the padded plaintext.
      same c.Hex, FreshEncrypt(name, o.Key, mode, 0, expected), name & " mode " & mode & ": padded with &HA5"
      ' A new object gives the plaintext back with its filler bytes.
      same FreshDecrypt(name, o.Key, mode, 0, c.Hex), expected, name & " mode " & mode & ": deciphered " & v
    Next
    ' Whole blocks get no extra block; nothing gives nothing.
    Set o = KeyedCipher(name, mode)
    same o.Encrypt(NewBlob(Seq(0, 2 * bs))).Length, 2 * bs, name & " mode " & mode & ": whole blocks"
    same o.Encrypt(NewBlob("")).Length, 0, name & " mode " & mode & ": empty Encrypt"
    same o.Decrypt(NewBlob("")).Length, 0, name & " mode " & mode & ": empty Decrypt"
  Next
Next
' Blowfish: 20 bytes in, 24 out, and back with four fillers on a new object.
Set o = NewCipher("Blowfish")
o.Keygen NewBlob("0123456789abcdeffedcba9876543210"), 16
o.Filler = &H5C
Set c = o.Encrypt(NewBlob(Seq(0, 20)))
same c.Length, 24, "Blowfish 20 bytes give 24"
Set o2 = NewCipher("Blowfish")
o2.Keygen NewBlob("0123456789abcdeffedcba9876543210"), 16
Set d = o2.Decrypt(c)
same d.Length, 24, "Blowfish deciphers 24 bytes"
same d.Hex, Seq(0, 20) & "5c5c5c5c", "the 20 bytes and 4 fillers"

' ---------------------------------------------------------------- refusals
section "arguments that are not blobs"
Dim notBlobs, nb
Set notBlobs = CreateObject("Scripting.Dictionary")
notBlobs.Add "Nothing", Nothing
notBlobs.Add "a Dictionary", CreateObject("Scripting.Dictionary")
notBlobs.Add "a cipher object", NewCipher("AES")
For Each cls In classes
  name = cls(0)
  Set o = KeyedCipher(name, 2)
  expected = o.Key.Hex
  For Each v In notBlobs.Keys
    Set nb = notBlobs(v)
    same TryKeygen(o, nb, 16), Refusal(name, kNotABlob), name & " Keygen of " & v
    same TrySetKey(o, nb), Refusal(name, kNotABlob), name & " Key = " & v
    Set r = Nothing
    same TryEncrypt(o, nb, r), Refusal(name, kNotABlob), name & " Encrypt of " & v
    ok r Is Nothing, name & ": no ciphertext of " & v
    same TryDecrypt(o, nb, r), Refusal(name, kNotABlob), name & " Decrypt of " & v
    ok r Is Nothing, name & ": no plaintext of " & v
  Next
  same TryEncrypt(o, "0011", r), kTypeMismatch, name & " Encrypt of a string"
  same TryKeygen(o, 5, 16), kTypeMismatch, name & " Keygen of a number"
  ' Nothing changed: the key and the fresh chain are still there.
  same o.Key.Hex, expected, name & ": the key stays"
  same o.Encrypt(NewBlob(Seq(0, 16))).Hex, KeyedCipher(name, 2).Encrypt(NewBlob(Seq(0, 16))).Hex, _
    name & ": the chain is untouched"
Next

section "Decrypt of a length that is not whole blocks"
For Each cls In classes
  name = cls(0)
  bs = cls(2)
  For Each mode In Array(1, 2)
    Set o = KeyedCipher(name, mode)
    p = Seq(&H21, bs)
    c = o.Encrypt(NewBlob(p)).Hex
    For Each v In Array(1, bs - 1, bs + 1, 2 * bs + 3)
      Set r = Nothing
      Set b = NewBlob(Seq(0, v))
      same TryDecrypt(o, b, r), Refusal(name, kCannotDecrypt), name & " mode " & mode & ": Decrypt of " & v & " bytes"
      ok r Is Nothing, name & ": no plaintext of " & v & " bytes"
      same b.Hex, Seq(0, v), name & ": the source stays"
    Next
    ' The refusals left the chain where Encrypt put it.
    same o.Encrypt(NewBlob(p)).Hex, Right(KeyedCipher(name, mode).Encrypt(NewBlob(p & p)).Hex, 2 * bs), _
      name & " mode " & mode & ": the chain is as Encrypt left it"
  Next
Next

section "malformed Key records are refused and change nothing"
' class, records (hex)
cases = Array( _
  Array("AES", Array("", "0000000a", "0000000a" & Seq(0, 15), "0000000a" & Seq(0, 17), _
                     "0000000a" & Seq(0, 24), "0000000c" & Seq(0, 16), "0000000e" & Seq(0, 24), _
                     "0000000e" & Seq(0, 33), "0000000b" & Seq(0, 32), "0000000d" & Seq(0, 32), _
                     "00000000" & Seq(0, 32), "ffffffff" & Seq(0, 32), "0000000a" & Seq(0, 32))), _
  Array("Twofish", Array("", "00000002", "00000002" & Seq(0, 24), "00000003" & Seq(0, 16), _
                         "00000004" & Seq(0, 31), "00000001" & Seq(0, 8), "00000005" & Seq(0, 40), _
                         "00000000" & "00", "20000002" & Seq(0, 16), "00000002" & Seq(0, 17))), _
  Array("Blowfish", Array("", "00000000", "00000010", "00000000" & "00", "00000008" & Seq(0, 7), _
                          "00000008" & Seq(0, 9), "00000039" & Seq(0, 57), "00000100" & Seq(0, 256), _
                          "ffffffff" & Seq(0, 4))), _
  Array("Cast", Array("", "00000010", "00000010" & Seq(0, 15))), _
  Array("TripleDES", Array("", Seq(0, 8), Seq(0, 23))))
For Each row In cases
  name = row(0)
  For Each cls In classes
    If cls(0) = name Then engine = cls(1)
  Next
  For Each v In row(1)
    ' A key already loaded stays loaded ...
    Set o = KeyedCipher(name, 2)
    expected = o.Key.Hex
    Set b = NewBlob(v)
    same TrySetKey(o, b), Refusal(name, "Crypto System: Data is corrupted - " & engine), _
      name & " record of " & Len(v) / 2 & " bytes " & Left(v, 8)
    same o.Key.Hex, expected, name & ": the old record stays"
    same o.Encrypt(NewBlob(Seq(0, 16))).Hex, KeyedCipher(name, 2).Encrypt(NewBlob(Seq(0, 16))).Hex, _
      name & ": the old key still enciphers"
    same b.Hex, v, name & ": the record blob stays"
    ' ... and an object without a key stays without one.
    Set o = NewCipher(name)
    same TrySetKey(o, b), Refusal(name, "Crypto System: Data is corrupted - " & engine), _
      name & " record on a fresh object"
    same TryGetKey(o, r), Refusal(name, kNoKey & " - " & engine), name & ": still no key"
  Next
Next

' Records of one class in another: whatever the lengths say.
section "a record of one class in another"
Set o = NewCipher("Twofish")
Set k = KeyedCipher("AES", 1).Key
same TrySetKey(o, k), Refusal("Twofish", "Crypto System: Data is corrupted - Twofish"), "an AES-256 record in Twofish"
Set k = KeyedCipher("TripleDES", 1).Key
same TrySetKey(NewCipher("Cast"), k), "no error", "24 bytes of TripleDES record are a CAST record"

Tally
