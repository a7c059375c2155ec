// Runs the cases rsa_standard_crosscheck.py made with openssl through the
// RSA object's key files and standard schemes, and writes what the object
// makes for the driver to check with openssl.  Arguments: the data file and
// the results file.  Data file: "cases N", then one case per line (hex
// fields, "-" for no bytes; underscores stand for blanks in error texts):
//
//   key        name form pem            (form: pkcs8 pkcs1 spki pkcs1_public)
//   der        name der pkcs8           (a DER file of the key, and its PKCS #8 DER)
//   verify     name scheme hash data signature expected   (scheme: pkcs1 pss)
//   sign       name scheme hash data
//   decrypt    name hash label ciphertext plain
//   encrypt    name hash label plain
//   toolong    name hash length
//   export     name
//   malformed  name what der error
//   refusedpem what pem error
//   refusedder what der error
//
// Results: "signed name scheme hash data signature", "encrypted name hash
// label plain ciphertext", "exported name privatePem publicPem",
// "generated bits privatePem".

function hexField(text) {
    return text === "-" ? "" : text;
}

function textOf(hex) {
    return newBlob(hex).Text;
}

function hexOfText(text) {
    var b = newBlob();
    b.Text = text;
    return b.Hex;
}

function run() {
    var lines = readLines(WScript.Arguments(0));
    var fso = new ActiveXObject("Scripting.FileSystemObject");
    var out = fso.CreateTextFile(WScript.Arguments(1), true);
    var declared = parseInt(lines[0].split(" ")[1], 10);
    var count = 0;
    // One object per key with both halves (from its PKCS #8 file), and one
    // per key file for the public side.
    var keys = {}, publics = {}, pems = {};
    for (var i = 1; i < lines.length; i++) {
        if (lines[i] === "") continue;
        var f = lines[i].split(" ");
        var kind = f[0], what = "case " + (++count) + " (" + lines[i].substring(0, 100) + ")";
        var o = keys[f[1]];
        if (kind === "key") {
            var r = new ActiveXObject("Valdergast.ZELCryptoRSA");
            r.ImportPem(textOf(f[3]));
            if (f[2] === "pkcs8") {
                keys[f[1]] = r;
                pems[f[1]] = r.ExportPublicPem();
            } else {
                // Every file of the key gives the same public key.
                same(r.ExportPublicPem(), pems[f[1]], what + " public key of the " + f[2] + " file");
                publics[f[1] + "/" + f[2]] = r;
                var isPrivate = f[2] === "pkcs1";
                same(failure(function () { r.ExportPrivatePem(); }),
                     isPrivate ? "no error" : "80004005 Crypto System: Invalid key - RSA",
                     what + " private half of the " + f[2] + " file");
            }
        } else if (kind === "der") {
            var fromDer = new ActiveXObject("Valdergast.ZELCryptoRSA");
            fromDer.ImportDer(newBlob(f[2]));
            same(fromDer.ExportPrivateDer().Hex, f[3], what + " DER read and written as PKCS #8");
        } else if (kind === "verify") {
            var data = newBlob(hexField(f[4])), sig = newBlob(f[5]);
            var expected = parseInt(f[6], 10);
            var objects = [o, publics[f[1] + "/spki"], publics[f[1] + "/pkcs1_public"]];
            for (var j = 0; j < objects.length; j++) {
                var got = f[2] === "pkcs1" ? objects[j].VerifyPkcs1(data, sig, f[3]) : objects[j].VerifyPss(data, sig, f[3]);
                same(got, expected, what + " object " + j);
            }
            // The other scheme never accepts it.
            var other = f[2] === "pkcs1" ? o.VerifyPss(data, sig, f[3]) : o.VerifyPkcs1(data, sig, f[3]);
            same(other, 0, what + " under the other scheme");
        } else if (kind === "sign") {
            var d = newBlob(hexField(f[4]));
            var s = f[2] === "pkcs1" ? o.SignPkcs1(d, f[3]) : o.SignPss(d, f[3]);
            same(f[2] === "pkcs1" ? o.VerifyPkcs1(d, s, f[3]) : o.VerifyPss(d, s, f[3]), 1, what + " own signature");
            out.WriteLine(["signed", f[1], f[2], f[3], f[4], s.Hex].join(" "));
        } else if (kind === "decrypt") {
            o.Label = newBlob(hexField(f[3]));
            same(o.DecryptOaep(newBlob(f[4]), f[2]).Hex, hexField(f[5]), what);
            o.Label = newBlob("");
            if (f[3] !== "-")
                same(failure(function () { o.DecryptOaep(newBlob(f[4]), f[2]); }),
                     "80004005 Crypto System: Unable to decrypt data - RSA", what + " without its label");
        } else if (kind === "encrypt") {
            var enc = publics[f[1] + "/spki"];
            enc.Label = newBlob(hexField(f[3]));
            var c = enc.EncryptOaep(newBlob(hexField(f[4])), f[2]);
            same(c.Length * 8, parseInt(f[1].substring(3), 10), what + " one block");
            out.WriteLine(["encrypted", f[1], f[2], f[3], f[4], c.Hex].join(" "));
        } else if (kind === "toolong") {
            var long = newBlob(rep("5a", parseInt(f[3], 10)));
            same(failure(function () { o.EncryptOaep(long, f[2]); }), "80070057", what);
        } else if (kind === "export") {
            out.WriteLine(["exported", f[1], hexOfText(o.ExportPrivatePem()), hexOfText(o.ExportPublicPem())].join(" "));
        } else if (kind === "malformed") {
            var before = o.ExportPrivatePem();
            same(failure(function () { o.ImportDer(newBlob(f[3])); }), "80004005 " + f[4].replace(/_/g, " "),
                 what + " " + f[2]);
            same(o.ExportPrivatePem(), before, what + " key kept");
        } else if (kind === "refusedpem" || kind === "refusedder") {
            var keep = new ActiveXObject("Valdergast.ZELCryptoRSA");
            keep.Generate(1024);
            var kept = keep.ExportPrivatePem();
            same(failure(function () {
                if (kind === "refusedpem") keep.ImportPem(textOf(f[2])); else keep.ImportDer(newBlob(f[2]));
            }), "80004005 " + f[3].replace(/_/g, " "), what + " " + f[1]);
            same(keep.ExportPrivatePem(), kept, what + " key kept");
        } else {
            ok(false, what + ": unknown kind");
        }
    }
    // Fresh keys of every size for openssl pkey -check.
    var sizes = [0, 1024, 2048, 3072, 4096];
    for (var k = 0; k < sizes.length; k++) {
        var g = new ActiveXObject("Valdergast.ZELCryptoRSA");
        g.Generate(sizes[k]);
        out.WriteLine(["generated", sizes[k] === 0 ? 2048 : sizes[k], hexOfText(g.ExportPrivatePem())].join(" "));
    }
    out.Close();
    same(count, declared, "cases read");
}

runChecks(run);
