WScript.Echo "Quit without a number"
WScript.Quit
WScript.Echo "after Quit"
