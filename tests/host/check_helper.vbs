' Appended after check_tally.vbs by --append.

Sub Helper
  zero = 0
  WScript.Echo 1 / zero
End Sub
