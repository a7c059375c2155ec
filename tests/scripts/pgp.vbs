' Valdergast.ZELCryptoPGP as a VBScript author uses it: a password given as a
' blob, Init with hash, cipher, string-to-key type and count, Encrypt and
' Decrypt of blobs, Enarmor to a text and Dearmor back, the settings that
' Decrypt takes from a message, a message and an armored text written by
' GnuPG, and every refusal with its Err.Number, Err.Source and Err.Description.
'
' The settings an object uses are read back from the session-key packet at
' the start of its messages: C3, length, version 4, cipher, type, hash, then
' the salt and the count byte.
'
' Wine's cscript stops silently on an unhandled error, so every block prints
' its name first: the last name printed shows where a run stopped.
Option Explicit

' ok, same, section, Outcome, Tally, TryEncrypt, TryDecrypt and the blob helpers
' come from checks.vbs, which the test runner appends to this script.

' count bytes of a pattern that depends on start, as hex.
Function Mixed(start, count)
  Dim i, s
  s = ""
  For i = 0 To count - 1
    s = s & Hex2((start * 7 + i * 13) Mod 256)
  Next
  Mixed = s
End Function

' Byte i (from 0) of a hex text.
Function ByteAt(hexText, i)
  ByteAt = Mid(hexText, 2 * i + 1, 2)
End Function

Function NewPgp(password)
  Set NewPgp = CreateObject("Valdergast.ZELCryptoPGP")
  NewPgp.Password = TextBlob(password)
End Function

' ---- calls that may fail: each returns "no error" or "number | source | description"

Function TryEnarmor(o, src, ByRef result)
  On Error Resume Next
  result = o.Enarmor(src)
  TryEnarmor = Outcome()
End Function

Function TryDearmor(o, text, ByRef result)
  On Error Resume Next
  Set result = o.Dearmor(text)
  TryDearmor = Outcome()
End Function

Function TryEncrypt(o, src, ByRef result)
  On Error Resume Next
  Set result = o.Encrypt(src)
  TryEncrypt = Outcome()
End Function

Function TrySetPassword(o, b)
  On Error Resume Next
  o.Password = b
  TrySetPassword = Outcome()
End Function

Function TryFormat(o, value)
  On Error Resume Next
  o.Format = value
  TryFormat = Outcome()
End Function

Function TryChunkSize(o, value)
  On Error Resume Next
  o.ChunkSize = value
  TryChunkSize = Outcome()
End Function

Function Refusal(description)
  Refusal = "80004005 | Valdergast.ZELCryptoPGP.2 | Crypto System: " & description
End Function

Const kNotABlob = "80004005 | Valdergast.ZELCryptoPGP.2 | Internal error: can't get source ZELBlob COM interface"
Const kBegin = "-----BEGIN PGP MESSAGE-----"
Const kEnd = "-----END PGP MESSAGE-----"

' Written by GnuPG 2.2 (gpg --rfc2440 -z 0 --symmetric, passphrase
' "correct-horse"): AES-128, type 3 with RIPEMD-160 and count 0x60 ...
Const kGpgPlain = "Message written by GnuPG for the class tests."
Const kGpgAes = "8c0d0407030344fd29d0c2002e5460a451e7704a496b78bb6ffefce944109781cf844caaab7ff125e7343a09ff9572684698a3ca61d07d59192bc74c5dc7984cf5e325f069e280f14a59435b13eca2260fdfd3766cd7fc56f8be1896893593521b7d"
' ... and Twofish, type 1 with MD5, armored (no Version line, LF ends).
Dim gpgArmored
gpgArmored = kBegin & vbLf & vbLf & _
  "jAwECgEBmLkGFf7/dm3JSJLWwVYWrASohowq4lYgofcu1FWdk38a58gIQgi4GU5j" & vbLf & _
  "+zp7U83QweJIwk95+KDgtLMa+mICROz+aXwAt/KxT9aNqUbRkeoNFA==" & vbLf & _
  "=9+uY" & vbLf & kEnd & vbLf

Dim o, o2, m, d, r, s, t, i, n, lines, row, cases, p, msg, outcome1

