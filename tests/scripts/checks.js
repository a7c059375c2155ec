// The checks every JScript test shares.  The test runner appends this file to
// each script (tools/zelwine script --append), as it does checks.vbs for
// VBScript: JScript declares the functions and variables of the whole file
// before it runs any of it, so the script's own code can call them.  The
// counters' initial values are not yet assigned when the script runs, so
// they count from "undefined" as from 0.
//
//   ok/same/section, failure for calls that may throw, the blob makers, and
//   runChecks, which ends a script with the "N passed, M failed" line that
//   tools/zelwine --check reads.

var passed, failed;

function ok(cond, message) {
    if (cond) {
        passed = (passed || 0) + 1;
    } else {
        failed = (failed || 0) + 1;
        WScript.Echo("FAIL: " + message);
    }
}

function same(actual, expected, what) {
    ok(actual === expected, what + ": got [" + actual + "], expected [" + expected + "]");
}

function section(name) {
    WScript.Echo("-- " + name);
}

// "no error", or the error number in hex followed by its description.
function failure(f) {
    try {
        f();
        return "no error";
    } catch (e) {
        var text = (e.number >>> 0).toString(16);
        return e.description ? text + " " + e.description : text;
    }
}

// Runs body; an error that stops it counts as a failure.  Then the tally.
function runChecks(body) {
    try {
        body();
    } catch (e) {
        failed = (failed || 0) + 1;
        WScript.Echo("FAIL: stopped by an error " + (e.number >>> 0).toString(16) + " " + e.description);
    }
    WScript.Echo((passed || 0) + " passed, " + (failed || 0) + " failed");
}

// A new blob; with hex given, holding those bytes.
function newBlob(hex) {
    var b = new ActiveXObject("Valdergast.ZELBlob");
    if (hex !== undefined) b.Hex = hex;
    return b;
}

function textBlob(text) {
    var b = new ActiveXObject("Valdergast.ZELBlob");
    b.Text = text;
    return b;
}

function hex2(v) {
    return (v < 16 ? "0" : "") + v.toString(16);
}

// count bytes counting up from start (modulo 256), as hex.
function seq(start, count) {
    var s = "";
    for (var i = 0; i < count; i++) s += hex2((start + i) & 255);
    return s;
}

// The hex text h repeated count times.
function rep(h, count) {
    var s = "";
    for (var i = 0; i < count; i++) s += h;
    return s;
}

// The lines of a text file, without their line ends.  The whole text is read
// at once: Wine's TextStream can answer AtEndOfStream false at the very end of
// some files, and a ReadLine loop then runs past the end.
function readLines(path) {
    var fso = new ActiveXObject("Scripting.FileSystemObject");
    var file = fso.OpenTextFile(path, 1);
    var text = file.AtEndOfStream ? "" : file.ReadAll();
    file.Close();
    var lines = text.split(/\r?\n/);
    if (lines[lines.length - 1] === "") lines.pop();
    return lines;
}
