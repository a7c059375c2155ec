' The checks every VBScript test shares.  The test runner appends this file to
' each script (tools/zelwine script --append): VBScript declares procedures and
' global variables before it runs a script, so the script's code can use them.
'
'   ok cond, message          counts a check; prints message when cond is false
'   same actual, expected, what
'   section name              prints the block's name (Wine's cscript stops
'                             silently on an unhandled error: the last name
'                             printed shows where a run stopped)
'   Outcome()                 "no error", or "number | source | description" of
'                             Err, which it clears
'   Tally                     the closing "N passed, M failed" line

Dim passed, failed

Sub ok(cond, message)
  If cond Then
    passed = passed + 1
  Else
    failed = failed + 1
    WScript.Echo "FAIL: " & message
  End If
End Sub

Sub same(actual, expected, what)
  ok actual = expected, what & ": got [" & actual & "], expected [" & expected & "]"
End Sub

Sub section(name)
  WScript.Echo "-- " & name
End Sub

Function Outcome()
  If Err.Number = 0 Then
    Outcome = "no error"
  Else
    Outcome = Hex(Err.Number) & " | " & Err.Source & " | " & Err.Description
  End If
  Err.Clear
End Function

' The counters start out Empty, which counts as 0.
Sub Tally()
  WScript.Echo CStr(passed + 0) & " passed, " & CStr(failed + 0) & " failed"
End Sub

Function TryEncrypt(o, src, ByRef result)
  On Error Resume Next
  Set result = o.Encrypt(src)
  TryEncrypt = Outcome()
End Function

Function TryDecrypt(o, src, ByRef result)
  On Error Resume Next
  Set result = o.Decrypt(src)
  TryDecrypt = Outcome()
End Function

' ---- blobs and bytes as hex

Function NewBlob(hexText)
  Set NewBlob = CreateObject("Valdergast.ZELBlob")
  NewBlob.Hex = hexText
End Function

Function TextBlob(text)
  Set TextBlob = CreateObject("Valdergast.ZELBlob")
  TextBlob.Text = text
End Function

Function Hex2(v)
  Hex2 = LCase(Right("0" & Hex(v), 2))
End Function

' count bytes counting up from start (modulo 256), as hex.
Function Seq(start, count)
  Dim i, s
  s = ""
  For i = 0 To count - 1
    s = s & Hex2((start + i) Mod 256)
  Next
  Seq = s
End Function

' The hex byte h repeated count times.
Function Rep(h, count)
  Rep = Replace(String(count, "x"), "x", h)
End Function
