// Valdergast.ZELCryptoPGP as a JScript author meets it: the password set with
// a plain assignment, Init with plain numbers, the armored text as a JScript
// string, GnuPG's message and armor, the settings a Decrypt leaves behind,
// and errors as e.number and e.description (JScript sees no source).
//
// The settings an object uses are read back from the session-key packet at
// the start of its messages: C3, length, version 4, cipher, type, hash, then
// the salt and the count byte.

// ok, same, section, failure, runChecks, newBlob and the other shared checks
// come from checks.js, which the test runner appends to this script.

function refusal(description) {
    return "80004005 Crypto System: " + description;
}

var kNotABlob = "80004005 Internal error: can't get source ZELBlob COM interface";
var kTypeMismatch = "80020005"; // DISP_E_TYPEMISMATCH from the script engine
var kBegin = "-----BEGIN PGP MESSAGE-----";
var kEnd = "-----END PGP MESSAGE-----";

// Written by GnuPG 2.2 (gpg --rfc2440 -z 0 --symmetric, passphrase
// "correct-horse"): AES-128, type 3 with RIPEMD-160 and count 0x60 ...
var kGpgPlain = "Message written by GnuPG for the class tests.\n";
var kGpgAes = "8c0d0407030344fd29d0c2002e5460a451e7704a496b78bb6ffefce944109781cf844caaab7ff125e7343a09ff957268" +
    "4698a3ca61d07d59192bc74c5dc7984cf5e325f069e280f14a59435b13eca2260fdfd3766cd7fc56f8be1896893593521b7d";
// ... and Twofish, type 1 with MD5, armored (no Version line, LF ends).
var kGpgArmored = kBegin + "\n\n" +
    "jAwECgEBmLkGFf7/dm3JSJLWwVYWrASohowq4lYgofcu1FWdk38a58gIQgi4GU5j\n" +
    "+zp7U83QweJIwk95+KDgtLMa+mICROz+aXwAt/KxT9aNqUbRkeoNFA==\n" +
    "=9+uY\n" + kEnd + "\n";

// n bytes of a pattern that depends on start, as hex.
function pattern(start, n) {
    var s = "";
    for (var i = 0; i < n; i++) s += hex2((start * 11 + i * 29) & 255);
    return s;
}

// Byte i (from 0) of a hex text.
function byteAt(hex, i) {
    return hex.substr(2 * i, 2);
}

function newPgp(password) {
    var o = new ActiveXObject("Valdergast.ZELCryptoPGP");
    if (password !== undefined) o.Password = textBlob(password);
    return o;
}

