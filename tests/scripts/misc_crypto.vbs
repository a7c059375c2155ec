' Digests, checksums, random bytes and key derivation with the Misc object:
' MD5, SHA1, Ripemd, CRC32, CRC24, Random, Keygen.
'
' The digests are checked against their published test vectors; Keygen's
' derivations against relations with those digests over preimages this script
' builds itself.
'
' Wine's cscript stops silently on an unhandled error, so every block prints
' its name first: the last name printed shows where a run stopped.
Option Explicit

' ok, same, section, Outcome, Tally, TryEncrypt, TryDecrypt and the blob helpers
' come from checks.vbs, which the test runner appends to this script.

Dim m
Set m = CreateObject("Valdergast.ZELCryptoMisc")

' The bytes of a text, as hex.
Function TextHex(text)
  TextHex = TextBlob(text).Hex
End Function

Function Md5Hex(hexText)
  Md5Hex = m.MD5(NewBlob(hexText)).Hex
End Function

Function Sha1Hex(hexText)
  Sha1Hex = m.SHA1(NewBlob(hexText)).Hex
End Function

Function RipemdHex(hexText)
  RipemdHex = m.Ripemd(NewBlob(hexText)).Hex
End Function

Function DigestHex(hash, hexText)
  Select Case hash
    Case 1: DigestHex = Md5Hex(hexText)
    Case 2: DigestHex = Sha1Hex(hexText)
    Case 3: DigestHex = RipemdHex(hexText)
  End Select
End Function

' The hex text h repeated until it holds `count` bytes, cut there.
Function Repeated(h, count)
  Dim s
  s = h
  Do While Len(s) < 2 * count
    s = s & s
  Loop
  Repeated = Left(s, 2 * count)
End Function

' The string-to-key rule over a preimage: digest i hashes i zero bytes and then
' the preimage; the digests are joined and cut to `length` bytes.
Function S2KHex(hash, length, preimageHex)
  Dim s, zeros
  s = ""
  zeros = ""
  Do While Len(s) < 2 * length
    s = s & DigestHex(hash, zeros & preimageHex)
    zeros = zeros & "00"
  Loop
  S2KHex = Left(s, 2 * length)
End Function

' ---- calls that may fail: each returns "no error" or "number | source | description"

Function TryDigest(name, src, ByRef result)
  On Error Resume Next
  Select Case name
    Case "MD5": Set result = m.MD5(src)
    Case "SHA1": Set result = m.SHA1(src)
    Case "Ripemd": Set result = m.Ripemd(src)
  End Select
  TryDigest = Outcome()
End Function

Function TryChecksum(name, src, ByRef result)
  On Error Resume Next
  Select Case name
    Case "CRC32": result = m.CRC32(src)
    Case "CRC24": result = m.CRC24(src)
  End Select
  TryChecksum = Outcome()
End Function

Function TryRandomByValue(count, value)
  On Error Resume Next
  m.Random count, (value)
  TryRandomByValue = Outcome()
End Function

Function TryRandom(count, ByRef result)
  On Error Resume Next
  m.Random count, result
  TryRandom = Outcome()
End Function

Function TryKeygen(hash, length, password, salt, passes, ByRef result)
  On Error Resume Next
  Set result = m.Keygen(hash, length, password, salt, passes)
  TryKeygen = Outcome()
End Function

Const kBadArgument = "5 | Microsoft VBScript runtime error | Invalid procedure call or argument"
Const kNotABlob = "80004005 | Valdergast.ZELCryptoMisc.2 | Internal error: can't get source ZELBlob COM interface"
Const kUnsupported = "80004005 | Valdergast.ZELCryptoMisc.2 | Crypto System: Unsupported algorithm"
Const kUnexpected = "8000FFFF |  | "
Const kTypeMismatch = "D | Microsoft VBScript runtime error | Type mismatch"

Const kAlnum = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"
Const kTwoBlocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"

Dim b, c, d, r, v, i, n, row, cases, expected, pw, salt, joined, name, h

' Eight times "1234567890", a vector of both MD5 and RIPEMD-160.
Dim kEightTimes
kEightTimes = Replace(String(8, "x"), "x", "1234567890")

