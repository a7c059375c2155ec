' The blob's views of its bytes: Hex, Base64, Text and Bytes, plus Length and
' Clear, as a VBScript author uses them.
'
' Wine's cscript stops silently on an unhandled error, so every block prints
' its name first: the last name printed shows where a run stopped.
Option Explicit

' ok, same, section, Outcome, Tally, TryEncrypt, TryDecrypt and the blob helpers
' come from checks.vbs, which the test runner appends to this script.

Function EmptyBlob()
  Set EmptyBlob = CreateObject("Valdergast.ZELBlob")
End Function

' ---- property writes that may fail: each returns "no error" or "number | source | description"

Function TrySet(b, prop, value)
  On Error Resume Next
  Select Case prop
    Case "Hex": b.Hex = value
    Case "Base64": b.Base64 = value
    Case "Text": b.Text = value
    Case "Bytes": b.Bytes = value
    Case "Length": b.Length = value
  End Select
  TrySet = Outcome()
End Function

Function Refused(description)
  Refused = "80070057 | Valdergast.ZELBlob.2 | " & description
End Function

Dim b, c, all, i, row, cases, s, bytes, twoD(1, 1)

' Every byte value once, in order.
all = ""
For i = 0 To 255
  all = all & Hex2(i)
Next

section "a new blob"
Set b = EmptyBlob()
same b.Length, 0, "Length"
same b.Hex, "", "Hex"
same b.Base64, "", "Base64"
same b.Text, "", "Text"
same VarType(b.Bytes), vbArray + vbByte, "Bytes is an array of bytes"
Set c = EmptyBlob()
c.Hex = "01"
c.Bytes = b.Bytes
same c.Length, 0, "its empty Bytes array empties another blob"

section "Hex"
Set b = EmptyBlob()
b.Hex = "DEADbeef"
same b.Hex, "deadbeef", "either case in, lower case out"
same b.Length, 4, "four bytes"
b.Hex = " de ad" & vbTab & "BE" & vbCrLf & "ef " & vbLf
same b.Hex, "deadbeef", "blanks and line breaks are skipped"
b.Hex = "d eadbee f"
same b.Hex, "deadbeef", "a blank may split a byte"
b.Hex = all
same b.Hex, all, "all 256 byte values"
same b.Length, 256, "256 bytes"
b.Hex = ""
same b.Length, 0, "empty text, no bytes"

cases = Array( _
  Array("abc", "Hex text has an odd number of digits"), _
  Array("12 3", "Hex text has an odd number of digits"), _
  Array("0g", "Hex text has a character that is not a hex digit at position 2"), _
  Array("0x12", "Hex text has a character that is not a hex digit at position 2"), _
  Array("00 0g", "Hex text has a character that is not a hex digit at position 5"), _
  Array("12-34", "Hex text has a character that is not a hex digit at position 3"))
