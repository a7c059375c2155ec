// Runs the cases that symmetric_crosscheck.py computed with independent
// implementations through the cipher objects.  The one argument is the data
// file: a line "cases N", then one case per line:
//
//   class mode keyFiller messageFiller val material record p1 c1 p2 c2
//
// (hex fields, "-" for no bytes).  For each case an object gets Filler =
// keyFiller, Keygen(material, val), Filler = messageFiller and Mode = mode,
// and must give the key record, then c1 for p1 and c2 for p2 (the second
// Encrypt continues the chain of the first).  A second object that receives
// the key record must decipher c1 followed by c2 to the padded messages.

// ok, same, section, failure, runChecks, newBlob and the other shared checks
// come from checks.js, which the test runner appends to this script.

function hexField(text) {
    return text === "-" ? "" : text;
}

// The hex of a message padded with the filler byte to whole blocks.
function paddedHex(hex, filler, blockSize) {
    var f = (filler < 16 ? "0" : "") + filler.toString(16);
    while ((hex.length / 2) % blockSize) hex += f;
    return hex;
}

function blockSizeOf(name) {
    return name === "AES" || name === "Twofish" ? 16 : 8;
}

function run() {
    var lines = readLines(WScript.Arguments(0));
    var header = lines[0].split(" ");
    var declared = parseInt(header[1], 10);
    var count = 0;
    var shown = {};
    for (var i = 1; i < lines.length; i++) {
        var line = lines[i];
        if (line === "") continue;
        var f = line.split(" ");
        var name = f[0], mode = parseInt(f[1], 10), keyFiller = parseInt(f[2], 10);
        var messageFiller = parseInt(f[3], 10), val = parseInt(f[4], 10);
        var material = hexField(f[5]), record = hexField(f[6]);
        var p1 = hexField(f[7]), c1 = hexField(f[8]), p2 = hexField(f[9]), c2 = hexField(f[10]);
        var what = "case " + (count + 1) + " (" + line + ")";
        count++;
        if (!shown[name]) {
            WScript.Echo("-- " + name);
            shown[name] = true;
        }

        var o = new ActiveXObject("Valdergast.ZELCrypto" + name);
        o.Filler = keyFiller;
        o.Keygen(newBlob(material), val);
        var key = o.Key;
        same(key.Hex, record, what + " key record");
        o.Filler = messageFiller;
        o.Mode = mode;
        same(o.Encrypt(newBlob(p1)).Hex, c1, what + " first message");
        same(o.Encrypt(newBlob(p2)).Hex, c2, what + " second message");

        var bs = blockSizeOf(name);
        var o2 = new ActiveXObject("Valdergast.ZELCrypto" + name);
        o2.Key = key;
        o2.Mode = mode;
        same(o2.Decrypt(newBlob(c1 + c2)).Hex, paddedHex(p1, messageFiller, bs) + paddedHex(p2, messageFiller, bs),
             what + " deciphered on a second object");
    }
    same(count, declared, "cases read");
}

runChecks(run);
