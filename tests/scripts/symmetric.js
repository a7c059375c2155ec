// The five symmetric cipher objects as a JScript author meets them: the Key
// property set with a plain assignment, Filler and Mode as plain numbers,
// property names reached whatever their case, null refused by the script
// engine before a method runs, and errors as e.number and e.description.
//
// Expected ciphertexts are published vectors (FIPS-197 appendix C, the
// Twofish designers' known answers, the Blowfish designer's vectors, RFC 2144
// appendix B.1, single-DES known answers through TripleDES with K1 = K2 = K3).

// ok, same, section, failure, runChecks, newBlob and the other shared checks
// come from checks.js, which the test runner appends to this script.

var kNotABlob = "80004005 Internal error: can't get source ZELBlob COM interface";
var kNoKey = "80004005 Crypto System: Invalid key";
var kCannotDecrypt = "80004005 Crypto System: Unable to decrypt data";
var kUnsupported = "80004005 Crypto System: Unsupported algorithm";
var kTypeMismatch = "80020005";  // DISP_E_TYPEMISMATCH from the script engine
var kOverflow = "8002000a";      // DISP_E_OVERFLOW from the script engine
var kBadParamCount = "8002000e"; // DISP_E_BADPARAMCOUNT from the script engine

function corrupted(engine) {
    return "80004005 Crypto System: Data is corrupted - " + engine;
}

function hexXor(a, b) {
    var s = "";
    for (var i = 0; i < a.length; i += 2)
        s += hex2(parseInt(a.substr(i, 2), 16) ^ parseInt(b.substr(i, 2), 16));
    return s;
}

// ProgID suffix, engine name in messages, block size.
var classes = [["AES", "AES", 16], ["Twofish", "Twofish", 16], ["Blowfish", "Blowfish", 8],
               ["Cast", "CAST", 8], ["TripleDES", "TripleDES", 8]];

function newCipher(name) {
    return new ActiveXObject("Valdergast.ZELCrypto" + name);
}

function keyedCipher(name, mode) {
    var o = newCipher(name);
    o.Keygen(newBlob(seq(0x11, 40)), 32);
    o.Mode = mode;
    return o;
}

function freshEncrypt(name, record, mode, p) {
    var o = newCipher(name);
    o.Key = record;
    o.Mode = mode;
    return o.Encrypt(newBlob(p)).Hex;
}

