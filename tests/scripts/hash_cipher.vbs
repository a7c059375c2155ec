' The Hash and Cipher objects as a VBScript author uses them: names of
' algorithms in any spelling the objects take, published vectors through the
' objects, running hashes, Nothing for optional arguments, and every refusal
' with its Err.Number, Err.Source and Err.Description.  Random cases against
' independent implementations are in hash_cipher_crosscheck.py.
'
' Vectors: FIPS 180-4 examples (SHA-256 of "abc"), RFC 4231 test case 2,
' RFC 7914 section 11 (PBKDF2-HMAC-SHA256), RFC 5869 test case 3, GCM test
' case 3 (AES-128, 96-bit IV, four blocks), and a file written by openssl enc -pbkdf2.

Const kHashSource = "Valdergast.ZELCryptoHash.1"
Const kCipherSource = "Valdergast.ZELCryptoCipher.1"
Const kNotABlob = "Internal error: can't get source ZELBlob COM interface"
Const kBadArgument = "5 | Microsoft VBScript runtime error | Invalid procedure call or argument"
Const kAbcSha256 = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"
Const kEmptySha256 = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"

Function Refusal(source, description)
  Refusal = "80004005 | " & source & " | " & description
End Function

Function TryHashAlgorithm(o, name)
  On Error Resume Next
  o.Algorithm = name
  TryHashAlgorithm = Outcome()
End Function

Function TryPbkdf2(o, iterations, length)
  On Error Resume Next
  Dim r
  Set r = o.Pbkdf2(TextBlob("p"), TextBlob("s"), iterations, length)
  TryPbkdf2 = Outcome()
End Function

Function TryHkdf(o, ikm, length)
  On Error Resume Next
  Dim r
  Set r = o.Hkdf(ikm, Nothing, Nothing, length)
  TryHkdf = Outcome()
End Function

Function TrySetKey(o, key)
  On Error Resume Next
  o.Key = key
  TrySetKey = Outcome()
End Function

Function TrySet(o, name, value)
  On Error Resume Next
  Select Case name
    Case "Algorithm": o.Algorithm = value
    Case "Padding": o.Padding = value
    Case "TagLength": o.TagLength = value
    Case "Iterations": o.Iterations = value
    Case "IV": o.IV = value
  End Select
  TrySet = Outcome()
End Function

Function TryDecryptPassword(o, password, data, ByRef result)
  On Error Resume Next
  Set result = o.DecryptPassword(password, data)
  TryDecryptPassword = Outcome()
End Function

Dim h, c, c2, r, m, v, name, row, i, sealed

' ---------------------------------------------------------------- Hash
section "Hash: names and vectors"
Set h = CreateObject("Valdergast.ZELCryptoHash")
same h.Algorithm, "SHA256", "SHA-256 by default"
same h.Hash(TextBlob("abc")).Hex, kAbcSha256, "SHA-256 of abc"
For Each row In Array(Array("sha-256", "SHA256"), Array("Sha512/256", "SHA512/256"), _
                      Array("SHA-1", "SHA1"), Array("sha3-512", "SHA3-512"), Array("md5", "MD5"))
  h.Algorithm = row(0)
  same h.Algorithm, row(1), row(0) & " is " & row(1)
Next
For Each name In Array("SHA-999", "SHA 256", "", "SHA256 ", "BLAKE2")
  same TryHashAlgorithm(h, name), Refusal(kHashSource, "Crypto System: Unsupported algorithm"), "Algorithm = [" & name & "]"
Next
same h.Algorithm, "MD5", "a refused name keeps the algorithm"

section "Hash: Update and Final"
h.Algorithm = "SHA256"
h.Update TextBlob("a")
h.Update TextBlob("")
h.Update TextBlob("bc")
same h.Final().Hex, kAbcSha256, "abc in three pieces"
same h.Final().Hex, kEmptySha256, "Final started a new digest"
h.Update TextBlob("xyz")
h.Algorithm = "SHA256"
h.Update TextBlob("abc")
same h.Final().Hex, kAbcSha256, "setting Algorithm drops the running digest"

