' The blob's views of its bytes: Hex, Base64, Text, Bytes, Utf8 and Base64Url,
' plus Length, Clear, Append, Slice and Equals, as a VBScript author uses them.
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
    Case "Utf8": b.Utf8 = value
    Case "Base64Url": b.Base64Url = value
  End Select
  TrySet = Outcome()
End Function

' ---- members that may fail, the same way

Function TryUtf8(b, ByRef text)
  On Error Resume Next
  text = b.Utf8
  TryUtf8 = Outcome()
End Function

Function TryAppend(b, other)
  On Error Resume Next
  b.Append other
  TryAppend = Outcome()
End Function

Function TrySlice(b, start, length, ByRef result)
  On Error Resume Next
  Set result = b.Slice(start, length)
  TrySlice = Outcome()
End Function

Function TryEquals(b, other, ByRef result)
  On Error Resume Next
  result = b.Equals(other)
  TryEquals = Outcome()
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

section "Utf8"
' Wine's VBScript has no ChrW: the texts come from their UTF-8 bytes, and go
' back to bytes through another blob.  Len counts UTF-16 characters, so a
' character beyond U+FFFF counts twice.
cases = Array( _
  Array("Russian", "d09fd180d0b8d0b2d0b5d182", 6), _
  Array("Japanese", "e697a5e69cace8aa9e", 3), _
  Array("emoji U+1F600", "f09f9880", 2), _
  Array("accents and euro", "636166c3a920e282ac", 6), _
  Array("empty", "", 0))
For Each row In cases
  Set b = NewBlob(row(1))
  s = b.Utf8
  same Len(s), row(2), "Len of the " & row(0) & " text"
  Set c = NewBlob("ff")
  c.Utf8 = s
  same c.Hex, row(1), row(0) & " back to UTF-8"
Next
Set b = EmptyBlob()
b.Utf8 = "Hello"
same b.Hex, "48656c6c6f", "ASCII text is one byte a character"
same b.Utf8, "Hello", "and reads back"
b.Utf8 = "caf" & Chr(233)
same b.Hex, "636166c3a9", "a character of the ANSI code page takes two bytes"
same b.Utf8, "caf" & Chr(233), "and reads back"

cases = Array( _
  Array("48656c6c6f80", "Invalid UTF-8 at byte 5"), _
  Array("c0af", "Invalid UTF-8 at byte 0"), _
  Array("41eda080", "Invalid UTF-8 at byte 1"), _
  Array("f4908080", "Invalid UTF-8 at byte 0"), _
  Array("6162e282", "Invalid UTF-8 at byte 2"))
For Each row In cases
  Set b = NewBlob(row(0))
  s = "before"
  same TryUtf8(b, s), Refused(row(1)), "Utf8 of " & row(0)
  same s, "before", "no text after Utf8 of " & row(0)
Next

' Half of a surrogate pair, cut out of a text with Mid.
Set b = NewBlob("f09f9880")
s = b.Utf8
Set c = NewBlob("cafe")
same TrySet(c, "Utf8", Mid(s, 1, 1)), Refused("Invalid UTF-16 at character 1"), "Utf8 = a lone high surrogate"
same TrySet(c, "Utf8", "ab" & Mid(s, 2, 1)), Refused("Invalid UTF-16 at character 3"), "Utf8 = a lone low surrogate"
same c.Hex, "cafe", "unchanged after the refusals"

section "Base64Url"
cases = Array(Array("", ""), Array("f", "Zg"), Array("fo", "Zm8"), Array("foo", "Zm9v"), _
              Array("foob", "Zm9vYg"), Array("fooba", "Zm9vYmE"), Array("foobar", "Zm9vYmFy"))
