// Packing numbers and blobs into a blob and out again with the Misc object,
// as a JScript author meets it: signed 32-bit numbers, null refused by the
// script engine, errors as e.number and e.description.

// ok, same, section, failure, runChecks, newBlob and the other shared checks
// come from checks.js, which the test runner appends to this script.

var kBadPosition = "80070057";   // E_INVALIDARG, no error record
var kCorrupt = "80004005 Crypto System: Data is corrupted - XBlob";
var kNotABlob = "80004005 Internal error: can't get source ZELBlob COM interface";
var kTypeMismatch = "80020005";  // DISP_E_TYPEMISMATCH from the script engine
var kOverflow = "8002000a";      // DISP_E_OVERFLOW from the script engine

var m = new ActiveXObject("Valdergast.ZELCryptoMisc");

function hex8(v) {
    var s = (v >>> 0).toString(16);
    while (s.length < 8) s = "0" + s;
    return s;
}

function run() {
    var b, c, item, v, i, row;

    section("packing a record and unpacking it");
    b = newBlob("");
    item = newBlob("");
    item.Text = "bob";
    m.InsertLongToBlob(b, b.Length, 3);
    m.InsertBlobToBlob(b, b.Length, item);
    m.InsertLongToBlob(b, b.Length, -2);
    same(b.Hex, "00000003" + "00000003626f62" + "fffffffe", "packed record");
    same(m.ExtractLongFromBlob(b, 0), 3, "version");
    same(m.ExtractBlobFromBlob(b, 0).Text, "bob", "name");
    same(m.ExtractLongFromBlob(b, 0), -2, "signed number");
    same(b.Length, 0, "everything taken out");

    section("numbers");
    b = newBlob("");
    m.InsertLongToBlob(b, 0, 0x01020304);
    same(b.Hex, "01020304", "most significant byte first");
    v = m.ExtractLongFromBlob(b, 0);
    same(v, 16909060, "number read back");
    same(typeof v, "number", "a number comes back");
    same(b.Length, 0, "extracting takes the bytes out");

    // Numbers travel as signed 32-bit values: one with the top bit set goes
    // in as its |0 form and comes back negative.
    var values = [[0, "00000000"], [-1, "ffffffff"], [0x7fffffff, "7fffffff"],
                  [-0x80000000, "80000000"], [0xdeadbeef | 0, "deadbeef"], [-16909061, "fefdfcfb"]];
    for (i = 0; i < values.length; i++) {
        row = values[i];
        b = newBlob("aabb");
        m.InsertLongToBlob(b, 2, row[0]);
        same(b.Hex, "aabb" + row[1], "append " + row[0]);
        v = m.ExtractLongFromBlob(b, 2);
        same(v, row[0], "extract " + row[1]);
        same(hex8(v), row[1], "unsigned view of " + row[1]);
        same(b.Hex, "aabb", "blob back as before after " + row[1]);
    }

    // A fractional position is rounded by the script engine before the call.
    b = newBlob("0102");
    m.InsertLongToBlob(b, 0.6, 9);
    same(b.Hex, "01" + "00000009" + "02", "position 0.6 arrives as 1");

    section("items");
    b = newBlob("ccdd");
    item = newBlob("414243");
    m.InsertBlobToBlob(b, 1, item);
    same(b.Hex, "cc" + "00000003414243" + "dd", "item in the middle");
    c = m.ExtractBlobFromBlob(b, 1);
    same(c.Hex, "414243", "item payload");
    same(b.Hex, "ccdd", "item removed");

    b = newBlob("");
    m.InsertBlobToBlob(b, 0, newBlob(""));
    same(b.Hex, "00000000", "an empty blob packs to a zero length");

    b = newBlob("0102");
    m.InsertBlobToBlob(b, 2, b);
    same(b.Hex, "0102" + "000000020102", "blob appended to itself as an item");
    same(m.ExtractBlobFromBlob(b, 2).Hex, "0102", "and taken out again");
    same(b.Hex, "0102", "blob back as before");

    section("positions out of range");
    var positions = [["", -1], ["", 1], ["010203", 4], ["010203", -0x80000000]];
    for (i = 0; i < positions.length; i++) {
        row = positions[i];
        b = newBlob(row[0]);
        same(failure(function () { m.InsertLongToBlob(b, row[1], 1); }), kBadPosition,
             "InsertLongToBlob [" + row[0] + "] at " + row[1]);
        same(failure(function () { m.ExtractLongFromBlob(b, row[1]); }), kBadPosition,
             "ExtractLongFromBlob [" + row[0] + "] at " + row[1]);
        same(failure(function () { m.InsertBlobToBlob(b, row[1], newBlob("aa")); }), kBadPosition,
             "InsertBlobToBlob [" + row[0] + "] at " + row[1]);
        same(failure(function () { m.ExtractBlobFromBlob(b, row[1]); }), kBadPosition,
             "ExtractBlobFromBlob [" + row[0] + "] at " + row[1]);
        same(b.Hex, row[0], "unchanged after the refused calls at " + row[1]);
    }
    b = newBlob("010203");
    same(failure(function () { m.ExtractLongFromBlob(b, 0); }), kBadPosition, "three bytes are not a number");
    same(b.Hex, "010203", "unchanged after a short extract");

    section("malformed items");
    var malformed = [["", 0], ["000000", 0], ["00000004414243", 0], ["fffffffc41424344", 0],
                     ["aa00000004414243", 1]];
    for (i = 0; i < malformed.length; i++) {
        row = malformed[i];
        b = newBlob(row[0]);
        same(failure(function () { m.ExtractBlobFromBlob(b, row[1]); }), kCorrupt,
             "ExtractBlobFromBlob [" + row[0] + "] at " + row[1]);
        same(b.Hex, row[0], "unchanged after a malformed item [" + row[0] + "]");
    }

    section("arguments that are not blobs");
    // Objects reach the method, which refuses them.
    var notBlobs = [["a JScript object", {}], ["a JScript array", [1, 2]],
                    ["a Dictionary", new ActiveXObject("Scripting.Dictionary")], ["the Misc object", m]];
    for (i = 0; i < notBlobs.length; i++) {
        row = notBlobs[i];
        same(failure(function () { m.InsertLongToBlob(row[1], 0, 1); }), kNotABlob, "InsertLongToBlob on " + row[0]);
        same(failure(function () { m.ExtractLongFromBlob(row[1], 0); }), kNotABlob, "ExtractLongFromBlob on " + row[0]);
        same(failure(function () { m.ExtractBlobFromBlob(row[1], 0); }), kNotABlob, "ExtractBlobFromBlob from " + row[0]);
        b = newBlob("0102");
        same(failure(function () { m.InsertBlobToBlob(b, 0, row[1]); }), kNotABlob, "InsertBlobToBlob of " + row[0]);
        same(b.Hex, "0102", "target unchanged after inserting " + row[0]);
    }
    // null, undefined and plain values are turned away by the script engine
    // before the method runs.
    var notObjects = [["null", null], ["undefined", undefined], ["a number", 5], ["a string", "0102"]];
    for (i = 0; i < notObjects.length; i++) {
        row = notObjects[i];
        b = newBlob("0102");
        same(failure(function () { m.InsertLongToBlob(row[1], 0, 1); }), kTypeMismatch, "InsertLongToBlob on " + row[0]);
        same(failure(function () { m.InsertBlobToBlob(b, 0, row[1]); }), kTypeMismatch, "InsertBlobToBlob of " + row[0]);
        same(b.Hex, "0102", "target unchanged after inserting " + row[0]);
    }

    section("numbers beyond 32 bits");
    b = newBlob("0102");
    same(failure(function () { m.InsertLongToBlob(b, 0, 0xffffffff); }), kOverflow, "val 0xffffffff (pass it |0)");
    same(failure(function () { m.InsertLongToBlob(b, 0x80000000, 0); }), kOverflow, "pos 2^31");
    same(b.Hex, "0102", "unchanged after an overflow");
}

runChecks(run);
