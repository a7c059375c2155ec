// A tour of ZELCrypto from JScript: blobs, the Misc object, the five cipher
// objects, RSA and PGP.  Run it with cscript:
//
//     cscript //nologo tour.js
//
// It does what tour.vbs does, the JScript way: objects come from
// new ActiveXObject, properties are assigned without Set, errors arrive as
// exceptions with e.number and e.description (JScript has no error source).

var misc = new ActiveXObject("Valdergast.ZELCryptoMisc");

function show(label, value) {
    var pad = "";
    while (label.length + pad.length < 24) pad += " ";
    WScript.Echo("  " + label + pad + value);
}

function newBlob() {
    return new ActiveXObject("Valdergast.ZELBlob");
}

// The error of a call as "number description": the number in hex, as
// VBScript's Hex(Err.Number) shows it.
function failure(f) {
    try {
        f();
        return "no error";
    } catch (e) {
        var text = (e.number >>> 0).toString(16).toUpperCase();
        return e.description ? text + " " + e.description : text;
    }
}

// ---------------------------------------------------------------------------
WScript.Echo("Blobs hold bytes and show them in several ways");
var blob = newBlob();
blob.Text = "Hello, world";
show("Text", blob.Text);
show("Hex", blob.Hex);
show("Base64", blob.Base64);
show("Length", blob.Length);

// Any view can also fill the blob.  Hex may be upper or lower case and may
// have blanks; Base64 may be split into lines.
var other = newBlob();
other.Hex = "48 65 6C 6C 6F";
show("from Hex", other.Text);
other.Base64 = "d29y\r\nbGQ=";
show("from Base64", other.Text);

// Bytes is an array of bytes, the form streams and other components use.
// JScript can hold one and pass it on but not look inside (VBArray takes
// arrays of variants only), and a JScript array is no array of bytes: from
// JScript, numbers go in and out through Hex.
var bytes = blob.Bytes;
other.Bytes = bytes;
show("from blob.Bytes", other.Text);
show("Bytes = [90, 69, 76]", failure(function () { other.Bytes = [90, 69, 76]; }));
other.Hex = (90).toString(16) + (69).toString(16) + (76).toString(16);
show("from 90, 69, 76 as Hex", other.Text);
other.Clear();
show("after Clear, Length", other.Length);

// ---------------------------------------------------------------------------
WScript.Echo("");
WScript.Echo("Packing numbers into a blob: four bytes, most significant first");
var record = newBlob();
misc.InsertLongToBlob(record, 0, 16909060);
show("16909060", record.Hex);
misc.InsertLongToBlob(record, record.Length, -1);
show("then -1 at the end", record.Hex);
var n = misc.ExtractLongFromBlob(record, 0);
show("extracted at 0", n + ", leaving " + record.Hex);
n = misc.ExtractLongFromBlob(record, 0);
show("extracted again", n + ", leaving \"" + record.Hex + "\"");

// ---------------------------------------------------------------------------
WScript.Echo("");
WScript.Echo("Packing blobs: a four-byte length, then the bytes");
var item = newBlob();
item.Text = "alice";
misc.InsertLongToBlob(record, 0, 7);                  // a record number,
misc.InsertBlobToBlob(record, record.Length, item);   // a name,
item.Hex = "cafebabe";
misc.InsertBlobToBlob(record, record.Length, item);   // and some data
show("the record", record.Hex);

// Taking things out in the same order gives them back and empties the record.
n = misc.ExtractLongFromBlob(record, 0);
show("number", n);
item = misc.ExtractBlobFromBlob(record, 0);
show("name", item.Text);
item = misc.ExtractBlobFromBlob(record, 0);
show("data", item.Hex);
show("left in the record", record.Length + " bytes");

// ---------------------------------------------------------------------------
WScript.Echo("");
WScript.Echo("Digests and checksums of \"Hello, world\"");
// Each digest is a new blob; the checksums are plain numbers.
show("MD5", misc.MD5(blob).Hex);
show("SHA1", misc.SHA1(blob).Hex);
show("Ripemd", misc.Ripemd(blob).Hex);
show("CRC32", misc.CRC32(blob).toString(16).toUpperCase());
show("CRC24", misc.CRC24(blob).toString(16).toUpperCase());

// ---------------------------------------------------------------------------
WScript.Echo("");
WScript.Echo("Random bytes");
// Misc.Random(count, blob) fills the blob it is given with fresh bytes from
// the system's generator (JScript passes the blob itself; its old contents
// are replaced).
var empty = newBlob();     // no bytes: "no salt" for Keygen

function randomBytes(count) {
    var bytes = newBlob();
    misc.Random(count, bytes);
    return bytes;
}