For Each row In cases
  Set b = TextBlob(row(0))
  same b.Base64Url, row(1), "Base64Url of """ & row(0) & """"
  Set c = NewBlob("ff")
  c.Base64Url = row(1)
  same c.Text, row(0), "decoded """ & row(1) & """"
Next
Set b = NewBlob("fbff")
same b.Base64Url, "-_8", "- and _ where base64 has + and /"
same b.Base64, "+/8=", "the same bytes in base64"
b.Base64Url = "-_8="
same b.Hex, "fbff", "padding may be given"
b.Hex = all
s = b.Base64Url
same Len(s), 342, "256 bytes, no padding"
Set c = EmptyBlob()
c.Base64Url = s
same c.Hex, all, "all 256 byte values back"

cases = Array( _
  Array("+/8", "Base64Url text has a character outside the base64url alphabet at position 1"), _
  Array("Zm9v Yg", "Base64Url text has a character outside the base64url alphabet at position 5"), _
  Array("Zm9v" & vbCrLf & "Yg", "Base64Url text has a character outside the base64url alphabet at position 5"), _
  Array("Zm9vY", "Base64Url text ends with a single digit in its last group"), _
  Array("Zg=", "Base64Url text has incomplete '=' padding"), _
  Array("Zm8==", "Base64Url text has a misplaced '=' at position 5"), _
  Array("Zg==Zg", "Base64Url text goes on after its '=' padding at position 5"))
For i = 0 To UBound(cases)
  b.Hex = "cafe"
  same TrySet(b, "Base64Url", cases(i)(0)), Refused(cases(i)(1)), "Base64Url refusal " & i
  same b.Hex, "cafe", "unchanged after Base64Url refusal " & i
Next

section "Append"
Set b = NewBlob("0102")
Set c = NewBlob("0304")
b.Append c
same b.Hex, "01020304", "the other blob's bytes at the end"
same c.Hex, "0304", "the other blob keeps its bytes"
b.Append b
same b.Hex, "0102030401020304", "a blob appended to itself doubles"
b.Append EmptyBlob()
same b.Length, 8, "an empty blob adds nothing"
Dim dict
Set dict = CreateObject("Scripting.Dictionary")
b.Hex = "cafe"
same TryAppend(b, Nothing), Refused("Append takes a blob"), "Append Nothing"
same TryAppend(b, dict), Refused("Append takes a blob"), "Append another object"
same b.Hex, "cafe", "unchanged after the refusals"

section "Slice"
Dim part
Set b = NewBlob("0102030405")
Set part = b.Slice(1, 3)
same part.Hex, "020304", "three bytes from position 1"
same b.Hex, "0102030405", "the blob itself is unchanged"
part.Hex = "ff"
same b.Hex, "0102030405", "the slice is a blob of its own"
same b.Slice(0, b.Length).Hex, "0102030405", "the whole blob"
same b.Slice(b.Length, 0).Length, 0, "nothing from the end"
same b.Slice(4, 1).Utf8, Chr(5), "a slice is a blob like any other"
cases = Array( _
  Array(-1, 1, "Slice takes a start and a length of 0 or more"), _
  Array(0, -1, "Slice takes a start and a length of 0 or more"), _
  Array(0, 6, "Slice goes past the end of the blob's 5 bytes"), _
  Array(5, 1, "Slice goes past the end of the blob's 5 bytes"), _
  Array(3, 3, "Slice goes past the end of the blob's 5 bytes"))
For Each row In cases
  Set part = Nothing
  same TrySlice(b, row(0), row(1), part), Refused(row(2)), "Slice(" & row(0) & ", " & row(1) & ")"
  ok part Is Nothing, "no slice from Slice(" & row(0) & ", " & row(1) & ")"
Next

section "Equals"
Set b = NewBlob("0102030405")
ok b.Equals(NewBlob("0102030405")), "the same bytes"
ok Not b.Equals(NewBlob("0102030406")), "the last byte differs"
ok Not b.Equals(NewBlob("ff02030405")), "the first byte differs"
ok Not b.Equals(NewBlob("01020304")), "shorter"
ok Not b.Equals(NewBlob("010203040506")), "longer"
ok b.Equals(b), "itself"
ok EmptyBlob().Equals(EmptyBlob()), "two empty blobs"
same VarType(b.Equals(b)), vbBoolean, "a Boolean"
same b.Equals(b), True, "True itself"
Dim answer
answer = "none"
same TryEquals(b, Nothing, answer), Refused("Equals takes a blob"), "Equals Nothing"
same TryEquals(b, dict, answer), Refused("Equals takes a blob"), "Equals another object"
same answer, "none", "no answer from a refusal"

Tally