' ---------------------------------------------------------------- a fresh object
section "a fresh object: SHA-1, Blowfish, iterated and salted, count 96"
Set o = NewPgp("fresh")
Set m = o.Encrypt(TextBlob("Hello, world"))
msg = m.Hex
same Left(msg, 12), "c30d04040302", "session-key packet header and settings"
same ByteAt(msg, 14), "60", "count byte"
same ByteAt(msg, 15), "c9", "data packet follows"
' 10 prefix bytes and a literal packet of 8 + 12 bytes.
same ByteAt(msg, 16), Hex2(30), "data packet length"
same m.Length, 17 + 30, "message length"
same o.Decrypt(m).Text, "Hello, world", "Decrypt on the same object"
same NewPgp("fresh").Decrypt(m).Text, "Hello, world", "Decrypt on a fresh object"
ok o.Encrypt(TextBlob("Hello, world")).Hex <> msg, "a new salt and prefix every time"

section "Password: plain and Set assignment both take the blob"
Set o = CreateObject("Valdergast.ZELCryptoPGP")
o.Password = TextBlob("plain")
Set o2 = CreateObject("Valdergast.ZELCryptoPGP")
Set o2.Password = TextBlob("plain")
same o2.Decrypt(o.Encrypt(NewBlob("0102"))).Hex, "0102", "plain assignment, read by Set assignment"
same o.Decrypt(o2.Encrypt(NewBlob("0304"))).Hex, "0304", "Set assignment, read by plain assignment"
Set o2 = NewPgp("other")
' A wrong password passes the two-byte quick check once in 65536 times and
' then fails as corrupted data.
t = TryDecrypt(o2, o.Encrypt(NewBlob("05")), r)
ok t = Refusal("Invalid key - PGP") Or t = Refusal("Data is corrupted - PGP"), "another password: " & t
' Encrypt refuses the empty password (never set, or set empty) and gives no
' message; Decrypt still reads a message made under it by another writer.
Const kEmptyPasswordMessage = "c30404070002c9250446fb8c26ea6c21168cfb94aeebda77dc3fc0855ecc3f6de35a11573fb2d25ea3b85efc1a"
Set o2 = CreateObject("Valdergast.ZELCryptoPGP")
Set r = Nothing
same TryEncrypt(o2, TextBlob("no password"), r), Refusal("Invalid key - PGP"), "Encrypt with no password set at all"
ok r Is Nothing, "no message without a password"
same o2.Decrypt(NewBlob(kEmptyPasswordMessage)).Text, "no password", "Decrypt with no password set at all"
Set o2 = NewPgp("")
same TryEncrypt(o2, NewBlob(""), r), Refusal("Invalid key - PGP"), "Encrypt with the empty password"
same o2.Decrypt(NewBlob(kEmptyPasswordMessage)).Text, "no password", "Decrypt with the empty password"

' ---------------------------------------------------------------- Init
section "Init: the low byte of each value, read back from the packet"
' hash, alg, mode, passes, expected start of the message (after C3 and length), count byte or ""
cases = Array( _
  Array(2, 9, 3, 96, "04090302", "60"), _
  Array(258, 4, 3, 96, "04040302", "60"), _
  Array(1, 2, 0, 0, "04020001", ""), _
  Array(3, 3, 1, 0, "04030103", ""), _
  Array(1, 7, 3, 65, "04070301", "41"), _
  Array(3, 8, 3, -160, "04080303", "60"), _
  Array(-254, 266, 259, 15, "040a0302", "0f"))
For Each row In cases
  Set o = NewPgp("init")
  o.Init row(0), row(1), row(2), row(3)
  Set m = o.Encrypt(TextBlob("init"))
  msg = m.Hex
  t = "Init " & row(0) & ", " & row(1) & ", " & row(2) & ", " & row(3)
  same Mid(msg, 5, 8), row(4), t
  If row(2) = 0 Then
    same ByteAt(msg, 1), "04", t & ": no salt"
  ElseIf row(2) = 1 Then
    same ByteAt(msg, 1), "0c", t & ": salt, no count"
  Else
    same ByteAt(msg, 1), "0d", t & ": salt and count"
    same ByteAt(msg, 14), row(5), t & ": count"
  End If
  same NewPgp("init").Decrypt(m).Text, "init", t & ": read back"
Next