function run() {
    var i, j, row, name, engine, bs, o, o2, b, c, d, k, p, q, v, mode, expected;

    section("a fresh object");
    for (i = 0; i < classes.length; i++) {
        name = classes[i][0];
        engine = classes[i][1];
        o = newCipher(name);
        same(o.Filler, 0, name + " Filler");
        same(o.Mode, 1, name + " Mode");
        same(typeof o.Mode, "number", name + " Mode is a number");
        same(failure(function () { o.Key; }), kNoKey + " - " + engine, name + " Key before a key");
        same(failure(function () { o.Encrypt(newBlob("00")); }), kNoKey, name + " Encrypt before a key");
        same(failure(function () { o.Decrypt(newBlob("00")); }), kNoKey, name + " Decrypt of 1 byte before a key");
        same(failure(function () { o.Decrypt(newBlob("")); }), kNoKey, name + " Decrypt of nothing before a key");
    }

    section("published vectors");
    // class, key material, val, plaintext, ciphertext
    var vectors = [
        ["AES", seq(0, 16), 16, "00112233445566778899aabbccddeeff", "69c4e0d86a7b0430d8cdb78070b4c55a"],
        ["AES", seq(0, 24), 24, "00112233445566778899aabbccddeeff", "dda97ca4864cdfe06eaf70a0ec0d7191"],
        ["AES", seq(0, 32), 128, "00112233445566778899aabbccddeeff", "8ea2b7ca516745bfeafc49904b496089"],
        ["Twofish", rep("00", 16), 0, rep("00", 16), "9f589f5cf6122c32b6bfec2f2ae8c35a"],
        ["Twofish", rep("00", 24), 20, rep("00", 16), "efa71f788965bd4453f860178fc19101"],
        ["Twofish", rep("00", 32), -1, rep("00", 16), "57ff739d4dc92c1bd7fc01700cc8216f"],
        ["Blowfish", "0000000000000000", 0, "0000000000000000", "4ef997456198dd78"],
        ["Blowfish", "fedcba9876543210", 8, "0123456789abcdef", "0aceab0fc6a0a28d"],
        ["Blowfish", "f0e1d2c3b4a5968778695a4b3c2d1e0f0011223344556677", 24, "fedcba9876543210",
         "05044b62fa52d080"],
        ["Cast", "0123456712345678234567893456789a", 0, "0123456789abcdef", "238b4fe5847e44b2"],
        ["Cast", "01234567123456782345", -1, "0123456789abcdef", "eb6a711a2c02271b"],
        ["Cast", "0123456712", 16, "0123456789abcdef", "7ac816d16e9b302e"],
        ["TripleDES", rep("133457799bbcdff1", 3), 0, "0123456789abcdef", "85e813540f0ab405"],
        ["TripleDES", rep("0101010101010101", 3), 24, "8000000000000000", "95f8a5e5dd31d900"]
    ];
    for (i = 0; i < vectors.length; i++) {
        row = vectors[i];
        o = newCipher(row[0]);
        o.Keygen(newBlob(row[1]), row[2]);
        c = o.Encrypt(newBlob(row[3]));
        same(c.Hex, row[4], row[0] + " key " + row[1] + ", val " + row[2]);
        same(o.Decrypt(c).Hex, row[3], row[0] + " back from " + row[4]);
        // Mode 2 from a zero block: P, P xor C enciphers to C, C.
        o = newCipher(row[0]);
        o.Keygen(newBlob(row[1]), row[2]);
        o.Mode = 2;
        same(o.Encrypt(newBlob(row[3] + hexXor(row[3], row[4]))).Hex, row[4] + row[4], row[0] + " mode 2");
    }

    section("Keygen key sizes");
    var m60 = seq(0xa0, 60);
    var sizes = [
        ["AES", m60, 23, "0000000a" + m60.substr(0, 32)],
        ["AES", m60, 24, "0000000c" + m60.substr(0, 48)],
        ["AES", m60, 128, "0000000e" + m60.substr(0, 64)],
        ["Twofish", m60, 16, "00000002" + m60.substr(0, 32)],
        ["Twofish", m60, 17, "00000003" + m60.substr(0, 48)],
        ["Twofish", m60, 25, "00000004" + m60.substr(0, 64)],
        ["Blowfish", m60, 7, "00000008" + m60.substr(0, 16)],
        ["Blowfish", m60, 33, "00000021" + m60.substr(0, 66)],
        ["Blowfish", m60, 0x7fffffff, "00000038" + m60.substr(0, 112)],
        ["Cast", seq(1, 10), 16, "0000000c" + seq(1, 10) + rep("00", 6)],
        ["Cast", seq(1, 11), 16, "00000010" + seq(1, 11) + rep("00", 5)],
        ["TripleDES", seq(1, 16), 24, seq(1, 16) + rep("00", 8)]
    ];
    for (i = 0; i < sizes.length; i++) {
        row = sizes[i];
        o = newCipher(row[0]);
        o.Keygen(newBlob(row[1]), row[2]);
        same(o.Key.Hex, row[3], row[0] + " Keygen of " + row[1].length / 2 + " bytes, val " + row[2]);
    }
    // Filler pads short material at the moment of Keygen.
    o = newCipher("AES");
    o.Filler = 0x2a;
    o.Keygen(newBlob("0102030405"), 16);
    o.Filler = 0;
    same(o.Key.Hex, "0000000a0102030405" + rep("2a", 11), "AES key padded with &H2A");
    // A 16-byte TripleDES key whose halves agree is single DES under K3 = 0.
    o = newCipher("TripleDES");
    o.Keygen(newBlob(rep("0123456789abcdef", 2)), 16);
    same(o.Encrypt(newBlob(rep("00", 8))).Hex, "8ca64de9c1b123a7", "TripleDES third key is zero");

    section("Key records move with a plain assignment");
    for (i = 0; i < classes.length; i++) {
        name = classes[i][0];
        bs = classes[i][2];
        for (mode = 1; mode <= 2; mode++) {
            o = keyedCipher(name, mode);
            o2 = newCipher(name);
            o2.Key = o.Key;
            o2.mode = mode;
            same(o2.Key.Hex, o.Key.Hex, name + ": record read back");
            p = seq(7, 2 * bs + 5);
            same(o2.Encrypt(newBlob(p)).Hex, o.Encrypt(newBlob(p)).Hex, name + " mode " + mode + ": same ciphertext");
        }
    }
    o = newCipher("Blowfish");
    o.Key = newBlob("00000003f0e1d2");
    same(o.Encrypt(newBlob("fedcba9876543210")).Hex, "e9c2b70a1bc65cf3", "Blowfish 3-byte key from a record");

    section("Filler and Mode");
    var fillers = [[0x141, 65], [-1, 255], [256, 0], [0x7fffffff, 255], ["200", 200]];
    for (i = 0; i < classes.length; i++) {
        name = classes[i][0];
        bs = classes[i][2];
        o = newCipher(name);
        for (j = 0; j < fillers.length; j++) {
            o.Filler = fillers[j][0];
            same(o.Filler, fillers[j][1], name + " Filler = " + fillers[j][0]);
        }
        same(failure(function () { o.Filler = 0x100000000; }), kOverflow, name + " Filler = 2^32");
        same(failure(function () { o.Filler = "x"; }), kTypeMismatch, name + " Filler = \"x\"");
        same(o.Filler, 200, name + ": refused values change nothing");

        o = keyedCipher(name, 1);
        o.Mode = 7;
        same(o.Mode, 7, name + " Mode = 7");
        same(o.mode, 7, name + " read as mode");
        same(o.MODE, 7, name + " read as MODE");
        same(failure(function () { o.Encrypt(newBlob(seq(0, 3 * bs))); }), kUnsupported, name + ": mode 7 Encrypt");
        same(failure(function () { o.Decrypt(newBlob(seq(0, 3 * bs))); }), kUnsupported, name + ": mode 7 Decrypt");
        // An undefined property read gives undefined, which is 0; true is -1.
        var undefinedMode = {}.zelModeNotDefined;
        o.Mode = undefinedMode;
        same(o.Mode, 0, name + " Mode = undefined");
        same(failure(function () { o.Encrypt(newBlob(seq(0, bs))); }), kUnsupported, name + ": mode undefined Encrypt");
        o.Mode = true;
        same(o.Mode, -1, name + " Mode = true");
        same(failure(function () { o.Decrypt(newBlob(seq(0, bs))); }), kUnsupported, name + ": mode true Decrypt");
        o.Mode = 7;
        same(failure(function () { o.Decrypt(newBlob(seq(0, bs - 1))); }), kCannotDecrypt,
             name + ": the length is still checked");
        o.mode = -0x80000000;
        same(o.Mode, -0x80000000, name + " mode = -2^31");
        same(failure(function () { o.Mode = 0x80000000; }), kOverflow, name + " Mode = 2^31");
        same(o.Mode, -0x80000000, name + ": Mode kept");
    }

    section("padding");
    for (i = 0; i < classes.length; i++) {
        name = classes[i][0];
        bs = classes[i][2];
        for (mode = 1; mode <= 2; mode++) {
            o = keyedCipher(name, mode);
            o.Filler = 0xe7;
            p = seq(0x30, bs + 3);
            c = o.Encrypt(newBlob(p));
            same(c.Length, 2 * bs, name + " mode " + mode + ": " + (bs + 3) + " bytes padded to " + 2 * bs);
            expected = p + rep("e7", bs - 3);
            same(c.Hex, freshEncrypt(name, o.Key, mode, expected), name + " mode " + mode + ": padded with &HE7");
            o2 = newCipher(name);
            o2.Key = o.Key;
            o2.Mode = mode;
            same(o2.Decrypt(c).Hex, expected, name + " mode " + mode + ": deciphered with the fillers");
        }
    }

    section("refusals");
    var records = {
        AES: ["0000000a" + seq(0, 15), "0000000b" + seq(0, 32), "0000000a" + seq(0, 24)],
        Twofish: ["00000002" + seq(0, 24), "00000001" + seq(0, 8), "20000002" + seq(0, 16)],
        Blowfish: ["00000000", "00000000" + "00", "00000039" + seq(0, 57)],
        Cast: ["00000010" + seq(0, 15), ""],
        TripleDES: [seq(0, 23), ""]
    };
    for (i = 0; i < classes.length; i++) {
        name = classes[i][0];
        engine = classes[i][1];
        bs = classes[i][2];
        o = keyedCipher(name, 2);
        k = o.Key.Hex;
        same(failure(function () { o.Encrypt({}); }), kNotABlob, name + " Encrypt of a script object");
        same(failure(function () { o.Decrypt(o); }), kNotABlob, name + " Decrypt of the cipher itself");
        same(failure(function () { o.Keygen(new ActiveXObject("Scripting.Dictionary"), 16); }), kNotABlob,
             name + " Keygen of a Dictionary");
        same(failure(function () { o.Key = {}; }), kNotABlob, name + " Key = a script object");
        same(failure(function () { o.Encrypt(null); }), kTypeMismatch, name + " Encrypt of null");
        same(failure(function () { o.Key = null; }), kTypeMismatch, name + " Key = null");
        same(failure(function () { o.Encrypt("00"); }), kTypeMismatch, name + " Encrypt of a string");
        same(failure(function () { o.Keygen(newBlob("00")); }), kBadParamCount, name + " Keygen without val");
        same(failure(function () { o.Decrypt(newBlob(seq(0, bs + 1))); }), kCannotDecrypt,
             name + " Decrypt of " + (bs + 1) + " bytes");
        for (j = 0; j < records[name].length; j++) {
            same(failure(function () { o.Key = newBlob(records[name][j]); }), corrupted(engine),
                 name + " record " + records[name][j]);
        }
        same(o.Key.Hex, k, name + ": the key stays");
        // Nothing above moved the chain.
        same(o.Encrypt(newBlob(seq(0, bs))).Hex, keyedCipher(name, 2).Encrypt(newBlob(seq(0, bs))).Hex,
             name + ": the chain stays");
    }
}

runChecks(run);
