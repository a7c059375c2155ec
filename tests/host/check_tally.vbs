' The endings that tools/zelwine script --check tells apart.
Select Case WScript.Arguments(0)
  Case "pass": WScript.Echo "2 passed, 0 failed"
  Case "failed": WScript.Echo "1 passed, 1 failed"
  Case "error": WScript.Echo "1 passed, 0 failed" : zero = 0 : x = 1 / zero
  Case "silent": WScript.Echo "nothing counted"
  Case "helper": WScript.Echo "calling Helper" : Helper
End Select
