' The RSA object as a VBScript author uses it: a key pair from two seed blobs
' (drawn with Misc's Random), the PublicKey and PrivateKey blobs moved to other
' objects by property assignment (with and without Set), Encrypt and Decrypt
' between them, the SetIV parameter both sides must share, Sign and Verify
' with Verify answering the numbers 1 and 0, and every refusal as Err.Number,
' Err.Source and Err.Description.
'
' Wine's cscript stops silently on an unhandled error, so every block prints
' its name first: the last name printed shows where a run stopped.
Option Explicit

' ok, same, section, Outcome, Tally, TryEncrypt, TryDecrypt and the blob helpers
' come from checks.vbs, which the test runner appends to this script.

' ---- bytes as hex

' The hex text with the byte at index i XORed with 01.
Function FlipByte(h, i)
  FlipByte = Left(h, 2 * i) & Hex2(CLng("&H" & Mid(h, 2 * i + 1, 2)) Xor 1) & Mid(h, 2 * i + 3)
End Function

' The byte index just past item i (0 = n) of a key blob in hex: its k, then
' items of a 4-byte length and that many bytes.
Function ItemEnd(h, i)
  Dim pos, j
  pos = 4
  For j = 0 To i
    pos = pos + 4 + CLng("&H" & Mid(h, 2 * pos + 1, 8))
  Next
  ItemEnd = pos
End Function

Function NewRsa()
  Set NewRsa = CreateObject("Valdergast.ZELCryptoRSA")
End Function

' ---- calls that may fail: each returns "no error" or "number | source | description"

Function TrySign(o, src, ByRef result)
  On Error Resume Next
  Set result = o.Sign(src)
  TrySign = Outcome()
End Function

Function TryVerify(o, data, signature, ByRef result)
  On Error Resume Next
  result = o.Verify(data, signature)
  TryVerify = Outcome()
End Function

Function TryKeygen(o, a, b, size)
  On Error Resume Next
  o.Keygen a, b, size
  TryKeygen = Outcome()
End Function

Function TrySetIV(o, param)
  On Error Resume Next
  o.SetIV param
  TrySetIV = Outcome()
End Function

' Assignment as most scripts write it: no Set.
Function TryLetPublic(o, blob)
  On Error Resume Next
  o.PublicKey = blob
  TryLetPublic = Outcome()
End Function

Function TrySetPublic(o, blob)
  On Error Resume Next
  Set o.PublicKey = blob
  TrySetPublic = Outcome()
End Function

Function TryLetPrivate(o, blob)
  On Error Resume Next
  o.PrivateKey = blob
  TryLetPrivate = Outcome()
End Function

Function TrySetPrivate(o, blob)
  On Error Resume Next
  Set o.PrivateKey = blob
  TrySetPrivate = Outcome()
End Function

Function Refusal(description)
  Refusal = "80004005 | Valdergast.ZELCryptoRSA.2 | " & description
End Function

Const kNotABlob = "Internal error: can't get source ZELBlob COM interface"
Const kInvalidKey = "Crypto System: Invalid key - RSA"
Const kCannotDecrypt = "Crypto System: Unable to decrypt data - RSA"
Const kShortKey = "Crypto System: Data is corrupted - RSA"
Const kBadItem = "Crypto System: Data is corrupted - XBlob"
Const kTypeMismatch = "D | Microsoft VBScript runtime error | Type mismatch"
Const kEmptyPublicKey = "0000000000000001000000000100"

Dim misc, seed1, seed2, seed3, seed4, gen, gen2, pub, priv, enc, dec, o, o2, b, c, d, r, s, v, n, lengths, what

Set misc = CreateObject("Valdergast.ZELCryptoMisc")
' Seeds whose modulus has at least k - 1 bytes, as nearly all have: a
' shorter one cannot carry encryption blocks.
Do
  misc.Random 16, seed1
  misc.Random 16, seed2
  Set o = NewRsa()
  o.Keygen seed1, seed2, 64
Loop Until CLng("&H" & Mid(o.PublicKey.Hex, 9, 8)) >= 63
misc.Random 16, seed3
misc.Random 16, seed4
WScript.Echo "seeds " & seed1.Hex & " " & seed2.Hex & " " & seed3.Hex & " " & seed4.Hex

