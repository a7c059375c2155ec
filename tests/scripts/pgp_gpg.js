// The prefix side of pgp_gpg.py: runs the cases the driver wrote through
// Valdergast.ZELCryptoPGP and writes what the objects gave back, for the
// driver to check against GnuPG.  The one argument is the case file; the data
// files named there are in the same folder, all as text (base64 in one line,
// or an armored text as it is).  One case per line:
//
//   encrypt <id> <hash> <cipher> <mode> <count> <armor> <password hex>
//           [<format> <compression> <aead>]
//       Init(hash, cipher, mode, count), Password, the message format,
//       compression and AEAD mode when given, Encrypt of <id>.plain;
//       writes <id>.out: the Enarmor text when armor is 1, else the message
//       in base64.
//   decrypt <id> <armor> <password hex>
//       Password, then Dearmor of the text in <id>.msg (armor 1) or the
//       base64 message in it, then Decrypt; writes the plaintext in base64
//       to <id>.got.
//
// Every case also writes a line to results.txt: "<id> ok <hex> <format>
// <aead> <compression>", where <hex> is the first 6 bytes of a message the
// object encrypts afterwards (the settings it holds then) and the rest the
// object's message settings ("-" for <hex> after an AEAD format), or
// "<id> error <number> <description>".

// ok, same, section, failure, runChecks, newBlob and the other shared checks
// come from checks.js, which the test runner appends to this script.

var fso = new ActiveXObject("Scripting.FileSystemObject");

function readText(path) {
    if (fso.GetFile(path).Size === 0) return "";
    var f = fso.OpenTextFile(path, 1);
    var text = f.ReadAll();
    f.Close();
    return text;
}

function writeText(path, text) {
    var f = fso.CreateTextFile(path, true, false);
    f.Write(text);
    f.Close();
}

function runCase(fields, folder) {
    var id = fields[1], o = new ActiveXObject("Valdergast.ZELCryptoPGP");
    var password = newBlob();
    var base = fso.BuildPath(folder, id);
    if (fields[0] === "encrypt") {
        password.Hex = fields[7];
        o.Init(parseInt(fields[2], 10), parseInt(fields[3], 10), parseInt(fields[4], 10), parseInt(fields[5], 10));
        o.Password = password;
        if (fields.length > 8) {
            o.Format = parseInt(fields[8], 10);
            o.Compression = parseInt(fields[9], 10);
            o.Aead = parseInt(fields[10], 10);
        }
        var plain = newBlob();
        plain.Base64 = readText(base + ".plain");
        var message = o.Encrypt(plain);
        writeText(base + ".out", fields[6] === "1" ? o.Enarmor(message) : message.Base64);
    } else {
        password.Hex = fields[3];
        o.Password = password;
        var text = readText(base + ".msg");
        var sealed;
        if (fields[2] === "1") {
            sealed = o.Dearmor(text);
        } else {
            sealed = newBlob();
            sealed.Base64 = text;
        }
        writeText(base + ".got", o.Decrypt(sealed).Base64);
    }
    // The session packet of the next message shows the held string-to-key
    // settings in formats 0 and 1 (the AEAD formats' packets differ in
    // layout: "-").
    var head = o.Format >= 2 ? "-" : o.Encrypt(newBlob()).Hex.substr(0, 12);
    return head + " " + o.Format + " " + o.Aead + " " + o.Compression;
}

function run() {
    var dataFile = WScript.Arguments(0);
    var folder = fso.GetParentFolderName(dataFile);
    var lines = readText(dataFile).split(/\r?\n/);
    var results = [];
    for (var i = 0; i < lines.length; i++) {
        if (lines[i] === "") continue;
        var fields = lines[i].split(" ");
        try {
            results.push(fields[1] + " ok " + runCase(fields, folder));
            passed = (passed || 0) + 1;
        } catch (e) {
            failed = (failed || 0) + 1;
            var error = (e.number >>> 0).toString(16) + " " + e.description;
            results.push(fields[1] + " error " + error);
            WScript.Echo("FAIL: " + fields[0] + " " + fields[1] + ": " + error);
        }
    }
    writeText(fso.BuildPath(folder, "results.txt"), results.join("\r\n") + "\r\n");
}

runChecks(run);
