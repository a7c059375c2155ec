// Digests, checksums, random bytes and key derivation with the Misc object,
// as a JScript author meets them: checksums as plain numbers, null refused by
// the script engine, Random filling the blob JScript passes by value, errors
// as e.number and e.description.

// ok, same, section, failure, runChecks, newBlob and the other shared checks
// come from checks.js, which the test runner appends to this script.

var kBadArgument = "80070057";   // E_INVALIDARG, no error record
var kUnexpected = "8000ffff";    // E_UNEXPECTED, no error record
var kNotABlob = "80004005 Internal error: can't get source ZELBlob COM interface";
var kUnsupported = "80004005 Crypto System: Unsupported algorithm";
var kTypeMismatch = "80020005";  // DISP_E_TYPEMISMATCH from the script engine
var kOverflow = "8002000a";      // DISP_E_OVERFLOW from the script engine
var kBadParamCount = "8002000e"; // DISP_E_BADPARAMCOUNT from the script engine

var m = new ActiveXObject("Valdergast.ZELCryptoMisc");

function digestHex(hash, hex) {
    var b = newBlob(hex);
    return (hash === 1 ? m.MD5(b) : hash === 2 ? m.SHA1(b) : m.Ripemd(b)).Hex;
}

// The hex text h repeated until it holds count bytes, cut there.
function repeated(h, count) {
    var s = h;
    while (s.length < 2 * count) s += s;
    return s.substring(0, 2 * count);
}

// The string-to-key rule: digest i hashes i zero bytes and then the preimage.
function s2kHex(hash, length, preimageHex) {
    var s = "", zeros = "";
    while (s.length < 2 * length) {
        s += digestHex(hash, zeros + preimageHex);
        zeros += "00";
    }
    return s.substring(0, 2 * length);
}