section "Init takes anything; Encrypt refuses what it cannot use"
' hash, alg, mode, expected refusal
cases = Array( _
  Array(2, 1, 3, Refusal("Unsupported algorithm - PGP")), _
  Array(2, 5, 3, Refusal("Unsupported algorithm - PGP")), _
  Array(2, 11, 3, Refusal("Unsupported algorithm - PGP")), _
  Array(2, 4, 2, Refusal("Unsupported algorithm - PGP")), _
  Array(2, 4, 4, Refusal("Unsupported algorithm - PGP")), _
  Array(7, 4, 3, Refusal("Unsupported algorithm")), _
  Array(0, 7, 0, Refusal("Unsupported algorithm")))
For Each row In cases
  Set o = NewPgp("init")
  On Error Resume Next
  o.Init row(0), row(1), row(2), 96
  outcome1 = Outcome()
  On Error GoTo 0
  t = "Init " & row(0) & ", " & row(1) & ", " & row(2)
  same outcome1, "no error", t
  Set r = Nothing
  same TryEncrypt(o, TextBlob("x"), r), row(3), t & ", Encrypt"
  ok r Is Nothing, t & ": no message handed out"
Next

' ---------------------------------------------------------------- round trips
section "Encrypt and Decrypt with every cipher"
n = 0
For Each p In Array(2, 3, 4, 7, 8, 9, 10)
  For Each row In Array(Array(1, 0), Array(2, 1), Array(3, 3))
    n = n + 1
    Set o = NewPgp("round " & n)
    o.Init row(0), p, row(1), 96
    s = Mixed(n, (n * 37) Mod 300)
    Set m = o.Encrypt(NewBlob(s))
    same ByteAt(m.Hex, 3), Hex2(p), "cipher " & p & " in the packet"
    same o.Decrypt(m).Hex, s, "cipher " & p & ", hash " & row(0) & ", type " & row(1)
    same NewPgp("round " & n).Decrypt(m).Hex, s, "cipher " & p & " on a fresh object"
  Next
Next
Set o = NewPgp("empty")
same o.Decrypt(o.Encrypt(NewBlob(""))).Length, 0, "an empty plaintext"

section "Decrypt takes the settings of the message"
Set o = NewPgp("settings")
o.Init 3, 10, 1, 0
Set m = o.Encrypt(TextBlob("twofish"))
Set o2 = NewPgp("settings")
same o2.Decrypt(m).Text, "twofish", "read with the initial settings"
same Mid(o2.Encrypt(TextBlob("next")).Hex, 1, 12), "c30c040a0103", "the next Encrypt uses Twofish, type 1, RIPEMD-160"
Set o2 = NewPgp("correct-horse")
same o2.Decrypt(NewBlob(kGpgAes)).Text, kGpgPlain & vbLf, "GnuPG's message"
msg = o2.Encrypt(TextBlob("next")).Hex
same Mid(msg, 1, 12), "c30d04070303", "then AES-128, type 3, RIPEMD-160"
same ByteAt(msg, 14), "60", "and GnuPG's count"

' ---------------------------------------------------------------- armor
section "Enarmor: a text of CR LF lines"
Set o = NewPgp("armor")
Set m = o.Encrypt(NewBlob(Mixed(3, 200)))
s = o.Enarmor(m)
same TypeName(s), "String", "Enarmor gives a string"
same Left(s, Len(kBegin) + 2), kBegin & vbCrLf, "BEGIN line"
lines = Split(s, vbCrLf)
same lines(1), "Version: ZELCrypto v2.0", "Version line"
same lines(2), "", "empty line after the headers"
same Right(s, Len(kEnd) + 2), kEnd & vbCrLf, "END line, ended by CR LF"
same UBound(lines), 10, "BEGIN, Version, empty, 5 body lines, checksum, END and the empty rest after the last CR LF"
same Len(lines(3)), 76, "full body line"
same Left(lines(UBound(lines) - 2), 1), "=", "checksum line"
same Len(lines(UBound(lines) - 2)), 5, "checksum of 4 characters"
same InStr(Replace(s, vbCrLf, ""), vbLf) + InStr(Replace(s, vbCrLf, ""), vbCr), 0, "no lone CR or LF"
same o.Dearmor(s).Hex, m.Hex, "Dearmor gives the message back"
same o.Decrypt(o.Dearmor(s)).Hex, Mixed(3, 200), "Encrypt, Enarmor, Dearmor, Decrypt"