var salt = randomBytes(8);
show("8 random bytes", salt.Hex);
show("8 more", randomBytes(8).Hex);

// ---------------------------------------------------------------------------
WScript.Echo("");
WScript.Echo("Keys from a password");
// Keygen(hash, length, password, salt, passes): hash 1 = MD5, 2 = SHA-1,
// 3 = RIPEMD-160.  With a salt and passes the password is hashed over and over
// (passes 96: 65536 bytes per digest); the same inputs always give the same key.
var password = newBlob();
password.Text = "correct horse battery staple";
var key = misc.Keygen(2, 32, password, salt, 96);
show("32-byte key", key.Hex);
show("derived again", misc.Keygen(2, 32, password, salt, 96).Hex);
// With an empty salt it is the digest of the password itself (JScript's null
// is refused for an object argument, an empty blob says "no salt");
// hash 0 stretches a seed with MD5 and SHA-1 instead.
show("SHA-1 without a salt", misc.Keygen(2, 20, password, empty, 0).Hex);
show("SHA1(password)", misc.SHA1(password).Hex);
show("seed stretched to 40", misc.Keygen(0, 40, password, empty, 0).Hex);

// ---------------------------------------------------------------------------
WScript.Echo("");
WScript.Echo("Encrypting with the five cipher objects");
// Valdergast.ZELCryptoAES, ...Twofish, ...Blowfish, ...Cast and ...TripleDES
// share one interface.  Keygen(material, size) makes the key from the first
// bytes of a blob (size counts bytes); Mode 1 is electronic codebook, Mode 2
// cipher block chaining; the last block is padded with the Filler byte.
// The ciphertext is the enciphered blocks and nothing else.
var message = newBlob();
message.Text = "Attack at dawn, bring snacks";
show("the message", message.Length + " bytes");
var names = ["AES", "Twofish", "Blowfish", "Cast", "TripleDES"];
var cipher, receiver, secret, plain;
for (var i = 0; i < names.length; i++) {
    cipher = new ActiveXObject("Valdergast.ZELCrypto" + names[i]);
    cipher.Mode = 2;
    cipher.Filler = 32;                  // pad with blanks (set before Keygen: it pads short key material too)
    cipher.Keygen(key, 32);              // the 32-byte key made above
    secret = cipher.Encrypt(message);
    // The other side: a new object with the same Filler, key and mode (Keygen
    // pads key material shorter than the key with the Filler).
    receiver = new ActiveXObject("Valdergast.ZELCrypto" + names[i]);
    receiver.Mode = 2;
    receiver.Filler = 32;
    receiver.Keygen(key, 32);
    plain = receiver.Decrypt(secret);
    show(names[i], secret.Length + " bytes: " + secret.Hex.substring(0, 32) + "...");
    show("  deciphered", "[" + plain.Text + "]");
}
// The padding stays on: the receiver must know the length, or use a filler
// it can strip.

WScript.Echo("");
WScript.Echo("A key travels as a Key record");
// Key reads the key as a blob (for AES: the round count, then the key bytes);
// assigning it puts it into another object of the same class.
cipher = new ActiveXObject("Valdergast.ZELCryptoAES");
cipher.Keygen(key, 16);                  // 16 bytes: AES-128
show("AES-128 Key record", cipher.Key.Hex);
receiver = new ActiveXObject("Valdergast.ZELCryptoAES");
receiver.Key = cipher.Key;
show("same ciphertext", cipher.Encrypt(message).Hex === receiver.Encrypt(message).Hex);
plain = receiver.Decrypt(cipher.Encrypt(message));
show("deciphered", plain.Text.substring(0, message.Length) + " (+" + (plain.Length - message.Length) +
     " filler bytes)");

WScript.Echo("");
WScript.Echo("Mode 2 carries on from one call to the next");
// An object starts from a zero chaining block when it is created, and every
// call continues from where the last one stopped.  The same message twice on
// one object gives two ciphertexts; a new object gives the first one again.
function blowfishCbc() {
    var o = new ActiveXObject("Valdergast.ZELCryptoBlowfish");
    o.Mode = 2;
    o.Keygen(key, 16);
    return o;
}
cipher = blowfishCbc();
secret = cipher.Encrypt(message);
show("first Encrypt", secret.Hex);
show("second Encrypt", cipher.Encrypt(message).Hex);
show("on a new object", blowfishCbc().Encrypt(message).Hex);
// Deciphering on an object that has enciphered something garbles the first
// block, because it does not start from zero either.
show("Decrypt, same object", cipher.Decrypt(secret).Hex);
receiver = blowfishCbc();
show("Decrypt, new object", receiver.Decrypt(secret).Text.substring(0, message.Length));
// So: a new object for each message, and one per direction.