section "Hash: HMAC, PBKDF2, HKDF"
same h.Hmac(TextBlob("Jefe"), TextBlob("what do ya want for nothing?")).Hex, _
  "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843", "HMAC-SHA256, RFC 4231 case 2"
same h.Pbkdf2(TextBlob("passwd"), TextBlob("salt"), 1, 64).Hex, _
  "55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc" & _
  "49ca9cccf179b645991664b39d77ef317c71b845b1e30bd509112041d3a19783", "PBKDF2-HMAC-SHA256, RFC 7914"
same h.Hkdf(NewBlob("0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b"), Nothing, Nothing, 42).Hex, _
  "8da4e775a563c18f715f802a063c5a31b8a11f5c5ee1879ec3454e5f3c738d2d9d201395faa4b61a96c8", _
  "HKDF-SHA256 without salt and info (Nothing), RFC 5869 case 3"
same h.Hkdf(NewBlob("0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b"), NewBlob(""), NewBlob(""), 42).Hex, _
  "8da4e775a563c18f715f802a063c5a31b8a11f5c5ee1879ec3454e5f3c738d2d9d201395faa4b61a96c8", _
  "empty salt and info are the same"

section "Hash: refusals"
For Each row In Array(Array(0, 32), Array(-1, 32), Array(1, 0), Array(1, -5))
  same TryPbkdf2(h, row(0), row(1)), kBadArgument, "Pbkdf2 with " & row(0) & " iterations, length " & row(1)
Next
same TryHkdf(h, TextBlob("k"), 255 * 32 + 1), kBadArgument, "Hkdf longer than 255 digests"
same TryHkdf(h, TextBlob("k"), 0), kBadArgument, "Hkdf of length 0"
same TryHkdf(h, Nothing, 16), Refusal(kHashSource, kNotABlob), "Hkdf without key material"
same TryHkdf(h, TextBlob("k"), 255 * 32), "no error", "Hkdf of exactly 255 digests"

' ---------------------------------------------------------------- Cipher
section "Cipher: GCM"
Set c = CreateObject("Valdergast.ZELCryptoCipher")
same c.Algorithm, "AES-256-GCM", "AES-256-GCM by default"
same c.TagLength, 16, "16-byte tags by default"
c.Algorithm = "aes-128-gcm"
same c.Algorithm, "AES-128-GCM", "names in any case"
same TrySet(c, "Algorithm", "AES-128-OCB"), Refusal(kCipherSource, "Crypto System: Unsupported algorithm"), _
  "an unknown algorithm"
same TrySetKey(c, NewBlob("00112233")), Refusal(kCipherSource, "Crypto System: Invalid key"), "a 4-byte key"
same TryEncrypt(c, TextBlob("x"), r), Refusal(kCipherSource, "Crypto System: Invalid key"), "Encrypt without a key"
c.Key = NewBlob("feffe9928665731c6d6a8f9467308308")
c.IV = NewBlob("cafebabefacedbaddecaf888")
m = "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a721c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de657ba637b391aafd255"
Set sealed = c.Encrypt(NewBlob(m))
same sealed.Hex, "42831ec2217774244b7221b784d0d49ce3aa212f2c02a4e035c17e2329aca12e21d514b25466931c7d8f6a5aac84aa051ba30b396a0aac973d58e091473f5985" & _
  "4d5c2af327cd64a62cf35abd2ba6fab4", "GCM test case 3: ciphertext then tag"
same TryEncrypt(c, NewBlob(m), r), Refusal(kCipherSource, "Crypto System: Invalid key"), "the same key and IV twice"
same c.Decrypt(sealed).Hex, m, "Decrypt"
Set v = NewBlob(Left(sealed.Hex, Len(sealed.Hex) - 2) & "00")
Set r = Nothing
same TryDecrypt(c, v, r), Refusal(kCipherSource, "Crypto System: Unable to decrypt data"), "a changed tag"
ok r Is Nothing, "no plaintext for a changed tag"
c.AAD = TextBlob("header")
same TryDecrypt(c, sealed, r), Refusal(kCipherSource, "Crypto System: Unable to decrypt data"), "other AAD"
For Each v In Array(11, 17, 0)
  same TrySet(c, "TagLength", v), kBadArgument, "TagLength = " & v
