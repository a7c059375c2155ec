WScript.Echo("text", 42, -1.5, true, null, undefined, "end");
WScript.Echo();
WScript.Echo("one value");
