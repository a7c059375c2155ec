var args = WScript.Arguments;
WScript.Echo("length", args.length, "Count", args.Count());
for (var i = 0; i < args.length; i++)
    WScript.Echo(i, "[" + args(i) + "]", "[" + args.Item(i) + "]");
for (var e = new Enumerator(args); !e.atEnd(); e.moveNext())
    WScript.Echo("each [" + e.item() + "]");
WScript.Echo(WScript.ScriptName);
