// The blob's views of its bytes as a JScript author uses them: Hex, Base64,
// Text (UTF-16 strings to the ANSI code page and back), Bytes, Utf8 (UTF-16
// strings to UTF-8 and back), Base64Url, Length, Clear, Append, Slice, Equals.

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

    section("Utf8");
    var utf8 = [["Russian", "\u041f\u0440\u0438\u0432\u0435\u0442", "d09fd180d0b8d0b2d0b5d182"],
                ["Japanese", "\u65e5\u672c\u8a9e", "e697a5e69cace8aa9e"],
                ["emoji U+1F600", "\ud83d\ude00", "f09f9880"],
                ["accents and euro", "caf\u00e9 \u20ac", "636166c3a920e282ac"],
                ["NUL inside", "a\u0000b", "610062"],
                ["empty", "", ""]];
    for (i = 0; i < utf8.length; i++) {
        row = utf8[i];
        b = newBlob("ff");
        b.Utf8 = row[1];
        same(b.Hex, row[2], "Utf8 = " + row[0]);
        c = newBlob(row[2]);
        same(c.Utf8, row[1], "Utf8 of the " + row[0] + " bytes");
    }
    same(newBlob("f09f9880").Utf8.length, 2, "a character beyond U+FFFF is a surrogate pair");
    var badUtf8 = [["48656c6c6f80", "Invalid UTF-8 at byte 5"], ["c0af", "Invalid UTF-8 at byte 0"],
                   ["41eda080", "Invalid UTF-8 at byte 1"], ["f4908080", "Invalid UTF-8 at byte 0"],
                   ["6162e282", "Invalid UTF-8 at byte 2"]];
    for (i = 0; i < badUtf8.length; i++) {
        row = badUtf8[i];
        b = newBlob(row[0]);
        same(failure(function () { s = b.Utf8; }), refused(row[1]), "Utf8 of " + row[0]);
    }
    var lone = [["a\ud83d", "Invalid UTF-16 at character 2"], ["\ude00", "Invalid UTF-16 at character 1"],
                ["\ud83d\ude00\ud83d!", "Invalid UTF-16 at character 3"]];
    for (i = 0; i < lone.length; i++) {
        row = lone[i];
        b = newBlob("cafe");
        same(failure(function () { b.Utf8 = row[0]; }), refused(row[1]), "Utf8 = " + escape(row[0]));
        same(b.Hex, "cafe", "unchanged after Utf8 = " + escape(row[0]));
    }

    section("Base64Url");
    b = newBlob("fbff");
    same(b.Base64Url, "-_8", "- and _ where base64 has + and /, no padding");
    b.Base64Url = "Zm9vYmE=";
    same(b.Text, "fooba", "padding may be given");
    b.Base64Url = "Zm9vYmE";
    same(b.Text, "fooba", "or left out");
    var base64UrlRefusals = [["+/8", "Base64Url text has a character outside the base64url alphabet at position 1"],
                             ["Zm9v\nYg", "Base64Url text has a character outside the base64url alphabet at position 5"],
                             ["Zm9vY", "Base64Url text ends with a single digit in its last group"],
                             ["Zg=", "Base64Url text has incomplete '=' padding"]];
    for (i = 0; i < base64UrlRefusals.length; i++) {
        row = base64UrlRefusals[i];
        b = newBlob("cafe");
        same(failure(function () { b.Base64Url = row[0]; }), refused(row[1]), "Base64Url = " + escape(row[0]));
        same(b.Hex, "cafe", "unchanged after Base64Url = " + escape(row[0]));
    }

    section("Append, Slice, Equals");
    b = newBlob("0102");
    c = newBlob("0304");
    b.Append(c);
    same(b.Hex, "01020304", "Append");
    b.Append(b);
    same(b.Hex, "0102030401020304", "a blob appended to itself doubles");
    same(failure(function () { b.Append(new ActiveXObject("Scripting.Dictionary")); }),
         refused("Append takes a blob"), "Append of another object");
    same(b.Hex, "0102030401020304", "unchanged after the refusal");

    var part = b.Slice(2, 3);
    same(part.Hex, "030401", "Slice");
    same(b.Slice(b.Length, 0).Length, 0, "nothing from the end");
    same(failure(function () { part = b.Slice(6, 3); }), refused("Slice goes past the end of the blob's 8 bytes"),
         "Slice past the end");
    same(failure(function () { part = b.Slice(-1, 0); }), refused("Slice takes a start and a length of 0 or more"),
         "Slice from before the start");
    same(part.Hex, "030401", "the variable keeps its blob after the refusals");

    same(b.Equals(newBlob("0102030401020304")), true, "Equals: the same bytes");
    same(b.Equals(newBlob("0102030401020305")), false, "Equals: another last byte");
    same(b.Equals(newBlob("01020304")), false, "Equals: shorter");
    same(typeof b.Equals(b), "boolean", "Equals gives a Boolean");
    same(failure(function () { b.Equals(new ActiveXObject("Scripting.Dictionary")); }),
         refused("Equals takes a blob"), "Equals of another object");
}

runChecks(run);
