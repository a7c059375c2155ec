WScript.Echo "text", 42, -1.5, True, False, Empty, Null
WScript.Echo
WScript.Echo "one value"
WScript.Echo CByte(200), CLng(-7), CCur(1.25), "  spaced  "