section "Enarmor and Dearmor of any bytes"
For Each n In Array(0, 1, 2, 57, 58, 1000)
  s = Mixed(n, n)
  same o.Dearmor(o.Enarmor(NewBlob(s))).Hex, s, n & " bytes"
Next
same o.Enarmor(NewBlob("")), kBegin & vbCrLf & "Version: ZELCrypto v2.0" & vbCrLf & vbCrLf & vbCrLf & _
  "=twTO" & vbCrLf & kEnd & vbCrLf, "the armor of no bytes"

section "Dearmor: LF ends, no Version line, GnuPG's armor"
s = o.Enarmor(m)
t = Replace(Replace(s, vbCrLf, vbLf), "Version: ZELCrypto v2.0" & vbLf, "")
same Left(t, Len(kBegin) + 2), kBegin & vbLf & vbLf, "the text really changed"
same o.Dearmor(t).Hex, m.Hex, "LF ends without the Version line"
same o.Dearmor(Replace(s, vbCrLf, vbCr)).Hex, m.Hex, "CR ends"
Set o2 = NewPgp("correct-horse")
same o2.Decrypt(o2.Dearmor(gpgArmored)).Text, kGpgPlain & vbLf, "GnuPG's armored message"
' An armor pasted into a mail: text before it, blanks and tabs after lines.
t = "Hello," & vbCrLf & vbCrLf & "the message follows." & vbCrLf & vbCrLf & _
  Replace(gpgArmored, vbLf, " " & vbTab & vbLf)
same o2.Decrypt(o2.Dearmor(t)).Text, kGpgPlain & vbLf, "GnuPG's armored message inside a mail"
same Mid(o2.Encrypt(NewBlob("")).Hex, 1, 12), "c30c040a0101", "then Twofish, type 1, MD5"

section "Dearmor: the body ends at the END line, with or without a checksum line"
' 201 bytes fill whole base64 groups, so no padding stops the decoder: read as
' body, the END line would add 9 bytes.  202 and 203 end in padding.
Set o = NewPgp("armor")
For Each n In Array(201, 202, 203)
  s = Mixed(n, n)
  t = o.Enarmor(NewBlob(s))
  lines = Split(t, vbCrLf)
  same Left(lines(UBound(lines) - 2), 1), "=", n & " bytes: the checksum line"
  d = Replace(t, vbCrLf & lines(UBound(lines) - 2) & vbCrLf, vbCrLf)
  same Right(d, Len(kEnd) + 2), kEnd & vbCrLf, n & " bytes: the END line follows the body"
  For Each row In Array(Array(vbCrLf, "CR LF"), Array(vbLf, "LF"), Array(vbCr, "CR"))
    same o.Dearmor(Replace(t, vbCrLf, row(0))).Hex, s, n & " bytes, checksum, " & row(1)
    same o.Dearmor(Replace(d, vbCrLf, row(0))).Hex, s, n & " bytes, no checksum, " & row(1)
  Next
Next

'' ---------------------------------------------------------------- formats
section "Format, Aead, ChunkSize, Compression: written, read back, taken from the message"
Set o = NewPgp("formats")
same o.Format & " " & o.Aead & " " & o.ChunkSize & " " & o.Compression, "0 2 12 0", "a fresh object's settings"
Dim formats, f, plainText, sealed, changed
plainText = String(3000, "z") & "end"
' format, AEAD mode, chunk size octet, compression
formats = Array(Array(1, 2, 12, 1), Array(2, 1, 0, 0), Array(2, 2, 12, 2), Array(2, 3, 4, 1), Array(3, 2, 16, 0))
For Each f In formats
  Set o = NewPgp("formats")
  o.Init 8, 9, 3, 16
  o.Format = f(0)
  o.Aead = f(1)
  o.ChunkSize = f(2)
  o.Compression = f(3)
  Set sealed = o.Encrypt(TextBlob(plainText))
  Set o2 = NewPgp("formats")
  same o2.Decrypt(sealed).Text, plainText, "format " & f(0) & ", AEAD " & f(1) & " reads back"
  If f(0) = 1 Then
    same o2.Format & " " & o2.Compression, "1 " & f(3), "the reader takes the format and compression"
  Else
    same o2.Format & " " & o2.Aead & " " & o2.ChunkSize & " " & o2.Compression, f(0) & " " & f(1) & " " & f(2) & " " & f(3), _
      "the reader takes the format, AEAD mode, chunk size and compression"
  End If
  ' The fifth byte from the end, changed: to 00, or to 01 where it was 00.
  changed = "00"
  If Mid(sealed.Hex, Len(sealed.Hex) - 9, 2) = "00" Then changed = "01"
  Set d = NewBlob(Mid(sealed.Hex, 1, Len(sealed.Hex) - 10) & changed & Right(sealed.Hex, 8))
  same TryDecrypt(o2, d, r), Refusal("Data is corrupted - PGP"), "format " & f(0) & ": a changed byte near the end"
