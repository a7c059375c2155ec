' What a call into the server costs from the script host, beside a call on the
' script runtime's own dictionary in the same kind of loop.  Each figure is
' microseconds per call net of an empty loop, the best of three runs of a loop
' long enough to take half a second; ratios are to Dictionary.Exists.
'   tools/zelwine win64 script tests/win/com_bench.vbs
Option Explicit

Dim dict, misc, small, aes, kilo, i

Set dict = CreateObject("Scripting.Dictionary")
dict.Add "key", 1
Set misc = CreateObject("Valdergast.ZELCryptoMisc.2")
Set small = CreateObject("Valdergast.ZELBlob.2")
small.Hex = "01020304"
Set aes = CreateObject("Valdergast.ZELCryptoAES.2")
Dim material : Set material = CreateObject("Valdergast.ZELBlob.2")
material.Hex = "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f"
aes.Keygen material, 32
aes.Mode = 2
Set kilo = CreateObject("Valdergast.ZELBlob.2")
Dim hex1k : hex1k = ""
For i = 1 To 64 : hex1k = hex1k & "00112233445566778899aabbccddeeff" : Next
kilo.Hex = hex1k

Function LoopEmpty(n)
  Dim k
  For k = 1 To n : Next
End Function

Function LoopExists(n)
  Dim k, r
  For k = 1 To n : r = dict.Exists("abcd") : Next
End Function

Function LoopCRC32(n)
  Dim k, r
  For k = 1 To n : r = misc.CRC32(small) : Next
End Function

Function LoopSHA1(n)
  Dim k, r
  For k = 1 To n : Set r = misc.SHA1(small) : Next
End Function

Function LoopAes1K(n)
  Dim k, r
  For k = 1 To n : Set r = aes.Encrypt(kilo) : Next
End Function

Function RunLoop(name, n)
  Select Case name
    Case "LoopEmpty" : LoopEmpty n
    Case "LoopExists" : LoopExists n
    Case "LoopCRC32" : LoopCRC32 n
    Case "LoopSHA1" : LoopSHA1 n
    Case "LoopAes1K" : LoopAes1K n
  End Select
End Function

' Seconds per iteration of the named loop.
Function PerCall(name)
  Dim n, t, elapsed, best, run
  n = 100
  Do
    t = Timer : RunLoop name, n : elapsed = Timer - t
    If elapsed >= 0.5 Then Exit Do
    n = n * 2
  Loop
  best = elapsed
  For run = 1 To 2
    t = Timer : RunLoop name, n : elapsed = Timer - t
    If elapsed < best Then best = elapsed
  Next
  PerCall = best / n
End Function

Dim empty0, exists0
empty0 = PerCall("LoopEmpty")
exists0 = PerCall("LoopExists") - empty0

Sub Report(label, loopName)
  Dim us
  us = PerCall(loopName) - empty0
  WScript.Echo label & ": " & FormatNumber(us * 1e6, 3) & " us, " & FormatNumber(us / exists0, 2) & "x Dictionary.Exists"
End Sub

WScript.Echo "Dictionary.Exists: " & FormatNumber(exists0 * 1e6, 3) & " us"
Report "misc.CRC32 4 B", "LoopCRC32"
Report "misc.SHA1 4 B", "LoopSHA1"
Report "aes.Encrypt 1 KiB", "LoopAes1K"
