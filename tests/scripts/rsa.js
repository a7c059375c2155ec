// The RSA object as a JScript author meets it: key blobs moved between objects
// with plain assignments, Encrypt/Decrypt and Sign/Verify between objects that
// hold one half each, Verify's answer a plain number (1 or 0, compared with
// ===), the SetIV parameter, null refused by the script engine before a
// method runs, and errors as e.number and e.description.
//
// JScript cannot receive Misc's Random through an out-argument, so the seeds
// are drawn here.

// ok, same, section, failure, runChecks, newBlob and the other shared checks
// come from checks.js, which the test runner appends to this script.

var kNotABlob = "80004005 Internal error: can't get source ZELBlob COM interface";
var kInvalidKey = "80004005 Crypto System: Invalid key - RSA";
var kCannotDecrypt = "80004005 Crypto System: Unable to decrypt data - RSA";
var kShortKey = "80004005 Crypto System: Data is corrupted - RSA";
var kBadItem = "80004005 Crypto System: Data is corrupted - XBlob";
var kTypeMismatch = "80020005"; // DISP_E_TYPEMISMATCH from the script engine
var kEmptyPublicKey = "0000000000000001000000000100";

function newRsa() {
    return new ActiveXObject("Valdergast.ZELCryptoRSA");
}

function randomHex(count) {
    var s = "";
    for (var i = 0; i < count; i++) s += hex2(Math.floor(Math.random() * 256));
    return s;
}

// The hex text with the byte at index i XORed with 01.
function flipByte(h, i) {
    return h.substr(0, 2 * i) + hex2(parseInt(h.substr(2 * i, 2), 16) ^ 1) + h.substr(2 * i + 2);
}

// The length of the n item of a key blob.
function modulusLength(hex) {
    return parseInt(hex.substr(8, 8), 16);
}

// The byte index just past item i (0 = n) of a key blob in hex.
function itemEnd(h, i) {
    var pos = 4;
    for (var j = 0; j <= i; j++) pos += 4 + parseInt(h.substr(2 * pos, 8), 16);
    return pos;
}