Next
Set o = NewPgp("formats")
same TryFormat(o, 4), "80070057 | Valdergast.ZELCryptoPGP.2 | Format must be 0, 1, 2 or 3", "Format 4 is refused"
same TryChunkSize(o, 17), "80070057 | Valdergast.ZELCryptoPGP.2 | ChunkSize must be 0 to 16", "ChunkSize 17 is refused"
same o.Format & " " & o.ChunkSize, "0 12", "and the settings stay"
o.Format = 2
same TryEncrypt(o, TextBlob("x"), r), Refusal("Unsupported algorithm - PGP"), "format 2 with Blowfish"

' ---------------------------------------------------------------- refusals
section "refusals"
Set o = NewPgp("refusals")
Set r = Nothing
same TryDecrypt(NewPgp("not correct"), NewBlob(kGpgAes), r), Refusal("Invalid key - PGP"), "wrong password"
ok r Is Nothing, "no plaintext handed out"
same TryDecrypt(o, NewBlob("00112233"), r), Refusal("Data is corrupted - PGP"), "not a message"
same TryDecrypt(o, NewBlob(Left(kGpgAes, 30)), r), Refusal("Data is corrupted - PGP"), "session-key packet alone"
same TryDecrypt(o, NewBlob(Left(kGpgAes, 120)), r), Refusal("Invalid key - PGP"), "cut inside the data (wrong password)"
same TryDecrypt(NewPgp("correct-horse"), NewBlob(Left(kGpgAes, 120)), r), Refusal("Data is corrupted - PGP"), _
  "cut inside the data"
same TryDearmor(o, "no armor", r), Refusal("Data is corrupted - PGP"), "Dearmor of a plain text"
same TryDearmor(o, "", r), Refusal("Data is corrupted - PGP"), "Dearmor of an empty text"
same TryDearmor(o, "Hello," & vbCrLf & "no message here." & vbCrLf, r), Refusal("Data is corrupted - PGP"), _
  "Dearmor of a mail without armor"
same TryDearmor(o, Replace(gpgArmored, "jAwE", "jAwF"), r), Refusal("Data CRC error - PGP"), "a changed character"
same TryDearmor(o, Replace(gpgArmored, "=9+uY", "=9+uZ"), r), Refusal("Data CRC error - PGP"), "a changed checksum"
same TryDearmor(o, Replace(gpgArmored, "=9+uY", "=9+"), r), Refusal("Data CRC error - PGP"), "a short checksum"
same o.Dearmor(Replace(gpgArmored, "=9+uY" & vbLf & kEnd, "")).Length, 88, "no checksum and no END line"
same TryEncrypt(o, Nothing, r), kNotABlob, "Encrypt of Nothing"
same TryDecrypt(o, Nothing, r), kNotABlob, "Decrypt of Nothing"
t = "unchanged"
same TryEnarmor(o, Nothing, t), kNotABlob, "Enarmor of Nothing"
same TryEnarmor(o, o, t), kNotABlob, "Enarmor of an object that is no blob"
same TrySetPassword(o, Nothing), kNotABlob, "Password = Nothing"
same TrySetPassword(o, CreateObject("Valdergast.ZELCryptoMisc")), kNotABlob, "Password = an object that is no blob"
same o.Decrypt(o.Encrypt(TextBlob("still"))).Text, "still", "the object works after the refusals"

Tally