For Each row In cases
  b.Hex = "cafe"
  same TrySet(b, "Hex", row(0)), Refused(row(1)), "Hex = """ & row(0) & """"
  same b.Hex, "cafe", "unchanged after Hex = """ & row(0) & """"
Next

section "Base64"
' The test vectors of the base64 standard, both ways.
cases = Array(Array("", ""), Array("f", "Zg=="), Array("fo", "Zm8="), Array("foo", "Zm9v"), _
              Array("foob", "Zm9vYg=="), Array("fooba", "Zm9vYmE="), Array("foobar", "Zm9vYmFy"))
For Each row In cases
  Set b = EmptyBlob()
  b.Text = row(0)
  same b.Base64, row(1), "Base64 of """ & row(0) & """"
  Set c = EmptyBlob()
  c.Hex = "ff"
  c.Base64 = row(1)
  same c.Text, row(0), "decoded """ & row(1) & """"
Next

Set b = EmptyBlob()
b.Hex = all
s = b.Base64
same Len(s), 344, "256 bytes in base64"
ok InStr(s, vbCr) = 0 And InStr(s, vbLf) = 0, "Base64 is one line: " & s
same Right(s, 8), "/P3+/w==", "the last groups: fc fd fe, then ff alone"
' The same text broken into lines as mail and PEM files do it.
Dim wrapped, wrappedLf
wrapped = ""
wrappedLf = ""
For i = 1 To Len(s) Step 76
  wrapped = wrapped & Mid(s, i, 76) & vbCrLf
  wrappedLf = wrappedLf & Mid(s, i, 76) & vbLf
Next
Set c = EmptyBlob()
c.Base64 = wrapped
same c.Hex, all, "base64 with CR LF line breaks"
c.Clear
c.Base64 = wrappedLf
same c.Hex, all, "base64 with LF line breaks"

cases = Array( _
  Array("A", "Base64 text ends with a single digit in its last group"), _
  Array("AQIDB", "Base64 text ends with a single digit in its last group"), _
  Array("A*==", "Base64 text has a character outside the base64 alphabet at position 2"), _
  Array("ab-_", "Base64 text has a character outside the base64 alphabet at position 3"), _
  Array("=AAA", "Base64 text has a misplaced '=' at position 1"), _
  Array("AQ==x", "Base64 text goes on after its '=' padding at position 5"), _
  Array("AQ==AQ==", "Base64 text goes on after its '=' padding at position 5"), _
  Array("AQ=", "Base64 text has incomplete '=' padding"))
For Each row In cases
  b.Hex = "cafe"
  same TrySet(b, "Base64", row(0)), Refused(row(1)), "Base64 = """ & row(0) & """"
  same b.Hex, "cafe", "unchanged after Base64 = """ & row(0) & """"
Next

section "Text"
Set b = EmptyBlob()
b.Text = "Hello, world"
same b.Hex, "48656c6c6f2c20776f726c64", "one byte per character"
b.Text = "caf" & Chr(233)
same b.Hex, "636166e9", "a character of the ANSI code page"
same b.Text, "caf" & Chr(233), "and back"
b.Text = "a" & Chr(0) & "b"
same b.Hex, "610062", "a NUL character is kept"
same Len(b.Text), 3, "and read back"
b.Hex = "48690d0a"
same b.Text, "Hi" & vbCrLf, "Text of bytes put in as hex"
s = ""
For i = 32 To 126
  s = s & Chr(i)
Next
b.Text = s
Set c = EmptyBlob()
c.Hex = b.Hex
same c.Text, s, "printable ASCII through hex and back"
b.Text = ""
same b.Length, 0, "empty text, no bytes"

section "Bytes"
Set b = EmptyBlob()
b.Bytes = Array(72, 105)
same b.Text, "Hi", "an array of numbers"
b.Bytes = Array(0, 255, 16)
same b.Hex, "00ff10", "the ends of the byte range"
b.Bytes = Array()
same b.Length, 0, "an empty array"
b.Hex = "01"
b.Bytes = Null
same b.Length, 0, "Null, as a stream gives at its end"
b.Hex = "01"
b.Bytes = Empty
same b.Length, 0, "Empty"

' An array of bytes (VT_ARRAY | VT_UI1), as streams and other components
' hand them out: here the Bytes of another blob.
b.Hex = all
bytes = b.Bytes
same VarType(bytes), vbArray + vbByte, "Bytes gives an array of bytes"
Set c = EmptyBlob()
c.Bytes = bytes
same c.Hex, all, "an array of bytes put into another blob"
b.Clear
same c.Hex, all, "the copy keeps its bytes when the first blob is cleared"
Set c = EmptyBlob()
c.Bytes = bytes
same c.Hex, all, "the array keeps its bytes too"
b.Bytes = c.Bytes
same b.Hex, all, "straight from one blob to another"

cases = Array( _
  Array(Array(256), "Bytes takes numbers from 0 to 255 only, found another value at index 0"), _
  Array(Array(1, -1), "Bytes takes numbers from 0 to 255 only, found another value at index 1"), _
  Array(Array(1, 2, "x"), "Bytes takes numbers from 0 to 255 only, found another value at index 2"), _
  Array(Array(1, Null), "Bytes takes numbers from 0 to 255 only, found another value at index 1"), _
  Array("abc", "Bytes takes a one-dimensional array of bytes"), _
  Array(65, "Bytes takes a one-dimensional array of bytes"), _
  Array(twoD, "Bytes takes a one-dimensional array of bytes"))
For i = 0 To UBound(cases)
  b.Hex = "cafe"
  same TrySet(b, "Bytes", cases(i)(0)), Refused(cases(i)(1)), "Bytes refusal " & i
  same b.Hex, "cafe", "unchanged after Bytes refusal " & i
Next

section "Length and Clear"
Set b = EmptyBlob()
b.Hex = "010203"
same TrySet(b, "Length", 1), "1B6 | Microsoft VBScript runtime error | Object doesn't support this property or method", _
  "Length is read-only"
same b.Hex, "010203", "unchanged after setting Length"
b.Clear
same b.Length, 0, "Clear"
same b.Hex, "", "nothing left"
b.Hex = "0405"
same b.Hex, "0405", "a cleared blob is used again"

Tally
