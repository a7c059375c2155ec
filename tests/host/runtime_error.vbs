' Output before the error stays; nothing after it runs.
WScript.Echo "before the error"
zero = 0
x = 1 / zero
WScript.Echo "not reached"