// ---------------------------------------------------------------------------
WScript.Echo("");
WScript.Echo("RSA: a key pair from two seeds, its halves in blobs");
// Keygen makes the same key from the same seeds and size (64, 128 or 256
// bytes); random seeds give a fresh key.  Generating a 1024-bit key takes a
// moment.
var rsa = new ActiveXObject("Valdergast.ZELCryptoRSA");
rsa.Keygen(randomBytes(32), randomBytes(32), 128);
var publicKey = rsa.PublicKey;
var privateKey = rsa.PrivateKey;
show("public key blob", publicKey.Length + " bytes, " + publicKey.Hex.substring(0, 24) + "...");
show("private key blob", privateKey.Length + " bytes");

// Whoever holds the public half encrypts and verifies; whoever holds the
// private half decrypts and signs.  SetIV gives both sides the same label.
var publicSide = new ActiveXObject("Valdergast.ZELCryptoRSA");
publicSide.PublicKey = publicKey;
var privateSide = new ActiveXObject("Valdergast.ZELCryptoRSA");
privateSide.PrivateKey = privateKey;
item.Text = "order 42";
publicSide.SetIV(item);
privateSide.SetIV(item);

message.Text = "The meeting moves to Thursday.";
var sealed = publicSide.Encrypt(message);
show("encrypted", sealed.Length + " bytes");
show("decrypted", privateSide.Decrypt(sealed).Text);
// Encrypting twice gives two different ciphertexts of the same message.
show("encrypted again differs", sealed.Hex !== publicSide.Encrypt(message).Hex);

var signature = privateSide.Sign(message);
show("signature", signature.Length + " bytes");
show("Verify (1 = good)", publicSide.Verify(message, signature));
other.Text = "The meeting moves to Friday.";
show("Verify other text", publicSide.Verify(other, signature));

// ---------------------------------------------------------------------------
WScript.Echo("");
WScript.Echo("PGP: a text encrypted under a password, in ASCII armor");
// The defaults are SHA-1, Blowfish and the iterated and salted key
// derivation; Init chooses others: here SHA-1, AES-256 (9), mode 3, count 96.
var pgp = new ActiveXObject("Valdergast.ZELCryptoPGP");
pgp.Init(2, 9, 3, 96);
password.Text = "correct horse battery staple";
pgp.Password = password;
message.Text = "Meet me at the old mill at noon.";
var armored = pgp.Enarmor(pgp.Encrypt(message));
WScript.Echo(armored);

// The reader needs only the password: the message names its own settings.
var reader = new ActiveXObject("Valdergast.ZELCryptoPGP");
reader.Password = password;
show("decrypted", reader.Decrypt(reader.Dearmor(armored)).Text);

// ---------------------------------------------------------------------------
WScript.Echo("");
WScript.Echo("When something goes wrong");
// A length field that promises more bytes than follow: the method refuses
// and the blob is left as it was.
record.Hex = "00000010" + "414243";
show("ExtractBlobFromBlob", failure(function () { item = misc.ExtractBlobFromBlob(record, 0); }));
show("the blob still holds", record.Hex);

// Something that is not a blob where a blob belongs.  JScript's null does
// not even reach the method: the script engine refuses it (type mismatch).
show("another object", failure(function () { misc.InsertLongToBlob(misc, 0, 1); }));
show("null for a blob", failure(function () { misc.InsertLongToBlob(null, 0, 1); }));

// A hash id that does not exist.
show("Keygen with hash 7", failure(function () { misc.Keygen(7, 16, password, empty, 0); }));

// A position past the end of the blob: E_INVALIDARG, no description.
show("position 100", failure(function () { misc.InsertLongToBlob(record, 100, 1); }));

// Ciphertext that is not whole blocks, and a cipher that has no key yet.
message.Text = "Attack at dawn, bring snacks";
show("Decrypt of 28 bytes", failure(function () { receiver.Decrypt(message); }));
show("Encrypt without a key",
     failure(function () { new ActiveXObject("Valdergast.ZELCryptoCast").Encrypt(message); }));

// A signature of other data, and the wrong password.
show("Verify, wrong data", publicSide.Verify(item, signature) + " (no error)");
reader.Password = item;
show("wrong password", failure(function () { reader.Decrypt(reader.Dearmor(armored)); }));
show("not armor", failure(function () { reader.Dearmor("Hello"); }));
show("a changed character", failure(function () { reader.Dearmor(armored.split("ww0E").join("ww1E")); }));

// Text that is not hex.
show("Hex = \"12 3\"", failure(function () { other.Hex = "12 3"; }));

WScript.Echo("");
WScript.Echo("End of the tour.");
