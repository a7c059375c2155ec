WScript.StdOut.Write "out "
WScript.StdOut.WriteLine "line"
WScript.StdErr.WriteLine "to the error stream"
WScript.StdOut.WriteBlankLines 2
WScript.Echo "end"
WScript.StdErr.Write "no line end"
