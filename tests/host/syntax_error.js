// A syntax error stops the script before any of it runs.
WScript.Echo("compiled first");
function broken( {
}