' ---------------------------------------------------------------- a fresh object
section "a fresh object holds no key"
Set o = NewRsa()
same o.PublicKey.Hex, kEmptyPublicKey, "PublicKey of a fresh object"
Set b = NewBlob("00112233")
Set r = Nothing
same TryEncrypt(o, b, r), Refusal(kInvalidKey), "Encrypt without a key"
ok r Is Nothing, "no ciphertext handed out"
same TryDecrypt(o, NewBlob(Rep("00", 64)), r), Refusal(kInvalidKey), "Decrypt without a key"
ok r Is Nothing, "no plaintext handed out"
same TrySign(o, b, r), Refusal(kInvalidKey), "Sign without a key"
ok r Is Nothing, "no signature handed out"
v = 5
same TryVerify(o, b, NewBlob(Rep("00", 64)), v), Refusal(kInvalidKey), "Verify without a key"
same b.Hex, "00112233", "the argument stays"

' ---------------------------------------------------------------- key generation
section "Keygen from random seeds"
Set gen = NewRsa()
gen.Keygen seed1, seed2, 64
Set pub = gen.PublicKey
Set priv = gen.PrivateKey
same Left(pub.Hex, 8), "00000040", "a 64-byte key"
same Left(priv.Hex, 8), "00000040", "the private blob's size"
' k, then n as a length-prefixed item of at most k bytes, then e.
n = CLng("&H" & Mid(pub.Hex, 9, 8))
ok n = 64 Or n = 63, "n has " & n & " bytes"
ok CLng("&H" & Mid(pub.Hex, 17 + 2 * n, 8)) >= 3, "e follows n: " & pub.Hex
same Len(pub.Hex), 2 * (4 + 4 + n + 4) + 2 * CLng("&H" & Mid(pub.Hex, 17 + 2 * n, 8)), "nothing follows e"
' The same seeds on another object make the same key.
Set gen2 = NewRsa()
gen2.Keygen seed1, seed2, 64
same gen2.PublicKey.Hex, pub.Hex, "PublicKey from the same seeds"
same gen2.PrivateKey.Hex, priv.Hex, "PrivateKey from the same seeds"
' Other seeds, another key; Keygen replaces the key an object holds.
gen2.Keygen seed3, seed4, 64
ok gen2.PublicKey.Hex <> pub.Hex, "other seeds make another key"
' Sizes round up to 64, 128 or 256 bytes.
Set o = NewRsa()
o.Keygen seed1, seed2, 100
same Left(o.PublicKey.Hex, 8), "00000080", "size 100 makes a 128-byte key"
o.Keygen seed1, seed2, 128
same Left(o.PublicKey.Hex, 8), "00000080", "size 128"
' Empty seeds are seeds like any others.
same TryKeygen(o, NewBlob(""), NewBlob(""), 1), "no error", "Keygen from empty seeds"
same Left(o.PublicKey.Hex, 8), "00000040", "size 1 makes a 64-byte key"
same o.Decrypt(o.Encrypt(NewBlob("abcdef"))).Hex, "abcdef", "the key from empty seeds works"

' ---------------------------------------------------------------- moving the halves
section "the halves moved by assignment"
Set enc = NewRsa()
enc.PublicKey = pub
same enc.PublicKey.Hex, pub.Hex, "PublicKey assigned without Set"
Set dec = NewRsa()
Set dec.PrivateKey = priv
same dec.PrivateKey.Hex, priv.Hex, "PrivateKey assigned with Set"
' Straight from one object's property to another's.
Set o = NewRsa()
o.PrivateKey = gen.PrivateKey
same o.PrivateKey.Hex, priv.Hex, "PrivateKey from another object's property, without Set"
Set o2 = NewRsa()
Set o2.PublicKey = gen.PublicKey
same o2.PublicKey.Hex, pub.Hex, "PublicKey from another object's property, with Set"

section "Encrypt and Decrypt between objects"
' A 64-byte block carries 22 message bytes.
lengths = Array(0, 1, 21, 22, 23, 44, 45, 100)
For Each n In lengths
  Set b = NewBlob(Seq(n, n))
  Set c = enc.Encrypt(b)
  same c.Length, 64 * Int((n + 21) / 22), n & " bytes encrypt to whole blocks"
  same dec.Decrypt(c).Hex, Seq(n, n), n & " bytes: the private half decrypts"
  same gen.Decrypt(c).Hex, Seq(n, n), n & " bytes: the generating object decrypts"
  same dec.Decrypt(gen.Encrypt(b)).Hex, Seq(n, n), n & " bytes the other way"
  same b.Hex, Seq(n, n), n & " bytes: the message blob stays"
