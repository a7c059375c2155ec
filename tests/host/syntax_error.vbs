' A syntax error stops the script before any of it runs.
WScript.Echo "compiled first"
x = (1 +
WScript.Echo "never"