function run() {
    var o, o2, r, b, c, s, v, i;

    section("a fresh object holds no key");
    o = newRsa();
    same(o.PublicKey.Hex, kEmptyPublicKey, "PublicKey of a fresh object");
    b = newBlob("0011");
    same(failure(function () { o.Encrypt(b); }), kInvalidKey, "Encrypt");
    same(failure(function () { o.Decrypt(newBlob(rep("00", 64))); }), kInvalidKey, "Decrypt");
    same(failure(function () { o.Sign(b); }), kInvalidKey, "Sign");
    same(failure(function () { o.Verify(b, b); }), kInvalidKey, "Verify");

    section("Keygen and the halves moved by assignment");
    // Seeds whose modulus has at least k - 1 bytes, as nearly all have.
    var seed1, seed2, gen;
    do {
        seed1 = randomHex(20);
        seed2 = randomHex(12);
        gen = newRsa();
        gen.Keygen(newBlob(seed1), newBlob(seed2), 64);
    } while (modulusLength(gen.PublicKey.Hex) < 63);
    WScript.Echo("seeds " + seed1 + " " + seed2);
    var pub = gen.PublicKey, priv = gen.PrivateKey;
    same(pub.Hex.substr(0, 8), "00000040", "a 64-byte key");
    var again = newRsa();
    again.Keygen(newBlob(seed1), newBlob(seed2), 64);
    same(again.PublicKey.Hex, pub.Hex, "the same seeds make the same public half");
    same(again.PrivateKey.Hex, priv.Hex, "... and the same private half");
    again.Keygen(newBlob(seed1), newBlob(seed2), 65);
    same(again.PublicKey.Hex.substr(0, 8), "00000080", "size 65 makes a 128-byte key");

    var enc = newRsa();
    enc.PublicKey = pub;
    same(enc.PublicKey.Hex, pub.Hex, "PublicKey assigned");
    var dec = newRsa();
    dec.privatekey = gen.PrivateKey;
    same(dec.PrivateKey.Hex, priv.Hex, "PrivateKey assigned from another object's property, any case");
    // The private blob carries no e: the object's public half reads e = 0.
    same(dec.PublicKey.Hex.slice(-10), "0000000100", "the private half alone has e = 0");

    section("Encrypt and Decrypt");
    var lengths = [0, 1, 21, 22, 23, 44, 45, 67];
    for (i = 0; i < lengths.length; i++) {
        var n = lengths[i];
        c = enc.Encrypt(newBlob(seq(n, n)));
        same(c.Length, 64 * Math.ceil(n / 22), n + " bytes encrypt to whole blocks");
        same(dec.Decrypt(c).Hex, seq(n, n), n + " bytes round trip");
    }
    b = textBlob("Meet me by the old mill");
    c = enc.Encrypt(b);
    ok(c.Hex !== enc.Encrypt(b).Hex, "two encryptions of one message differ");
    same(dec.Decrypt(c).Text, "Meet me by the old mill", "text round trip");
    same(gen.Decrypt(c).Text, "Meet me by the old mill", "the generating object decrypts");
    same(failure(function () { dec.Decrypt(newBlob(c.Hex + "00")); }), kCannotDecrypt, "a partial block");
    same(failure(function () { dec.Decrypt(newBlob(flipByte(c.Hex, 30))); }), kCannotDecrypt, "a damaged block");
    same(failure(function () { dec.Encrypt(b); }), kInvalidKey, "Encrypt with the private half only");
    same(failure(function () { enc.Decrypt(c); }), kInvalidKey, "Decrypt with the public half only");

    section("SetIV");
    o = newRsa();
    o.PublicKey = pub;
    o.SetIV(textBlob("order 66"));
    o2 = newRsa();
    o2.PrivateKey = priv;
    o2.SetIV(textBlob("order 66"));
    c = o.Encrypt(b);
    same(o2.Decrypt(c).Text, "Meet me by the old mill", "the same parameter on both sides");
    same(failure(function () { dec.Decrypt(c); }), kCannotDecrypt, "the default parameter");
    // Not a blob: refused, and the parameter stays.
    same(failure(function () { o2.SetIV(o); }), kNotABlob, "SetIV with an RSA object");
    same(failure(function () { o2.SetIV(null); }), kTypeMismatch, "SetIV(null)");
    same(failure(function () { o2.SetIV("order 66"); }), kTypeMismatch, "SetIV with a string");
    same(o2.Decrypt(c).Text, "Meet me by the old mill", "the parameter is unchanged");
    o2.SetIV(textBlob("order 67"));
    same(failure(function () { o2.Decrypt(c); }), kCannotDecrypt, "another parameter");

    section("Sign and Verify");
    b = textBlob("pay 10 to Bob");
    s = dec.Sign(b);
    same(s.Length, 64, "a signature has k bytes");
    v = enc.Verify(b, s);
    same(typeof v, "number", "Verify answers a number");
    same(v, 1, "a good signature");
    ok(v !== true && v !== -1, "1, not a boolean");
    v = enc.Verify(textBlob("pay 1000 to Bob"), s);
    same(typeof v, "number", "Verify answers a number for a bad signature");
    same(v, 0, "another message");
    same(enc.Verify(b, newBlob(flipByte(s.Hex, 63))), 0, "a damaged signature");
    same(enc.Verify(b, newBlob("00" + s.Hex)), 1, "a leading zero byte does not matter");
    same(gen.Verify(b, gen.Sign(b)), 1, "the generating object");
    same(gen.Sign(b).Hex, s.Hex, "the same key and message, the same signature");
    same(again.Verify(b, s), 0, "an object with another key");
    same(failure(function () { enc.Sign(b); }), kInvalidKey, "Sign with the public half only");
    same(failure(function () { dec.Verify(b, s); }), kInvalidKey, "Verify with the private half only");
    same(failure(function () { enc.Verify(b, null); }), kTypeMismatch, "Verify(b, null)");
    same(failure(function () { enc.Verify(gen, s); }), kNotABlob, "Verify with an RSA object as data");

    section("key blobs that are refused");
    o = newRsa();
    same(failure(function () { o.PublicKey = newBlob("0000"); }), kShortKey, "a public key blob of 2 bytes");
    same(failure(function () { o.PrivateKey = newBlob("0000004000"); }), kBadItem, "a private key blob of 5 bytes");
    same(failure(function () { o.PublicKey = null; }), kTypeMismatch, "PublicKey = null");
    same(failure(function () { o.PrivateKey = new ActiveXObject("Valdergast.ZELCryptoMisc"); }), kNotABlob,
         "PrivateKey = the Misc object");
    same(o.PublicKey.Hex.substr(8), kEmptyPublicKey.substr(8), "still no key");
    same(failure(function () { gen.PublicKey = again.PublicKey; }), kInvalidKey, "another key's public half");
    same(failure(function () { dec.PublicKey = again.PublicKey; }), kInvalidKey,
         "another key's public half to a private half");
    same(failure(function () { dec.PublicKey = pub; }), "no error", "the matching public half");
    same(dec.Verify(b, s), 1, "the private half now has its public half");
    same(dec.Decrypt(dec.Encrypt(b)).Text, "pay 10 to Bob", "and encrypts");

    section("damaged and oversized key blobs");
    // One bit of dQ flipped: the signature would give away a factor of n.
    var privHex = gen.PrivateKey.Hex;
    o = newRsa();
    o.PrivateKey = newBlob(flipByte(privHex, itemEnd(privHex, 5) - 1));
    same(failure(function () { o.Sign(b); }), kInvalidKey, "Sign with a damaged dQ");
    same(o.Decrypt(gen.Encrypt(b)).Text, "pay 10 to Bob", "Decrypt with a damaged dQ");
    // An e of 4096 bytes: refused at once, the key kept.
    var pubHex = gen.PublicKey.Hex, n = modulusLength(pubHex);
    o = newRsa();
    o.PublicKey = gen.PublicKey;
    var started = new Date().getTime();
    same(failure(function () { o.PublicKey = newBlob(pubHex.substr(0, 16 + 2 * n) + "00001000" + rep("ff", 4096)); }),
         kInvalidKey, "e of 4096 bytes");
    ok(new Date().getTime() - started < 2000, "refused at once");
    same(o.PublicKey.Hex, pubHex, "the public half stays");
}

runChecks(run);