Next

section "Cipher: IVs drawn for each Encrypt"
Set c = CreateObject("Valdergast.ZELCryptoCipher")
c.Key = NewBlob(String(64, "7"))
Set sealed = c.Encrypt(TextBlob("hello"))
same c.IV.Length, 12, "a 12-byte IV was drawn"
same c.Decrypt(sealed).Text, "hello", "Decrypt uses the IV Encrypt drew"
v = c.IV.Hex
c.Encrypt TextBlob("hello")
ok c.IV.Hex <> v, "the next Encrypt draws a new one"

section "Cipher: CBC and CTR"
Set c = CreateObject("Valdergast.ZELCryptoCipher")
c.Algorithm = "AES-128-CBC"
c.Key = NewBlob("2b7e151628aed2a6abf7158809cf4f3c")
same TrySet(c, "IV", NewBlob("000102030405060708090a0b")), _
  "80070057 | " & kCipherSource & " | IV must be 16 bytes for CBC and CTR, and not empty for GCM", "a 12-byte IV for CBC"
c.IV = NewBlob("000102030405060708090a0b0c0d0e0f")
c.Padding = "none"
same c.Padding, "None", "Padding None"
same c.Encrypt(NewBlob("6bc1bee22e409f96e93d7e117393172a")).Hex, "7649abac8119b246cee98e9b12e9197d", _
  "SP 800-38A F.2.1, first block"
same TryEncrypt(c, NewBlob("00"), r), kBadArgument, "Padding None and a partial block"
same TrySet(c, "Padding", "Zeros"), Refusal(kCipherSource, "Crypto System: Unsupported algorithm"), "Padding = Zeros"
c.Padding = "PKCS7"
same c.Encrypt(NewBlob("")).Length, 16, "PKCS#7 pads an empty message to a block"
same TryDecrypt(c, NewBlob("7649abac8119b246cee98e9b12e9197d"), r), _
  Refusal(kCipherSource, "Crypto System: Unable to decrypt data"), "a block without valid padding"
c.Algorithm = "AES-128-CTR"
c.IV = NewBlob("f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff")
same c.Encrypt(NewBlob("6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51")).Hex, _
  "874d6191b620e3261bef6864990db6ce9806f66b7970fdff8617187bb9fffdff", "SP 800-38A F.5.1, two blocks"

section "Cipher: openssl enc files"
Set c = CreateObject("Valdergast.ZELCryptoCipher")
c.Algorithm = "AES-256-CBC"
c.Iterations = 1000
Set v = NewBlob("53616c7465645f5fe8916b5888bf192d5954258a227a1c40d757f0f40c48afd8")
same c.DecryptPassword(TextBlob("right"), v).Text, "secret report", "a file from openssl enc -aes-256-cbc -pbkdf2 -iter 1000"
For Each name In Array("wrong", "Right", "")
  Set r = Nothing
  same TryDecryptPassword(c, TextBlob(name), v, r), Refusal(kCipherSource, "Crypto System: Unable to decrypt data"), _
    "password [" & name & "]"
  ok r Is Nothing, "nothing for password [" & name & "]"
Next
same TryDecryptPassword(c, TextBlob("right"), TextBlob("not a file"), r), _
  Refusal(kCipherSource, "Crypto System: Unable to decrypt data"), "a text without the Salted__ header"
same TrySet(c, "Iterations", 0), kBadArgument, "Iterations = 0"
Set m = c.EncryptPassword(TextBlob("pw"), TextBlob("round trip"))
same Left(m.Hex, 16), "53616c7465645f5f", "EncryptPassword writes the Salted__ header"
same c.DecryptPassword(TextBlob("pw"), m).Text, "round trip", "and reads it back"

Tally
