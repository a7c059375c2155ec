// Quit is no exception a script could catch.
function leave() {
    try {
        WScript.Quit(7);
    } catch (e) {
        WScript.Echo("caught");
    } finally {
        WScript.Echo("finally");
    }
}
WScript.Echo("before Quit");
leave();
WScript.Echo("after Quit");
