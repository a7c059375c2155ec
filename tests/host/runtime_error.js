// A name that is not defined, on line 4.
WScript.Echo("before the error");
var count = 1;
WScript.Echo(nosuch + count);
WScript.Echo("not reached");
