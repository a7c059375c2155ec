' Quit ends the script at once with its exit status, even under
' On Error Resume Next.
On Error Resume Next
WScript.Echo "before Quit"
WScript.Quit 3
WScript.Echo "after Quit"