Next
Set b = NewBlob("")
b.Text = "Attack at dawn"
same dec.Decrypt(enc.Encrypt(b)).Text, "Attack at dawn", "text through Encrypt and Decrypt"
' A fresh seed per block: two encryptions of one message differ.
Set c = enc.Encrypt(b)
Set d = enc.Encrypt(b)
ok c.Hex <> d.Hex, "two encryptions differ"
same dec.Decrypt(d).Text, "Attack at dawn", "the second one decrypts as well"
same TryDecrypt(dec, NewBlob(Left(c.Hex, 126)), r), Refusal(kCannotDecrypt), "a short block"
same TryDecrypt(dec, NewBlob(FlipByte(c.Hex, 40)), r), Refusal(kCannotDecrypt), "a damaged block"
' Each half does only its own work.
same TryEncrypt(dec, b, r), Refusal(kInvalidKey), "Encrypt with the private half only"
same TryDecrypt(enc, c, r), Refusal(kInvalidKey), "Decrypt with the public half only"

section "SetIV: both sides share the parameter"
Set o = NewRsa()
o.PublicKey = pub
o.SetIV NewBlob("6c6162656c")
Set o2 = NewRsa()
o2.PrivateKey = priv
o2.SetIV NewBlob("6c6162656c")
Set b = NewBlob(Seq(7, 30))
Set c = o.Encrypt(b)
same o2.Decrypt(c).Hex, Seq(7, 30), "the same parameter on both sides"
Set r = Nothing
same TryDecrypt(dec, c, r), Refusal(kCannotDecrypt), "the default parameter does not match"
ok r Is Nothing, "nothing handed out"
same TryDecrypt(dec, enc.Encrypt(b), r), "no error", "the default parameter on both sides"
o2.SetIV NewBlob("6c6162656d")
same TryDecrypt(o2, c, r), Refusal(kCannotDecrypt), "another parameter"
' SetIV with something that is not a blob changes nothing.
o2.SetIV NewBlob("6c6162656c")
same TrySetIV(o2, Nothing), Refusal(kNotABlob), "SetIV Nothing"
same TrySetIV(o2, misc), Refusal(kNotABlob), "SetIV with the Misc object"
same TrySetIV(o2, "6c6162656c"), kTypeMismatch, "SetIV with a string"
same o2.Decrypt(c).Hex, Seq(7, 30), "the parameter is still the one set before"
' The four zero bytes are a new object's parameter.
o2.SetIV NewBlob("00000000")
same o2.Decrypt(enc.Encrypt(b)).Hex, Seq(7, 30), "SetIV 00 00 00 00 is the default"

' ---------------------------------------------------------------- signatures
section "Sign and Verify"
Set b = NewBlob("")
b.Text = "I owe you ten pounds"
Set s = dec.Sign(b)
same s.Length, 64, "a signature has k bytes"
same gen.Sign(b).Hex, s.Hex, "the same key signs the same way"
v = enc.Verify(b, s)
same TypeName(v), "Long", "Verify answers a number"
same v, 1, "a good signature"
ok v <> True, "1, not the automation true value"
Set d = NewBlob("")
d.Text = "I owe you ten thousand pounds"
v = enc.Verify(d, s)
same TypeName(v), "Long", "Verify answers a number for a bad signature"
same v, 0, "another message"
same enc.Verify(b, NewBlob(FlipByte(s.Hex, 10))), 0, "a damaged signature"
same enc.Verify(b, NewBlob("0000" & s.Hex)), 1, "leading zero bytes do not matter"
same enc.Verify(b, NewBlob("")), 0, "an empty signature"
same gen2.Verify(b, s), 0, "another key's object"
same TryVerify(enc, b, NewBlob(Rep("ff", 64)), v), "no error", "a signature above n is no error"
same v, 0, "... and the answer is 0"
' Sign needs the private half, Verify the public one.
same TrySign(enc, b, r), Refusal(kInvalidKey), "Sign with the public half only"
same TryVerify(dec, b, s, v), Refusal(kInvalidKey), "Verify with the private half only"
' SetIV plays no part in signatures.
o.SetIV NewBlob("ffff")
same o.Verify(b, s), 1, "Verify after SetIV"

