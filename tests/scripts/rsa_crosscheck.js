// The in-prefix half of rsa_crosscheck.py.  Arguments: a mode, the input file
// the driver wrote, and (mode "make") the file to write for the driver.
// Hex fields use "-" for no bytes.
//
// Mode "make": input lines
//   key <name> <size> <full|short> <base1> <base2>
//   msg <name> <param> <message>
// For each key, counter = 0, 1, ... gives the seeds base1 | counter and
// base2 | counter (counter as 4 bytes big-endian) until Keygen makes a public
// key blob whose n item has exactly k bytes (full) or fewer (short).  The
// output gets
//   key <name> <counter> <seed1> <seed2> <public blob> <private blob>
// and, for each msg line, from objects that received one half each through
// the key properties (the encrypting one after SetIV(param) unless param is
// "none"):
//   enc <name> <param> <message> <ciphertext> <second ciphertext>
//   sig <name> <message> <signature>    or    sigerr <name> <message> <description>
// The script itself checks that its own private half decrypts both
// ciphertexts.
//
// Mode "check": input lines
//   verify <public blob> <message> <signature> <expected answer>
//   decrypt <private blob> <param> <ciphertext> <message>
// run through fresh objects and compared.

// ok, same, section, failure, runChecks, newBlob and the other shared checks
// come from checks.js, which the test runner appends to this script.

function unfield(text) {
    return text === "-" ? "" : text;
}

function field(hex) {
    return hex === "" ? "-" : hex;
}

function be32(v) {
    var s = v.toString(16);
    while (s.length < 8) s = "0" + s;
    return s;
}

// The n item's length in a key blob.
function modulusLength(hex) {
    return parseInt(hex.substr(8, 8), 16);
}

function makeKey(name, size, want, base1, base2, out) {
    for (var counter = 0; counter < 5000; counter++) {
        var seed1 = unfield(base1) + be32(counter), seed2 = unfield(base2) + be32(counter);
        var o = new ActiveXObject("Valdergast.ZELCryptoRSA");
        o.Keygen(newBlob(seed1), newBlob(seed2), size);
        var pub = o.PublicKey.Hex;
        var k = parseInt(pub.substr(0, 8), 16);
        var full = modulusLength(pub) === k;
        if (full === (want === "full")) {
            out.WriteLine(["key", name, counter, seed1, seed2, pub, o.PrivateKey.Hex].join(" "));
            return {publicBlob: pub, privateBlob: o.PrivateKey.Hex};
        }
    }
    ok(false, "no " + want + " modulus for key " + name);
    return null;
}

function make(input, output) {
    var fso = new ActiveXObject("Scripting.FileSystemObject");
    var lines = readLines(input);
    var out = fso.CreateTextFile(output, true);
    var keys = {};
    for (var i = 0; i < lines.length; i++) {
        var f = lines[i].split(" ");
        if (f[0] === "key") {
            WScript.Echo("-- key " + f[1]);
            keys[f[1]] = makeKey(f[1], parseInt(f[2], 10), f[3], f[4], f[5], out);
        } else if (f[0] === "msg") {
            var key = keys[f[1]];
            if (!key) continue;
            var param = f[2], message = unfield(f[3]);
            var what = "key " + f[1] + ", " + message.length / 2 + " bytes";

            var sender = new ActiveXObject("Valdergast.ZELCryptoRSA");
            sender.PublicKey = newBlob(key.publicBlob);
            var receiver = new ActiveXObject("Valdergast.ZELCryptoRSA");
            receiver.PrivateKey = newBlob(key.privateBlob);
            if (param !== "none") {
                sender.SetIV(newBlob(unfield(param)));
                receiver.SetIV(newBlob(unfield(param)));
            }
            var c1 = sender.Encrypt(newBlob(message)).Hex;
            var c2 = sender.Encrypt(newBlob(message)).Hex;
            out.WriteLine(["enc", f[1], param, field(message), field(c1), field(c2)].join(" "));
            same(receiver.Decrypt(newBlob(c1)).Hex, message, what + ": first ciphertext");
            same(receiver.Decrypt(newBlob(c2)).Hex, message, what + ": second ciphertext");

            try {
                var s = receiver.Sign(newBlob(message)).Hex;
                out.WriteLine(["sig", f[1], field(message), s].join(" "));
            } catch (e) {
                out.WriteLine(["sigerr", f[1], field(message), e.description.replace(/ /g, "_")].join(" "));
            }
        }
    }
    out.Close();
}

function check(input) {
    var lines = readLines(input);
    var line = 0;
    for (var i = 0; i < lines.length; i++) {
        var text = lines[i];
        var f = text.split(" ");
        line++;
        var o = new ActiveXObject("Valdergast.ZELCryptoRSA");
        if (f[0] === "verify") {
            o.PublicKey = newBlob(f[1]);
            var v = o.Verify(newBlob(unfield(f[2])), newBlob(unfield(f[3])));
            same(v, parseInt(f[4], 10), "line " + line + " (" + text + ") Verify");
        } else if (f[0] === "decrypt") {
            o.PrivateKey = newBlob(f[1]);
            if (f[2] !== "none") o.SetIV(newBlob(unfield(f[2])));
            same(o.Decrypt(newBlob(unfield(f[3]))).Hex, unfield(f[4]), "line " + line + " (" + text + ") Decrypt");
        }
    }
}

runChecks(function () {
    if (WScript.Arguments(0) === "make") {
        make(WScript.Arguments(1), WScript.Arguments(2));
    } else {
        check(WScript.Arguments(1));
    }
});
