WScript.StdErr.WriteLine("error line");
WScript.StdOut.WriteLine("output line");
WScript.StdOut.Write("no line end");