function run() {
    var o, o2, m, s, t, i, lines;

    section("a fresh object: SHA-1, Blowfish, iterated and salted, count 96");
    o = newPgp("fresh");
    m = o.Encrypt(textBlob("JScript"));
    same(m.Hex.substr(0, 12), "c30d04040302", "session-key packet header and settings");
    same(byteAt(m.Hex, 14), "60", "count byte");
    same(byteAt(m.Hex, 15), "c9", "data packet follows");
    same(m.Length, 17 + 10 + 8 + 7, "message length");
    same(o.Decrypt(m).Text, "JScript", "Decrypt on the same object");
    same(newPgp("fresh").Decrypt(m).Text, "JScript", "Decrypt on a fresh object");
    // The password property in any case.
    o = new ActiveXObject("Valdergast.ZELCryptoPGP");
    o.password = textBlob("lower");
    o2 = new ActiveXObject("Valdergast.ZELCryptoPGP");
    o2.PASSWORD = textBlob("lower");
    same(o2.Decrypt(o.Encrypt(newBlob("abcd"))).Hex, "abcd", "password and PASSWORD set the same");

    section("Init");
    // hash, alg, mode, passes, the settings bytes of the packet, count byte or null
    var inits = [
        [2, 9, 3, 96, "04090302", "60"],
        [258, 4, 3, 96, "04040302", "60"],
        [3, 10, 0, 0, "040a0003", null],
        [1, 3, 1, 0, "04030101", null],
        [2, 8, 3, 0x1ff, "04080302", "ff"],
        [-255, 0x107, 0x10003, 0x51, "04070301", "51"]
    ];
    for (i = 0; i < inits.length; i++) {
        var c = inits[i];
        t = "Init(" + c.slice(0, 4).join(", ") + ")";
        o = newPgp("init");
        same(failure(function () { o.Init(c[0], c[1], c[2], c[3]); }), "no error", t);
        m = o.Encrypt(textBlob("init"));
        same(m.Hex.substr(4, 8), c[4], t + ": settings");
        same(byteAt(m.Hex, 1), c[5] === null ? (c[2] === 0 ? "04" : "0c") : "0d", t + ": packet length");
        if (c[5] !== null) same(byteAt(m.Hex, 14), c[5], t + ": count");
        same(newPgp("init").Decrypt(m).Text, "init", t + ": read back");
    }
    o = newPgp("init");
    o.Init(2, 1, 3, 96);
    same(failure(function () { o.Encrypt(textBlob("x")); }), refusal("Unsupported algorithm - PGP"), "cipher 1");
    o.Init(2, 7, 2, 96);
    same(failure(function () { o.Encrypt(textBlob("x")); }), refusal("Unsupported algorithm - PGP"), "type 2");
    o.Init(5, 7, 3, 96);
    same(failure(function () { o.Encrypt(textBlob("x")); }), refusal("Unsupported algorithm"), "hash 5");
    o.Init(2, 7, 3, 96);
    same(o.Decrypt(o.Encrypt(textBlob("x"))).Text, "x", "good settings again");

    section("round trips");
    var ciphers = [2, 3, 4, 7, 8, 9, 10];
    for (i = 0; i < ciphers.length; i++) {
        o = newPgp("round " + i);
        o.Init(1 + i % 3, ciphers[i], [0, 1, 3][i % 3], 96);
        s = pattern(i, i * 61);
        m = o.Encrypt(newBlob(s));
        same(byteAt(m.Hex, 3), hex2(ciphers[i]), "cipher " + ciphers[i] + " in the packet");
        same(newPgp("round " + i).Decrypt(m).Hex, s, "cipher " + ciphers[i]);
        t = o.Enarmor(m);
        same(typeof t, "string", "Enarmor gives a string");
        same(newPgp("round " + i).Decrypt(o.Dearmor(t)).Hex, s, "cipher " + ciphers[i] + " through the armor");
    }
    for (i = 0; i < 4; i++) {
        var n = [0, 1, 57, 58][i];
        s = pattern(n, n);
        same(o.Dearmor(o.Enarmor(newBlob(s))).Hex, s, "Enarmor and Dearmor of " + n + " bytes");
    }

    section("the armored text");
    o = newPgp("armor");
    m = o.Encrypt(newBlob(pattern(5, 100)));
    s = o.Enarmor(m);
    lines = s.split("\r\n");
    same(lines[0], kBegin, "BEGIN line");
    same(lines[1], "Version: ZELCrypto v2.0", "Version line");
    same(lines[2], "", "empty line");
    same(lines[3].length, 76, "full body line");
    same(lines[lines.length - 3].charAt(0), "=", "checksum line");
    same(lines[lines.length - 2], kEnd, "END line");
    same(lines[lines.length - 1], "", "the last line ends with CR LF");
    same(s.replace(/\r\n/g, "").search(/[\r\n]/), -1, "no lone CR or LF");
    same(o.Enarmor(newBlob("")), kBegin + "\r\nVersion: ZELCrypto v2.0\r\n\r\n\r\n=twTO\r\n" + kEnd + "\r\n",
         "the armor of no bytes");
    t = s.replace(/\r\n/g, "\n").replace("Version: ZELCrypto v2.0\n", "");
    same(t.substr(0, kBegin.length + 2), kBegin + "\n\n", "the text really changed");
    same(o.Decrypt(o.Dearmor(t)).Hex, pattern(5, 100), "LF ends without the Version line");

    section("Dearmor: the body ends at the END line, with or without a checksum line");
    // 201 bytes fill whole base64 groups, so no padding stops the decoder: read
    // as body, the END line would add 9 bytes.  202 and 203 end in padding.
    var ends = [["\r\n", "CR LF"], ["\n", "LF"], ["\r", "CR"]];
    for (var n = 201; n <= 203; n++) {
        s = pattern(n, n);
        t = o.Enarmor(newBlob(s));
        var noSum = t.replace(/\r\n=[^\r\n]*\r\n/, "\r\n");
        same(noSum.length, t.length - 7, n + " bytes: the checksum line is gone");
        same(noSum.substr(noSum.length - kEnd.length - 2), kEnd + "\r\n", n + " bytes: the END line follows the body");
        for (i = 0; i < ends.length; i++) {
            same(o.Dearmor(t.replace(/\r\n/g, ends[i][0])).Hex, s, n + " bytes, checksum, " + ends[i][1]);
            same(o.Dearmor(noSum.replace(/\r\n/g, ends[i][0])).Hex, s, n + " bytes, no checksum, " + ends[i][1]);
        }
    }

    section("GnuPG's messages, and the settings they leave");
    o = newPgp("correct-horse");
    same(o.Decrypt(newBlob(kGpgAes)).Text, kGpgPlain, "GnuPG's AES message");
    m = o.Encrypt(newBlob("")).Hex;
    same(m.substr(0, 12), "c30d04070303", "then AES-128, type 3, RIPEMD-160");
    same(byteAt(m, 14), "60", "with GnuPG's count");
    same(o.Decrypt(o.Dearmor(kGpgArmored)).Text, kGpgPlain, "GnuPG's armored Twofish message");
    same(o.Decrypt(o.Dearmor("Hi,\r\n\r\nhere it is:\r\n" + kGpgArmored.replace(/\n/g, "\t \n"))).Text, kGpgPlain,
         "the same inside a mail, with blanks at the ends of lines");
    same(o.Encrypt(newBlob("")).Hex.substr(0, 12), "c30c040a0101", "then Twofish, type 1, MD5");

    section("refusals");
    o = newPgp("refusals");
    same(failure(function () { newPgp("correct-horsf").Decrypt(newBlob(kGpgAes)); }), refusal("Invalid key - PGP"),
         "wrong password");
    same(failure(function () { newPgp().Decrypt(newBlob(kGpgAes)); }), refusal("Invalid key - PGP"),
         "no password");
    // Encrypt refuses the empty password; Decrypt reads a message made under
    // it by another writer.
    same(failure(function () { newPgp().Encrypt(textBlob("no password")); }), refusal("Invalid key - PGP"),
         "Encrypt with no password set");
    same(failure(function () { newPgp("").Encrypt(newBlob("")); }), refusal("Invalid key - PGP"),
         "Encrypt with the empty password");
    same(newPgp().Decrypt(newBlob("c30404070002c9250446fb8c26ea6c21168cfb94aeebda77dc3fc0855ecc3f6de35a11573fb2d25ea3b85efc1a")).Text, "no password",
         "Decrypt of an empty-password message");
    same(failure(function () { o.Decrypt(newBlob("")); }), refusal("Data is corrupted - PGP"), "empty message");
    same(failure(function () { o.Decrypt(newBlob(kGpgAes.substr(0, 30))); }), refusal("Data is corrupted - PGP"),
         "session-key packet alone");
    same(failure(function () { newPgp("correct-horse").Decrypt(newBlob(kGpgAes.substr(0, 150))); }),
         refusal("Data is corrupted - PGP"), "cut inside the data");
    same(failure(function () { o.Dearmor("plain text"); }), refusal("Data is corrupted - PGP"), "Dearmor of no armor");
    same(failure(function () { o.Dearmor(" " + kGpgArmored); }), refusal("Data is corrupted - PGP"),
         "a blank before BEGIN");
    same(failure(function () { o.Dearmor(kGpgArmored.replace("+zp7", "+zp8")); }), refusal("Data CRC error - PGP"),
         "a changed character");
    same(failure(function () { o.Dearmor(kGpgArmored.replace("=9+uY", "=9+u")); }), refusal("Data CRC error - PGP"),
         "a checksum of three characters");
    same(failure(function () { o.Enarmor(o); }), kNotABlob, "Enarmor of an object that is no blob");
    same(failure(function () { o.Encrypt(new ActiveXObject("Valdergast.ZELCryptoMisc")); }), kNotABlob,
         "Encrypt of an object that is no blob");
    same(failure(function () { o.Password = o; }), kNotABlob, "Password = an object that is no blob");
    // The script engine refuses null for an object argument before the call.
    same(failure(function () { o.Encrypt(null); }), kTypeMismatch, "Encrypt(null)");
    same(o.Decrypt(o.Encrypt(textBlob("after"))).Text, "after", "the object works after the refusals");
}

runChecks(run);
