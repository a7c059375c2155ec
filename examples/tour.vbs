' A tour of ZELCrypto from VBScript: blobs and what the Misc object does
' with them.  Run it with cscript:
'
'     cscript //nologo tour.vbs
Option Explicit

Dim misc, blob, other, item, record, n, bytes
Set misc = CreateObject("Valdergast.ZELCryptoMisc")

Sub Show(label, value)
  WScript.Echo "  " & label & Space(24 - Len(label)) & value
End Sub

' ---------------------------------------------------------------------------
WScript.Echo "Blobs hold bytes and show them in several ways"
Set blob = CreateObject("Valdergast.ZELBlob")
blob.Text = "Hello, world"
Show "Text", blob.Text
Show "Hex", blob.Hex
Show "Base64", blob.Base64
Show "Length", blob.Length

' Any view can also fill the blob.  Hex may be upper or lower case and may
' have blanks; Base64 may be split into lines.
Set other = CreateObject("Valdergast.ZELBlob")
other.Hex = "48 65 6C 6C 6F"
Show "from Hex", other.Text
other.Base64 = "d29y" & vbCrLf & "bGQ="
Show "from Base64", other.Text

' Bytes is an array of bytes, the form streams and other components use.
other.Bytes = Array(90, 69, 76)
Show "from Array(90, 69, 76)", other.Text
bytes = blob.Bytes
other.Bytes = bytes
Show "from blob.Bytes", other.Text
other.Clear
Show "after Clear, Length", other.Length

' ---------------------------------------------------------------------------
WScript.Echo ""
WScript.Echo "Packing numbers into a blob: four bytes, most significant first"
Set record = CreateObject("Valdergast.ZELBlob")
misc.InsertLongToBlob record, 0, 16909060
Show "16909060", record.Hex
misc.InsertLongToBlob record, record.Length, -1
Show "then -1 at the end", record.Hex
n = misc.ExtractLongFromBlob(record, 0)
Show "extracted at 0", n & ", leaving " & record.Hex
n = misc.ExtractLongFromBlob(record, 0)
Show "extracted again", n & ", leaving """ & record.Hex & """"

' ---------------------------------------------------------------------------
WScript.Echo ""
WScript.Echo "Packing blobs: a four-byte length, then the bytes"
Set item = CreateObject("Valdergast.ZELBlob")
item.Text = "alice"
misc.InsertLongToBlob record, 0, 7                       ' a record number,
misc.InsertBlobToBlob record, record.Length, item        ' a name,
item.Hex = "cafebabe"
misc.InsertBlobToBlob record, record.Length, item        ' and some data
Show "the record", record.Hex

' Taking things out in the same order gives them back and empties the record.
n = misc.ExtractLongFromBlob(record, 0)
Show "number", n
Set item = misc.ExtractBlobFromBlob(record, 0)
Show "name", item.Text
Set item = misc.ExtractBlobFromBlob(record, 0)
Show "data", item.Hex
Show "left in the record", record.Length & " bytes"

' ---------------------------------------------------------------------------
WScript.Echo ""
WScript.Echo "Digests and checksums of ""Hello, world"""
' Each digest is a new blob; the checksums are numbers (show them with Hex).
Show "MD5", misc.MD5(blob).Hex
Show "SHA1", misc.SHA1(blob).Hex
Show "Ripemd", misc.Ripemd(blob).Hex
Show "CRC32", Hex(misc.CRC32(blob))
Show "CRC24", Hex(misc.CRC24(blob))

' ---------------------------------------------------------------------------
WScript.Echo ""
WScript.Echo "Random bytes"
' Random hands its new blob back through its second argument, a variable.
Dim salt
misc.Random 8, salt
Show "8 random bytes", salt.Hex
misc.Random 8, other
Show "8 more", other.Hex

' ---------------------------------------------------------------------------
WScript.Echo ""
WScript.Echo "Keys from a password"
' Keygen(hash, length, password, salt, passes): hash 1 = MD5, 2 = SHA-1,
' 3 = RIPEMD-160.  With a salt and passes the password is hashed over and over
' (passes 96: 65536 bytes per digest); the same inputs always give the same key.
Dim password, key
Set password = CreateObject("Valdergast.ZELBlob")
password.Text = "correct horse battery staple"
Set key = misc.Keygen(2, 32, password, salt, 96)
Show "32-byte key", key.Hex
Show "derived again", misc.Keygen(2, 32, password, salt, 96).Hex
' Without a salt (Nothing) it is the digest of the password itself;
' hash 0 stretches a seed with MD5 and SHA-1 instead.
Show "SHA-1 without a salt", misc.Keygen(2, 20, password, Nothing, 0).Hex
Show "SHA1(password)", misc.SHA1(password).Hex
Show "seed stretched to 40", misc.Keygen(0, 40, password, Nothing, 0).Hex