function run() {
    var b, r, i, row, pw, salt, joined, noSalt;

    section("digests");
    same(m.MD5(textBlob("")).Hex, "d41d8cd98f00b204e9800998ecf8427e", "MD5 of nothing");
    same(m.MD5(textBlob("message digest")).Hex, "f96b697d7cb7938d525a2f31aaf161d0", "MD5 of message digest");
    same(m.SHA1(textBlob("abc")).Hex, "a9993e364706816aba3e25717850c26c9cd0d89d", "SHA1 of abc");
    same(m.SHA1(textBlob("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")).Hex,
         "84983e441c3bd26ebaae4aa1f95129e5e54670f1", "SHA1 of the 448-bit message");
    same(m.Ripemd(textBlob("a")).Hex, "0bdc9d2d256b3ee9daae347be6f4dc835a467ffe", "Ripemd of a");
    same(m.Ripemd(textBlob("abcdefghijklmnopqrstuvwxyz")).Hex, "f71c27109c692c1b56bbdceb5b9d2865b3708dbc",
         "Ripemd of the alphabet");
    b = textBlob("abc");
    same(m.SHA1(b).Length, 20, "SHA1 length");
    same(m.MD5(b).Length, 16, "MD5 length");
    same(b.Text, "abc", "the source stays");

    section("checksums are numbers, unsigned");
    b = textBlob("123456789");
    var crc = m.CRC32(b);
    same(typeof crc, "number", "CRC32 type");
    same(crc, 0xCBF43926, "CRC32 check value");
    same(crc.toString(16), "cbf43926", "CRC32 in hex");
    ok(crc > 0x7FFFFFFF, "CRC32 arrives as a number above 2^31, not negative: " + crc);
    same(m.CRC24(b), 0x21CF02, "CRC24 check value");
    same(m.CRC32(newBlob("")), 0, "CRC32 of nothing");
    same(m.CRC24(newBlob("")), 0xB704CE, "CRC24 of nothing");

    section("sources that are not blobs");
    var notBlobs = [["a JScript object", {}], ["a Dictionary", new ActiveXObject("Scripting.Dictionary")],
                    ["the Misc object", m]];
    for (i = 0; i < notBlobs.length; i++) {
        row = notBlobs[i];
        same(failure(function () { m.MD5(row[1]); }), kNotABlob, "MD5 of " + row[0]);
        same(failure(function () { m.SHA1(row[1]); }), kNotABlob, "SHA1 of " + row[0]);
        same(failure(function () { m.Ripemd(row[1]); }), kNotABlob, "Ripemd of " + row[0]);
        same(failure(function () { m.CRC32(row[1]); }), kNotABlob, "CRC32 of " + row[0]);
        same(failure(function () { m.CRC24(row[1]); }), kNotABlob, "CRC24 of " + row[0]);
    }
    // null and plain values never reach the methods.
    same(failure(function () { m.MD5(null); }), kTypeMismatch, "MD5 of null");
    same(failure(function () { m.CRC32("123456789"); }), kTypeMismatch, "CRC32 of a string");

    section("Random fills the blob JScript passes");
    // JScript passes the blob by value: the blob itself receives the bytes,
    // its old contents replaced, so a key made from it is not all zeros.
    r = newBlob("aabb");
    var returned = m.Random(16, r);
    same(typeof returned, "undefined", "Random returns nothing");
    same(r.Length, 16, "the blob holds 16 new bytes");
    var firstDraw = r.Hex;
    m.Random(16, r);
    ok(r.Hex !== firstDraw, "each call draws new bytes");
    var aes = new ActiveXObject("Valdergast.ZELCryptoAES");
    aes.Keygen(r, 16);
    var zeroKey = new ActiveXObject("Valdergast.ZELCryptoAES");
    zeroKey.Keygen(newBlob(rep("00", 16)), 16);
    ok(aes.Encrypt(newBlob(rep("00", 16))).Hex !== zeroKey.Encrypt(newBlob(rep("00", 16))).Hex,
       "a key from the random blob is not the all-zero key");
    m.Random(0, r);
    same(r.Length, 0, "Random 0 empties the blob");
    r = newBlob("aabb");
    same(failure(function () { m.Random(16, null); }), kBadArgument, "Random with null as destination");
    same(failure(function () { m.Random(16, 5); }), kBadArgument, "Random with a number as destination");
    same(failure(function () { m.Random(16, undefined); }), kBadArgument, "Random with undefined as destination");
    same(failure(function () { m.Random(16, new ActiveXObject("Scripting.Dictionary")); }), kBadArgument,
         "Random with an object that is no blob");
    same(failure(function () { m.Random(16); }), kBadParamCount, "Random without a destination");
    same(failure(function () { m.Random(-1, r); }), kBadArgument, "Random -1");
    same(failure(function () { m.Random(-0x80000000, null); }), kBadArgument, "Random -2^31");
    same(failure(function () { m.Random(0x80000000, null); }), kOverflow, "Random 2^31");
    same(r.Hex, "aabb", "the argument is not changed by the refusals");

    pw = textBlob("password");
    salt = newBlob("0102030405060708");
    joined = newBlob(salt.Hex + pw.Hex);
    noSalt = {}; // null would be refused by the script engine; any non-blob object means no salt

    section("Keygen derivations");
    same(m.Keygen(2, 20, pw, noSalt, 0).Hex, m.SHA1(pw).Hex, "simple SHA-1 is SHA1(password)");
    same(m.Keygen(1, 16, pw, noSalt, 0).Hex, m.MD5(pw).Hex, "simple MD5 is MD5(password)");
    same(m.Keygen(3, 45, pw, noSalt, 0).Hex, s2kHex(3, 45, pw.Hex), "simple RIPEMD-160, 45 bytes");
    same(m.Keygen(3, 45, pw, newBlob(""), 96).Hex, s2kHex(3, 45, pw.Hex), "an empty salt blob is no salt");
    same(m.Keygen(2, 20, pw, salt, 0).Hex, m.SHA1(joined).Hex, "salted SHA-1 is SHA1(salt + password)");
    same(m.Keygen(1, 33, pw, salt, 0).Hex, s2kHex(1, 33, joined.Hex), "salted MD5, 33 bytes");
    same(m.Keygen(2, 25, pw, salt, 96).Hex, s2kHex(2, 25, repeated(joined.Hex, 65536)), "iterated, code 96");
    same(m.Keygen(2, 25, pw, salt, -1).Hex, s2kHex(2, 25, repeated(joined.Hex, 992)), "iterated, passes -1 counts 992");
    same(m.Keygen(2, 25, pw, salt, 0x1F0).Hex, s2kHex(2, 25, repeated(joined.Hex, 512)), "iterated, passes 0x1F0 counts 512");
    same(m.Keygen(2, 25, pw, salt, 0x160).Hex, s2kHex(2, 25, joined.Hex), "iterated, passes 0x160 counts 0: hashed once");

    var grown = "", t;
    for (i = 0; i < 2; i++) {
        t = pw.Hex + grown;
        grown += digestHex(1, t) + digestHex(2, t);
    }
    same(m.Keygen(0, 60, pw, salt, 96).Hex, grown.substring(0, 120), "hash 0 expands the password");
    same(m.Keygen(0, 16, pw, noSalt, 0).Hex, m.MD5(pw).Hex, "16 expanded bytes are MD5(password)");
    same(m.Keygen(0x102, 30, pw, salt, 96).Hex, m.Keygen(2, 30, pw, salt, 96).Hex, "hash 0x102 is SHA-1");

    section("Keygen refusals");
    same(failure(function () { m.Keygen(4, 20, pw, salt, 255); }), kUnsupported, "hash 4");
    same(failure(function () { m.Keygen(256, 0, pw, salt, 255); }), kUnsupported, "hash 256, length 0");
    same(m.Keygen(2, 0, pw, salt, 255).Length, 0, "length 0");
    same(failure(function () { m.Keygen(2, -1, pw, salt, 0); }), kUnexpected, "length -1");
    same(m.Keygen(3, 65536, pw, salt, 0).Length, 65536, "length 65536 is the largest");
    same(failure(function () { m.Keygen(2, 65537, pw, salt, 255); }), kBadArgument, "length 65537");
    same(failure(function () { m.Keygen(0, 0x7FFFFFFF, pw, salt, 0); }), kBadArgument, "length 0x7FFFFFFF, hash 0");
    same(failure(function () { m.Keygen(2, 20, {}, salt, 0); }), kNotABlob, "a password that is no blob");
    same(failure(function () { m.Keygen(2, 20, null, salt, 0); }), kTypeMismatch, "null as password");
    same(failure(function () { m.Keygen(2, 20, pw, null, 0); }), kTypeMismatch, "null as salt");
    same(failure(function () { m.Keygen(2, 20, pw, salt, 0xFFFFFFFF); }), kOverflow, "passes 0xFFFFFFFF (pass -1)");
    same(salt.Hex, "0102030405060708", "the salt is left alone");
    same(pw.Text, "password", "the password is left alone");
}

runChecks(run);
