Set args = WScript.Arguments
WScript.Echo "Count", args.Count, "Length", args.Length
For i = 0 To args.Count - 1
  WScript.Echo i, "[" & args(i) & "]", "[" & args.Item(i) & "]"
Next
For Each a In args
  WScript.Echo "each [" & a & "]"
Next
WScript.Echo "second [" & WScript.Arguments(1) & "]"
WScript.Echo WScript.ScriptName
WScript.Echo WScript.ScriptFullName
