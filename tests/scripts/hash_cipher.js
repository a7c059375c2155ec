// The Hash and Cipher objects as a JScript author meets them: errors as
// e.number and e.description, null refused by the script engine where an
// object is expected (an empty blob stands for "none"), numbers and strings
// for the properties.  Vectors as in hash_cipher.vbs.

// ok, same, section, failure, runChecks, newBlob and the other shared checks
// come from checks.js, which the test runner appends to this script.

var kUnsupported = "80004005 Crypto System: Unsupported algorithm";
var kInvalidKey = "80004005 Crypto System: Invalid key";
var kCannotDecrypt = "80004005 Crypto System: Unable to decrypt data";
var kBadArgument = "80070057";
var kTypeMismatch = "80020005";

function run() {
    var h = new ActiveXObject("Valdergast.ZELCryptoHash");
    section("Hash");
    same(h.Hash(textBlob("abc")).Hex, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", "SHA-256 of abc");
    h.Algorithm = "sha3-256";
    same(h.Algorithm, "SHA3-256", "SHA3-256 by name");
    same(h.Hash(textBlob("abc")).Hex, "3a985da74fe225b2045c172d6bd390bd855f086e3e9d525b46bfe24511431532",
         "SHA3-256 of abc (FIPS 202 example)");
    same(failure(function () { h.Algorithm = "SHA-257"; }), kUnsupported, "an unknown name");
    same(failure(function () { h.Hkdf(textBlob("k"), null, null, 16); }), kTypeMismatch,
         "null for salt and info is refused by the script engine");
    h.Algorithm = "SHA256";
    same(h.Hkdf(newBlob(rep("0b", 22)), newBlob(""), newBlob(""), 42).Hex,
         "8da4e775a563c18f715f802a063c5a31b8a11f5c5ee1879ec3454e5f3c738d2d9d201395faa4b61a96c8",
         "empty blobs stand for no salt and no info");
    same(failure(function () { h.Pbkdf2(textBlob("p"), textBlob("s"), 0, 16); }), kBadArgument, "0 iterations");
    same(failure(function () { h.Pbkdf2(textBlob("p"), textBlob("s"), 1, 0); }), kBadArgument, "length 0");
    same(failure(function () { h.Hmac({}, textBlob("x")); }), "80004005 Internal error: can't get source ZELBlob COM interface",
         "a script object as the key");
    var mac = h.Hmac(textBlob("Jefe"), textBlob("what do ya want for nothing?"));
    ok(mac.Equals(newBlob("5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843")),
       "the RFC 4231 MAC compared with Equals");

    section("Cipher");
    var c = new ActiveXObject("Valdergast.ZELCryptoCipher");
    same(c.Algorithm, "AES-256-GCM", "AES-256-GCM by default");
    same(failure(function () { c.Encrypt(textBlob("x")); }), kInvalidKey, "Encrypt without a key");
    same(failure(function () { c.Key = newBlob("00"); }), kInvalidKey, "a 1-byte key");
    same(failure(function () { c.Algorithm = "AES-256-XTS"; }), kUnsupported, "an unknown algorithm");
    same(failure(function () { c.TagLength = 20; }), kBadArgument, "TagLength 20");
    c.Key = newBlob(rep("42", 32));
    c.AAD = textBlob("v1");
    var sealed = c.Encrypt(textBlob("hello"));
    same(sealed.Length, 5 + 16, "ciphertext and tag");
    same(c.IV.Length, 12, "the drawn IV");
    same(c.Decrypt(sealed).Text, "hello", "Decrypt with the drawn IV");
    var bad = newBlob(sealed.Hex.substring(0, 2) === "00" ? "01" + sealed.Hex.substring(2) : "00" + sealed.Hex.substring(2));
    same(failure(function () { c.Decrypt(bad); }), kCannotDecrypt, "a changed first byte");
    c.IV = newBlob(rep("11", 12));
    c.Encrypt(textBlob("once"));
    same(failure(function () { c.Encrypt(textBlob("twice")); }), kInvalidKey, "the same key and IV twice");
    c.Algorithm = "AES-256-CBC";
    same(failure(function () { c.Encrypt(textBlob("x")); }).substring(0, 8), kBadArgument,
         "the 12-byte GCM IV does not fit CBC");
    c.IV = newBlob("");
    same(c.Decrypt(c.Encrypt(textBlob("cbc"))).Text, "cbc", "CBC with a drawn 16-byte IV");
    same(c.IV.Length, 16, "16 bytes drawn for CBC");
    c.Iterations = 2000;
    same(c.DecryptPassword(textBlob("pw"), c.EncryptPassword(textBlob("pw"), textBlob("file"))).Text, "file",
         "a password file round trip");
    same(failure(function () { c.Iterations = -1; }), kBadArgument, "Iterations -1");
}

runChecks(run);