' ---------------------------------------------------------------- refusals
section "key blobs that are refused"
Set o = NewRsa()
same TryLetPublic(o, NewBlob("00000040")), Refusal(kShortKey), "a public key blob of 4 bytes"
same TrySetPrivate(o, NewBlob("")), Refusal(kShortKey), "an empty private key blob"
same TryLetPublic(o, NewBlob("000000400000")), Refusal(kBadItem), "a public key blob with a broken item"
same TryLetPrivate(o, NewBlob(Left(priv.Hex, Len(priv.Hex) - 2))), Refusal(kBadItem), "a private key blob cut short"
same TryEncrypt(o, b, r), Refusal(kInvalidKey), "no half was loaded"
' An object holding both halves takes no other key's half.
Set o = NewRsa()
o.Keygen seed3, seed4, 64
same TryLetPublic(o, pub), Refusal(kInvalidKey), "another key's public half"
same TrySetPrivate(o, priv), Refusal(kInvalidKey), "another key's private half"
same TryLetPublic(dec, gen2.PublicKey), Refusal(kInvalidKey), "another key's public half to a private half"
same TryLetPublic(o, o.PublicKey), "no error", "its own public half"
same o.Verify(b, o.Sign(b)), 1, "the key is still its own"
same dec.Sign(b).Hex, s.Hex, "the private half is still the first key"

section "damaged and oversized key blobs"
' One bit of dQ flipped (a damaged stored blob): the CRT gives a wrong
' signature, which would give away a factor of n.  It is refused, and
' decryption, which does not need the damaged value, still works.
Set o = NewRsa()
o.PrivateKey = NewBlob(FlipByte(priv.Hex, ItemEnd(priv.Hex, 5) - 1))
Set r = Nothing
same TrySign(o, b, r), Refusal(kInvalidKey), "Sign with a damaged dQ"
ok r Is Nothing, "no signature handed out"
o.PublicKey = pub
same TrySign(o, b, r), Refusal(kInvalidKey), "Sign with a damaged dQ and the public half"
same o.Decrypt(enc.Encrypt(b)).Text, b.Text, "Decrypt with a damaged dQ"
' Numbers longer than the key size: refused at once, the old key kept.
n = CLng("&H" & Mid(pub.Hex, 9, 8))
Dim started, cases, item
cases = Array( _
  Array(True, Left(pub.Hex, 16 + 2 * n) & "00001000" & Rep("ff", 4096), "public: e of 4096 bytes"), _
  Array(True, Left(pub.Hex, 8) & "00040000" & Rep("ff", 262144) & "0000000103", "public: n of 256 KB"), _
  Array(True, "000000" & Hex2(n - 1) & Mid(pub.Hex, 9), "public: k below the length of n"), _
  Array(False, Left(priv.Hex, 16 + 2 * n) & "00004000" & Rep("ff", 16384) & Mid(priv.Hex, ItemEnd(priv.Hex, 1) * 2 + 1), _
        "private: d of 16 KB"))
For Each item In cases
  Set o = NewRsa()
  o.Keygen seed3, seed4, 64
  Set c = o.PublicKey
  Set d = o.PrivateKey
  started = Timer
  If item(0) Then
    same TryLetPublic(o, NewBlob(item(1))), Refusal(kInvalidKey), item(2)
  Else
    same TryLetPrivate(o, NewBlob(item(1))), Refusal(kInvalidKey), item(2)
  End If
  ok Timer - started < 2, item(2) & ": refused in " & (Timer - started) & " s"
  same o.PublicKey.Hex, c.Hex, item(2) & ": the public half stays"
  same o.PrivateKey.Hex, d.Hex, item(2) & ": the private half stays"
Next

section "arguments that are not blobs"
Set o = NewRsa()
same TryKeygen(o, Nothing, seed2, 64), Refusal(kNotABlob), "Keygen with Nothing first"
same TryKeygen(o, seed1, misc, 64), Refusal(kNotABlob), "Keygen with the Misc object second"
same o.PublicKey.Hex, kEmptyPublicKey, "no key was made"
same TrySetPublic(o, Nothing), Refusal(kNotABlob), "Set PublicKey = Nothing"
same TryLetPrivate(o, enc), Refusal(kNotABlob), "PrivateKey = an RSA object"
same TryEncrypt(enc, Nothing, r), Refusal(kNotABlob), "Encrypt Nothing"
same TryDecrypt(dec, misc, r), Refusal(kNotABlob), "Decrypt the Misc object"
same TrySign(dec, Nothing, r), Refusal(kNotABlob), "Sign Nothing"
same TryVerify(enc, b, Nothing, v), Refusal(kNotABlob), "Verify with Nothing as the signature"
same TryVerify(enc, Nothing, s, v), Refusal(kNotABlob), "Verify with Nothing as the data"
same TryEncrypt(enc, "00112233", r), kTypeMismatch, "Encrypt a string"
same enc.Verify(b, s), 1, "the public half still verifies"

Tally