' ---------------------------------------------------------------------------
WScript.Echo ""
WScript.Echo "Encrypting with the five cipher objects"
' Valdergast.ZELCryptoAES, ...Twofish, ...Blowfish, ...Cast and ...TripleDES
' share one interface.  Keygen(material, size) makes the key from the first
' bytes of a blob (size counts bytes); Mode 1 is electronic codebook, Mode 2
' cipher block chaining; the last block is padded with the Filler byte.
' The ciphertext is the enciphered blocks and nothing else.
Dim cipher, receiver, message, secret, plain, cipherName
Set message = CreateObject("Valdergast.ZELBlob")
message.Text = "Attack at dawn, bring snacks"
Show "the message", message.Length & " bytes"
For Each cipherName In Array("AES", "Twofish", "Blowfish", "Cast", "TripleDES")
  Set cipher = CreateObject("Valdergast.ZELCrypto" & cipherName)
  cipher.Mode = 2
  cipher.Filler = 32                    ' pad with blanks (set before Keygen: it pads short key material too)
  cipher.Keygen key, 32                 ' the 32-byte key made above
  Set secret = cipher.Encrypt(message)
  ' The other side: a new object with the same Filler, key and mode (Keygen
  ' pads key material shorter than the key with the Filler).
  Set receiver = CreateObject("Valdergast.ZELCrypto" & cipherName)
  receiver.Mode = 2
  receiver.Filler = 32
  receiver.Keygen key, 32
  Set plain = receiver.Decrypt(secret)
  Show cipherName, secret.Length & " bytes: " & Left(secret.Hex, 32) & "..."
  Show "  deciphered", "[" & plain.Text & "]"
Next
' The padding stays on: the receiver must know the length, or use a filler
' it can strip.

WScript.Echo ""
WScript.Echo "A key travels as a Key record"
' Key reads the key as a blob (for AES: the round count, then the key bytes);
' Set ... Key = puts it into another object of the same class.
Set cipher = CreateObject("Valdergast.ZELCryptoAES")
cipher.Keygen key, 16                   ' 16 bytes: AES-128
Show "AES-128 Key record", cipher.Key.Hex
Set receiver = CreateObject("Valdergast.ZELCryptoAES")
Set receiver.Key = cipher.Key
Show "same ciphertext", cipher.Encrypt(message).Hex = receiver.Encrypt(message).Hex
Set plain = receiver.Decrypt(cipher.Encrypt(message))
Show "deciphered", Left(plain.Text, message.Length) & " (+" & plain.Length - message.Length & " filler bytes)"

WScript.Echo ""
WScript.Echo "Mode 2 carries on from one call to the next"
' An object starts from a zero chaining block when it is created, and every
' call continues from where the last one stopped.  The same message twice on
' one object gives two ciphertexts; a new object gives the first one again.
Set cipher = CreateObject("Valdergast.ZELCryptoBlowfish")
cipher.Mode = 2
cipher.Keygen key, 16
Set secret = cipher.Encrypt(message)
Show "first Encrypt", secret.Hex
Show "second Encrypt", cipher.Encrypt(message).Hex
Set receiver = CreateObject("Valdergast.ZELCryptoBlowfish")
receiver.Mode = 2
receiver.Keygen key, 16
Show "on a new object", receiver.Encrypt(message).Hex
' Deciphering on an object that has enciphered something garbles the first
' block, because it does not start from zero either.
Show "Decrypt, same object", cipher.Decrypt(secret).Hex
Set receiver = CreateObject("Valdergast.ZELCryptoBlowfish")
receiver.Mode = 2
receiver.Keygen key, 16
Show "Decrypt, new object", Left(receiver.Decrypt(secret).Text, message.Length)
' So: a new object for each message, and one per direction.

' ---------------------------------------------------------------------------
WScript.Echo ""
WScript.Echo "RSA: a key pair from two seeds, its halves in blobs"
' Keygen makes the same key from the same seeds and size (64, 128 or 256
' bytes); random seeds give a fresh key.  Generating a 1024-bit key takes a
' moment.
Dim rsa, publicSide, privateSide, publicKey, privateKey, sealed, signature, seed1, seed2
Set rsa = CreateObject("Valdergast.ZELCryptoRSA")
misc.Random 32, seed1
misc.Random 32, seed2
rsa.Keygen seed1, seed2, 128
Set publicKey = rsa.PublicKey
Set privateKey = rsa.PrivateKey
Show "public key blob", publicKey.Length & " bytes, " & Left(publicKey.Hex, 24) & "..."
Show "private key blob", privateKey.Length & " bytes"

