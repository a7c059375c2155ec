// Runs the cases that hash_cipher_crosscheck.py computed with independent
// implementations through the Hash and Cipher objects.  Arguments: the data
// file, and a file this script writes its own password files to.  Data file:
// a line "cases N", then one case per line (hex fields, "-" for no bytes):
//
//   hash   algorithm data piece,piece,... digest
//   hmac   algorithm key data mac
//   pbkdf2 algorithm password salt iterations length derived
//   hkdf   algorithm ikm salt info length derived
//   gcm    algorithm key iv aad tagLength plain sealed
//   cbc    algorithm padding key iv plain ciphertext
//   ctr    algorithm key iv plain ciphertext
//   file   algorithm iterations password plain file     (made by openssl enc)
//
// For every "file" case the script also encrypts the plaintext with
// EncryptPassword and writes "written algorithm iterations password plain
// file" for the driver to open with openssl enc -d.

// ok, same, section, failure, runChecks, newBlob and the other shared checks
// come from checks.js, which the test runner appends to this script.

function hexField(text) {
    return text === "-" ? "" : text;
}

function run() {
    var lines = readLines(WScript.Arguments(0));
    var fso = new ActiveXObject("Scripting.FileSystemObject");
    var written = fso.CreateTextFile(WScript.Arguments(1), true);
    var declared = parseInt(lines[0].split(" ")[1], 10);
    var count = 0;
    var h = new ActiveXObject("Valdergast.ZELCryptoHash");
    for (var i = 1; i < lines.length; i++) {
        if (lines[i] === "") continue;
        var f = lines[i].split(" ");
        var kind = f[0], what = "case " + (++count) + " (" + lines[i].substring(0, 120) + ")";
        if (kind === "hash" || kind === "hmac" || kind === "pbkdf2" || kind === "hkdf") h.Algorithm = f[1];
        if (kind === "hash") {
            same(h.Hash(newBlob(hexField(f[2]))).Hex, f[4], what + " Hash");
            var pieces = f[3].split(",");
            for (var j = 0; j < pieces.length; j++) h.Update(newBlob(hexField(pieces[j])));
            same(h.Final().Hex, f[4], what + " Update in " + pieces.length + " pieces, Final");
        } else if (kind === "hmac") {
            same(h.Hmac(newBlob(hexField(f[2])), newBlob(hexField(f[3]))).Hex, f[4], what);
        } else if (kind === "pbkdf2") {
            same(h.Pbkdf2(newBlob(hexField(f[2])), newBlob(hexField(f[3])), parseInt(f[4], 10),
                          parseInt(f[5], 10)).Hex, f[6], what);
        } else if (kind === "hkdf") {
            // JScript cannot pass null for an object: an empty salt is the same.
            same(h.Hkdf(newBlob(hexField(f[2])), newBlob(hexField(f[3])), newBlob(hexField(f[4])),
                        parseInt(f[5], 10)).Hex, f[6], what);
        } else {
            var c = new ActiveXObject("Valdergast.ZELCryptoCipher");
            c.Algorithm = f[1];
            if (kind === "gcm") {
                c.Key = newBlob(f[2]);
                c.IV = newBlob(f[3]);
                c.AAD = newBlob(hexField(f[4]));
                c.TagLength = parseInt(f[5], 10);
                same(c.Encrypt(newBlob(hexField(f[6]))).Hex, hexField(f[7]), what + " Encrypt");
                same(c.Decrypt(newBlob(hexField(f[7]))).Hex, hexField(f[6]), what + " Decrypt");
            } else if (kind === "cbc") {
                c.Padding = f[2];
                c.Key = newBlob(f[3]);
                c.IV = newBlob(f[4]);
                same(c.Encrypt(newBlob(hexField(f[5]))).Hex, hexField(f[6]), what + " Encrypt");
                same(c.Decrypt(newBlob(hexField(f[6]))).Hex, hexField(f[5]), what + " Decrypt");
            } else if (kind === "ctr") {
                c.Key = newBlob(f[2]);
                c.IV = newBlob(f[3]);
                same(c.Encrypt(newBlob(hexField(f[4]))).Hex, hexField(f[5]), what + " Encrypt");
                same(c.Decrypt(newBlob(hexField(f[5]))).Hex, hexField(f[4]), what + " Decrypt");
            } else if (kind === "file") {
                c.Iterations = parseInt(f[2], 10);
                var password = newBlob(f[3]);
                same(c.DecryptPassword(password, newBlob(hexField(f[5]))).Hex, hexField(f[4]),
                     what + " DecryptPassword of openssl's file");
                var own = c.EncryptPassword(password, newBlob(hexField(f[4])));
                same(own.Hex.substring(0, 16), "53616c7465645f5f", what + " EncryptPassword writes Salted__");
                same(c.DecryptPassword(password, own).Hex, hexField(f[4]), what + " own file read back");
                written.WriteLine(["written", f[1], f[2], f[3], f[4], own.Hex].join(" "));
            } else {
                ok(false, what + ": unknown kind");
            }
        }
    }
    written.Close();
    same(count, declared, "cases read");
}

runChecks(run);
