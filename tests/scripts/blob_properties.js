// The blob's views of its bytes as a JScript author uses them: Hex, Base64,
// Text (UTF-16 strings to the ANSI code page and back), Bytes, Length, Clear.

// ok, same, section, failure, runChecks, newBlob and the other shared checks
// come from checks.js, which the test runner appends to this script.

function refused(description) {
    return "80070057 " + description;
}

function run() {
    var b, c, i, row, s, bytes;

    section("Hex");
    b = newBlob("DEADbeef");
    same(b.Hex, "deadbeef", "either case in, lower case out");
    same(b.Length, 4, "Length");
    same(typeof b.Length, "number", "Length is a number");
    b.Hex = "\tde ad\r\nBE\nef ";
    same(b.Hex, "deadbeef", "blanks and line breaks are skipped");
    var hexRefusals = [["abc", "Hex text has an odd number of digits"],
                       ["0g", "Hex text has a character that is not a hex digit at position 2"],
                       ["\u00e90", "Hex text has a character that is not a hex digit at position 1"]];
    for (i = 0; i < hexRefusals.length; i++) {
        row = hexRefusals[i];
        b = newBlob("cafe");
        same(failure(function () { b.Hex = row[0]; }), refused(row[1]), "Hex = \"" + row[0] + "\"");
        same(b.Hex, "cafe", "unchanged after Hex = \"" + row[0] + "\"");
    }

    section("Base64");
    var vectors = [["", ""], ["f", "Zg=="], ["fo", "Zm8="], ["foo", "Zm9v"],
                   ["foob", "Zm9vYg=="], ["fooba", "Zm9vYmE="], ["foobar", "Zm9vYmFy"]];
    for (i = 0; i < vectors.length; i++) {
        row = vectors[i];
        b = newBlob("");
        b.Text = row[0];
        same(b.Base64, row[1], "Base64 of \"" + row[0] + "\"");
        c = newBlob("ff");
        c.Base64 = row[1];
        same(c.Text, row[0], "decoded \"" + row[1] + "\"");
    }
    b = newBlob("fbff");
    same(b.Base64, "+/8=", "the last two digits of the alphabet");
    b.Base64 = "Zm9v\r\nYmFy\r\n";
    same(b.Text, "foobar", "base64 with line breaks");
    var base64Refusals = [["A", "Base64 text ends with a single digit in its last group"],
                          ["ab-_", "Base64 text has a character outside the base64 alphabet at position 3"],
                          ["AQ==x", "Base64 text goes on after its '=' padding at position 5"]];
    for (i = 0; i < base64Refusals.length; i++) {
        row = base64Refusals[i];
        b = newBlob("cafe");
        same(failure(function () { b.Base64 = row[0]; }), refused(row[1]), "Base64 = \"" + row[0] + "\"");
        same(b.Hex, "cafe", "unchanged after Base64 = \"" + row[0] + "\"");
    }

    section("Text");
    // The prefix runs with the Western code page (1252).
    var texts = [["Hi", "4869"], ["caf\u00e9", "636166e9"], ["\u20ac5", "8035"],
                 ["a\u0000b", "610062"], ["", ""]];
    for (i = 0; i < texts.length; i++) {
        row = texts[i];
        b = newBlob("ff");
        b.Text = row[0];
        same(b.Hex, row[1], "Text = " + escape(row[0]));
        c = newBlob(row[1]);
        same(c.Text, row[0], "Text of " + row[1]);
    }
    // A character that the code page lacks becomes '?', one byte still.
    b = newBlob("");
    b.Text = "a\u4e2db";
    same(b.Hex, "613f62", "a character outside the code page");

    section("Bytes");
    // A JScript array is not an array of bytes.
    b = newBlob("cafe");
    same(failure(function () { b.Bytes = [72, 105]; }), refused("Bytes takes a one-dimensional array of bytes"),
         "a JScript array");
    same(failure(function () { b.Bytes = "Hi"; }), refused("Bytes takes a one-dimensional array of bytes"),
         "a string");
    same(b.Hex, "cafe", "unchanged after the refusals");
    // An array of bytes from another component, kept in a variable: JScript
    // can hold it and pass it on.
    b = newBlob("00ff10");
    bytes = b.Bytes;
    b.Clear();
    c = newBlob("");
    c.Bytes = bytes;
    same(c.Hex, "00ff10", "an array of bytes passed on");
    c = newBlob("");
    c.Bytes = newBlob("414243").Bytes;
    same(c.Text, "ABC", "straight from one blob to another");
    c.Bytes = null;
    same(c.Length, 0, "null empties");
    c.Hex = "01";
    c.Bytes = undefined;
    same(c.Length, 0, "undefined empties");

    section("Length and Clear");
    b = newBlob("010203");
    // DISP_E_MEMBERNOTFOUND: the property has no writer.
    same(failure(function () { b.Length = 1; }), "80020003", "Length is read-only");
    same(b.Hex, "010203", "unchanged after setting Length");
    b.Clear();
    same(b.Length, 0, "Clear");
    same(b.Base64, "", "nothing left");
}

runChecks(run);