' Whoever holds the public half encrypts and verifies; whoever holds the
' private half decrypts and signs.  SetIV gives both sides the same label.
Set publicSide = CreateObject("Valdergast.ZELCryptoRSA")
publicSide.PublicKey = publicKey
Set privateSide = CreateObject("Valdergast.ZELCryptoRSA")
privateSide.PrivateKey = privateKey
item.Text = "order 42"
publicSide.SetIV item
privateSide.SetIV item

message.Text = "The meeting moves to Thursday."
Set sealed = publicSide.Encrypt(message)
Show "encrypted", sealed.Length & " bytes"
Show "decrypted", privateSide.Decrypt(sealed).Text
' Encrypting twice gives two different ciphertexts of the same message.
Show "encrypted again differs", sealed.Hex <> publicSide.Encrypt(message).Hex

Set signature = privateSide.Sign(message)
Show "signature", signature.Length & " bytes"
Show "Verify (1 = good)", publicSide.Verify(message, signature)
other.Text = "The meeting moves to Friday."
Show "Verify other text", publicSide.Verify(other, signature)

' ---------------------------------------------------------------------------
WScript.Echo ""
WScript.Echo "PGP: a text encrypted under a password, in ASCII armor"
' The defaults are SHA-1, Blowfish and the iterated and salted key
' derivation; Init chooses others: here SHA-1, AES-256 (9), mode 3, count 96.
Dim pgp, armored, reader
Set pgp = CreateObject("Valdergast.ZELCryptoPGP")
pgp.Init 2, 9, 3, 96
password.Text = "correct horse battery staple"
pgp.Password = password
message.Text = "Meet me at the old mill at noon."
armored = pgp.Enarmor(pgp.Encrypt(message))
WScript.Echo armored

' The reader needs only the password: the message names its own settings.
Set reader = CreateObject("Valdergast.ZELCryptoPGP")
reader.Password = password
Show "decrypted", reader.Decrypt(reader.Dearmor(armored)).Text

' ---------------------------------------------------------------------------
WScript.Echo ""
WScript.Echo "When something goes wrong"
' A length field that promises more bytes than follow: the method refuses
' and the blob is left as it was.
record.Hex = "00000010" & "414243"
On Error Resume Next
Set item = misc.ExtractBlobFromBlob(record, 0)
Show "Err.Number", "&H" & Hex(Err.Number)
Show "Err.Source", Err.Source
Show "Err.Description", Err.Description
Err.Clear
Show "the blob still holds", record.Hex

' Something that is not a blob where a blob belongs.
misc.InsertLongToBlob Nothing, 0, 1
Show "Nothing for a blob", Err.Description
Err.Clear

' A hash id that does not exist.
Set key = misc.Keygen(7, 16, password, Nothing, 0)
Show "Keygen with hash 7", Err.Description
Err.Clear

' A position past the end of the blob.
misc.InsertLongToBlob record, 100, 1
Show "position 100", Err.Number & " " & Err.Description
Err.Clear

' Ciphertext that is not whole blocks, and a cipher that has no key yet.
message.Text = "Attack at dawn, bring snacks"
Set plain = receiver.Decrypt(message)
Show "Decrypt of 28 bytes", Err.Description
Err.Clear
Set plain = CreateObject("Valdergast.ZELCryptoCast").Encrypt(message)
Show "Encrypt without a key", Err.Description
Err.Clear

' A signature of other data, and the wrong password.
Show "Verify, wrong data", publicSide.Verify(item, signature) & " (no error)"
reader.Password = item
Set plain = reader.Decrypt(reader.Dearmor(armored))
Show "wrong password", Err.Description
Err.Clear
Set plain = reader.Dearmor("Hello")
Show "not armor", Err.Description
Err.Clear
Set plain = reader.Dearmor(Replace(armored, "ww0E", "ww1E"))
Show "a changed character", Err.Description
Err.Clear

' Text that is not hex.
other.Hex = "12 3"
Show "Hex = ""12 3""", Err.Description
Err.Clear
On Error GoTo 0

WScript.Echo ""
WScript.Echo "End of the tour."