' ---------------------------------------------------------------- digests
section "MD5: the RFC 1321 test suite"
cases = Array( _
  Array("", "d41d8cd98f00b204e9800998ecf8427e"), _
  Array("a", "0cc175b9c0f1b6a831c399e269772661"), _
  Array("abc", "900150983cd24fb0d6963f7d28e17f72"), _
  Array("message digest", "f96b697d7cb7938d525a2f31aaf161d0"), _
  Array("abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"), _
  Array(kAlnum, "d174ab98d277d9f5a5611c2c9f419d9f"), _
  Array(kEightTimes, "57edf4a22be3c955ac49da2e2107b67a"))
For Each row In cases
  Set b = TextBlob(row(0))
  Set d = m.MD5(b)
  same d.Hex, row(1), "MD5 of """ & row(0) & """"
  same d.Length, 16, "MD5 length for """ & row(0) & """"
  same b.Text, row(0), "source unchanged by MD5"
Next

section "SHA-1: the FIPS 180 examples"
cases = Array( _
  Array("", "da39a3ee5e6b4b0d3255bfef95601890afd80709"), _
  Array("abc", "a9993e364706816aba3e25717850c26c9cd0d89d"), _
  Array(kTwoBlocks, "84983e441c3bd26ebaae4aa1f95129e5e54670f1"), _
  Array(String(1000000, "a"), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"))
For Each row In cases
  Set b = TextBlob(row(0))
  Set d = m.SHA1(b)
  same d.Hex, row(1), "SHA1 of " & Len(row(0)) & " characters " & Left(row(0), 8)
  same d.Length, 20, "SHA1 length"
Next

section "RIPEMD-160: the designers' vectors"
cases = Array( _
  Array("", "9c1185a5c5e9fc54612808977ee8f548b2258d31"), _
  Array("a", "0bdc9d2d256b3ee9daae347be6f4dc835a467ffe"), _
  Array("abc", "8eb208f7e05d987a9b044a8e98c6b087f15a0bfc"), _
  Array("message digest", "5d0689ef49d2fae572b881b123a85ffa21595f36"), _
  Array("abcdefghijklmnopqrstuvwxyz", "f71c27109c692c1b56bbdceb5b9d2865b3708dbc"), _
  Array(kTwoBlocks, "12a053384a9c0c88e405a06c27dcf49ada62eb2b"), _
  Array(kAlnum, "b0e20b6e3116640286ed3a87a5713079b21f5189"), _
  Array(kEightTimes, "9b752e45573d4b39f4dbd3323cab82bf63326bfb"), _
  Array(String(1000000, "a"), "52783243c1697bdbe16d37f97f68f08325dc1528"))
For Each row In cases
  Set b = TextBlob(row(0))
  Set d = m.Ripemd(b)
  same d.Hex, row(1), "Ripemd of " & Len(row(0)) & " characters " & Left(row(0), 8)
  same d.Length, 20, "Ripemd length"
Next

section "digest results are new blobs"
Set b = TextBlob("abc")
Set c = m.SHA1(b)
Set d = m.SHA1(b)
c.Hex = "00"
same d.Hex, "a9993e364706816aba3e25717850c26c9cd0d89d", "two results are two blobs"
same b.Text, "abc", "the source stays"
' A digest result works as a source again.
same m.MD5(m.MD5(TextBlob(""))).Hex, Md5Hex("d41d8cd98f00b204e9800998ecf8427e"), "digest of a digest"

' ---------------------------------------------------------------- checksums
section "CRC32 and CRC24"
' Wine's VBScript hands the unsigned result over as it comes (VarType 19, an
' unsigned Long): Hex, CStr, CDbl and string concatenation take it, while
' arithmetic, comparison and TypeName do not.  Compare through those.
Set b = TextBlob("123456789")
v = m.CRC32(b)
WScript.Echo "   note: CRC32 arrives with VarType " & VarType(v)
same Hex(v), "CBF43926", "CRC32 check value of 123456789"
same CDbl(v), 3421780262, "CRC32 as a number above 2^31"
same CStr(v), "3421780262", "CRC32 as text"
v = m.CRC24(b)
same Hex(v), "21CF02", "CRC24 check value of 123456789"
same CDbl(v), 2215682, "CRC24 as a number"
same b.Text, "123456789", "checksums leave the source alone"

Set b = CreateObject("Valdergast.ZELBlob")
same Hex(m.CRC32(b)), "0", "CRC32 of nothing"
same Hex(m.CRC24(b)), "B704CE", "CRC24 of nothing: its start value"
same Hex(m.CRC32(TextBlob("a"))), "E8B7BE43", "CRC32 of a"
same Hex(m.CRC32(TextBlob("The quick brown fox jumps over the lazy dog"))), "414FA339", "CRC32 of the quick brown fox"
' Every call starts afresh.
same Hex(m.CRC32(TextBlob("123456789"))), "CBF43926", "CRC32 again"
same Hex(m.CRC24(TextBlob("123456789"))), "21CF02", "CRC24 again"

' ---------------------------------------------------------------- arguments
section "sources that are not blobs"
Dim notBlobs, nb
Set notBlobs = CreateObject("Scripting.Dictionary")
notBlobs.Add "Nothing", Nothing
notBlobs.Add "a Dictionary", CreateObject("Scripting.Dictionary")
notBlobs.Add "the Misc object", m
For Each name In notBlobs.Keys
  Set nb = notBlobs(name)
  For Each h In Array("MD5", "SHA1", "Ripemd")
    Set d = Nothing
    same TryDigest(h, nb, d), kNotABlob, h & " of " & name
    ok d Is Nothing, "no result from " & h & " of " & name
  Next
  For Each h In Array("CRC32", "CRC24")
    v = "untouched"
    same TryChecksum(h, nb, v), kNotABlob, h & " of " & name
    same v, "untouched", "no number from " & h & " of " & name
  Next
Next
Dim uninitialised
same TryDigest("MD5", "abc", d), kTypeMismatch, "MD5 of a string"
same TryChecksum("CRC32", uninitialised, v), kTypeMismatch, "CRC32 of an Empty variable"

' ---------------------------------------------------------------- Random
section "Random"
' The new blob comes back through the second argument, a variable.
For Each n In Array(0, 1, 15, 16, 17, 1000)
  Set r = Nothing
  m.Random n, r
  ok Not (r Is Nothing), "Random " & n & " gives a blob"
  same r.Length, n, "Random " & n & " length"
  same Len(r.Hex), 2 * n, "Random " & n & " hex length"
Next
m.Random 32, c
m.Random 32, d
ok c.Hex <> d.Hex, "two draws differ: " & c.Hex & " and " & d.Hex
' Whatever the variable held is replaced, not written into.
Set b = NewBlob("aabbcc")
Set r = b
m.Random 4, r
same b.Hex, "aabbcc", "the blob the variable held is not changed"
same r.Length, 4, "the variable holds the new blob"
' A variable holding a number is replaced as well.
r = 7
m.Random 2, r
same r.Length, 2, "a number in the variable is replaced by the blob"

' In parentheses the argument goes by value, as JScript passes it: the blob
' itself is filled; a value that is no blob is refused.
Set b = NewBlob("aabbcc")
m.Random 8, (b)
same b.Length, 8, "a blob passed by value receives the bytes"
same TryRandomByValue(8, 7), kBadArgument, "Random with a number passed by value"
same TryRandomByValue(8, Nothing), kBadArgument, "Random with Nothing passed by value"

section "Random with a negative count"
For Each n In Array(-1, -16, &H80000000)
  Set r = NewBlob("aa")
  same TryRandom(n, r), kBadArgument, "Random " & n
  same r.Hex, "aa", "the variable keeps its blob after Random " & n
Next

' ---------------------------------------------------------------- Keygen
Set pw = TextBlob("password")
Set salt = NewBlob("0102030405060708")
Set joined = NewBlob(salt.Hex & pw.Hex)

section "Keygen, simple"
' hash, length: digests of "password", "00" & "password", ...
For Each h In Array(1, 2, 3)
  For Each n In Array(0, 1, 16, 20, 21, 37)
    same m.Keygen(h, n, pw, Nothing, 0).Hex, S2KHex(h, n, pw.Hex), "simple, hash " & h & ", " & n & " bytes"
  Next
Next
same m.Keygen(2, 20, pw, Nothing, 0).Hex, m.SHA1(pw).Hex, "simple SHA-1 of 20 bytes is SHA1(password)"
same m.Keygen(2, 24, pw, Nothing, 0).Hex, m.SHA1(pw).Hex & Left(Sha1Hex("00" & pw.Hex), 8), _
  "simple SHA-1 of 24 bytes"
' No usable salt: Nothing, another object, an empty blob, passes or not.
expected = m.Keygen(3, 30, pw, Nothing, 0).Hex
same m.Keygen(3, 30, pw, Nothing, 96).Hex, expected, "simple with passes and no salt"
same m.Keygen(3, 30, pw, CreateObject("Scripting.Dictionary"), 96).Hex, expected, "a Dictionary as salt"
same m.Keygen(3, 30, pw, m, 96).Hex, expected, "the Misc object as salt"
same m.Keygen(3, 30, pw, CreateObject("Valdergast.ZELBlob"), 96).Hex, expected, "an empty salt blob"
same m.Keygen(3, 30, pw, CreateObject("Valdergast.ZELBlob"), 0).Hex, expected, "an empty salt blob, passes 0"
same m.Keygen(2, 5, CreateObject("Valdergast.ZELBlob"), Nothing, 0).Hex, Left(Sha1Hex(""), 10), _
  "an empty password"

section "Keygen, salted"
For Each h In Array(1, 2, 3)
  For Each n In Array(1, 16, 20, 45)
    same m.Keygen(h, n, pw, salt, 0).Hex, S2KHex(h, n, joined.Hex), "salted, hash " & h & ", " & n & " bytes"
  Next
Next
same m.Keygen(2, 20, pw, salt, 0).Hex, m.SHA1(joined).Hex, "salted SHA-1 is SHA1(salt & password)"
' Salts need not be 8 bytes long.
For Each v In Array("ff", "0102030405", "000102030405060708090a0b0c0d0e0f1011")
  same m.Keygen(1, 20, pw, NewBlob(v), 0).Hex, S2KHex(1, 20, v & pw.Hex), "salted with a salt of " & Len(v) / 2 & " bytes"
Next
same salt.Hex, "0102030405060708", "the salt is left alone"
same pw.Text, "password", "the password is left alone"

section "Keygen, iterated and salted"
' Code 96 counts 65536 bytes of salt and password repeated.  (passes 0 means
' salted, not code 0; code 0's count of 1024 comes from &H80000000 below.)
For Each h In Array(1, 2, 3)
  same m.Keygen(h, 41, pw, salt, 96).Hex, S2KHex(h, 41, Repeated(joined.Hex, 65536)), "code 96, hash " & h
Next
' Whole 32-bit passes: (16 + low nibble) << (the rest + 6), the shift modulo
' 32 and the count modulo 2^32.
cases = Array( _
  Array(1, 1088), Array(15, 1984), Array(16, 2048), _
  Array(&H1F0, 512), Array(-1, 992), Array(&H80000000, 1024), Array(&H1AF, 31))
For Each row In cases
  same m.Keygen(2, 25, pw, salt, row(0)).Hex, S2KHex(2, 25, Repeated(joined.Hex, row(1))), _
    "passes " & row(0) & " counts " & row(1) & " bytes"
Next
' A count of 0 (&H160 counts 16 << 28 and &H190 16 << 31: nothing of either
' is left in 32 bits) or of no more than the 16 bytes of salt and password
' (&H1A0 counts 16 << 0) hashes them once, whole.
For Each v In Array(&H160, &H190)
  same m.Keygen(2, 25, pw, salt, v).Hex, S2KHex(2, 25, joined.Hex), "passes " & v & " counts 0: hashed once"
Next
same m.Keygen(2, 25, pw, salt, &H1A0).Hex, S2KHex(2, 25, joined.Hex), "passes &H1A0 counts 16: once, whole"
Set b = TextBlob("a rather longer password than the count")
same m.Keygen(1, 20, b, salt, &H1AF).Hex, S2KHex(1, 20, salt.Hex & b.Hex), "31 counted, 47 given: once, whole"

section "Keygen, seed expansion (hash 0)"
' MD5(t) then SHA1(t), t = password followed by everything so far.
Dim t, grown
grown = ""
For i = 1 To 3
  t = pw.Hex & grown
  grown = grown & Md5Hex(t) & Sha1Hex(t)
Next
For Each n In Array(0, 1, 16, 36, 40, 72, 100, 108)
  same m.Keygen(0, n, pw, Nothing, 0).Hex, Left(grown, 2 * n), "seed expansion, " & n & " bytes"
Next
same m.Keygen(0, 16, pw, Nothing, 0).Hex, m.MD5(pw).Hex, "16 bytes are MD5(password)"
' The salt and passes do not count, whatever they are.
same m.Keygen(0, 40, pw, salt, 96).Hex, Left(grown, 80), "salt and passes are ignored"
same m.Keygen(0, 40, pw, m, 0).Hex, Left(grown, 80), "a salt that is no blob is ignored"

section "Keygen, the hash id is the low byte"
expected = m.Keygen(2, 30, pw, salt, 96).Hex
same m.Keygen(&H102, 30, pw, salt, 96).Hex, expected, "&H102 is SHA-1"
same m.Keygen(-254, 30, pw, salt, 96).Hex, expected, "-254 is SHA-1"
same m.Keygen(&H7FFFFF03, 30, pw, salt, 0).Hex, m.Keygen(3, 30, pw, salt, 0).Hex, "&H7FFFFF03 is RIPEMD-160"

section "Keygen refusals"
' The hash id is looked at before anything is hashed: code 255 would take long.
For Each h In Array(4, 255, 256, -256, &H12345600)
  For Each n In Array(0, 20)
    Set r = Nothing
    same TryKeygen(h, n, pw, salt, 255, r), kUnsupported, "hash " & h & ", length " & n
    ok r Is Nothing, "no result for hash " & h
  Next
Next
same m.Keygen(2, 0, pw, salt, 255).Length, 0, "length 0 gives an empty blob"
same m.Keygen(0, 0, pw, Nothing, 0).Length, 0, "length 0 expands to an empty blob"
For Each h In Array(0, 2, 4)
  same TryKeygen(h, -1, pw, salt, 0, r), kUnexpected, "negative length, hash " & h
  same TryKeygen(h, &H80000000, pw, salt, 0, r), kUnexpected, "length &H80000000, hash " & h
Next
' Keys of up to 65536 bytes; a longer length is refused before any work
' (code 255 would otherwise hash for minutes).
same m.Keygen(2, 65536, pw, salt, 0).Length, 65536, "length 65536 is the largest"
same Left(m.Keygen(0, 65536, pw, Nothing, 0).Hex, 32), m.MD5(pw).Hex, "an expanded key of 65536 bytes"
For Each h In Array(0, 1, 2, 3, 4)
  For Each n In Array(65537, 1048576, &H7FFFFFFF)
    Set r = Nothing
    same TryKeygen(h, n, pw, salt, 255, r), kBadArgument, "length " & n & ", hash " & h
    ok r Is Nothing, "no result for length " & n
  Next
Next
For Each name In notBlobs.Keys
  Set nb = notBlobs(name)
  For Each h In Array(0, 2)
    Set r = Nothing
    same TryKeygen(h, 20, nb, salt, 0, r), kNotABlob, "password " & name & ", hash " & h
    ok r Is Nothing, "no result for password " & name
  Next
Next
same TryKeygen(2, 20, pw, 5, 0, r), kTypeMismatch, "a number as salt"
same TryKeygen(2, 20, pw, uninitialised, 0, r), kTypeMismatch, "an Empty salt"
same salt.Hex, "0102030405060708", "the salt is left alone after the refusals"
same pw.Text, "password", "the password is left alone after the refusals"

Tally
