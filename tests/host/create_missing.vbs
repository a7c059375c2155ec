WScript.Echo "trying"
Set o = WScript.CreateObject("Valdergast.NoSuchClass")
WScript.Echo "not reached"
