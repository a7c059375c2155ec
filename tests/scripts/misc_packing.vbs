' Packing numbers and blobs into a blob and out again with the Misc object:
' InsertLongToBlob, ExtractLongFromBlob, InsertBlobToBlob, ExtractBlobFromBlob.
'
' Wine's cscript stops silently on an unhandled error, so every block prints
' its name first: the last name printed shows where a run stopped.
Option Explicit

' ok, same, section, Outcome, Tally, TryEncrypt, TryDecrypt and the blob helpers
' come from checks.vbs, which the test runner appends to this script.

Dim m
Set m = CreateObject("Valdergast.ZELCryptoMisc")

Function Hex8(v)
  Hex8 = LCase(Right("0000000" & Hex(v), 8))
End Function

' n bytes of a recognisable pattern, as hex.
Function Pattern(n, seed)
  Dim i, s
  s = ""
  For i = 0 To n - 1
    s = s & Hex2((seed + i * 37) Mod 256)
  Next
  Pattern = s
End Function

' The hex text h with the hex text piece inserted at byte position pos.
Function Spliced(h, pos, piece)
  Spliced = Left(h, 2 * pos) & piece & Mid(h, 2 * pos + 1)
End Function

' ---- calls that may fail: each returns "no error" or "number | source | description"

Function TryInsertLong(b, pos, v)
  On Error Resume Next
  m.InsertLongToBlob b, pos, v
  TryInsertLong = Outcome()
End Function

Function TryExtractLong(b, pos, ByRef v)
  On Error Resume Next
  v = m.ExtractLongFromBlob(b, pos)
  TryExtractLong = Outcome()
End Function

Function TryInsertBlob(b, pos, v)
  On Error Resume Next
  m.InsertBlobToBlob b, pos, v
  TryInsertBlob = Outcome()
End Function

Function TryExtractBlob(b, pos, ByRef v)
  On Error Resume Next
  Set v = m.ExtractBlobFromBlob(b, pos)
  TryExtractBlob = Outcome()
End Function

' What arrives in VBScript. E_INVALIDARG comes without an error record, so
' VBScript shows it as its own error 5.
Const kBadPosition = "5 | Microsoft VBScript runtime error | Invalid procedure call or argument"
Const kCorrupt = "80004005 | Valdergast.ZELCryptoMisc.2 | Crypto System: Data is corrupted - XBlob"
Const kNotABlob = "80004005 | Valdergast.ZELCryptoMisc.2 | Internal error: can't get source ZELBlob COM interface"
Const kTypeMismatch = "D | Microsoft VBScript runtime error | Type mismatch"
Const kOverflow = "6 | Microsoft VBScript runtime error | Overflow"

Dim b, c, d, v, i, n, k, pos, h, item, expected, cases, row

' ---------------------------------------------------------------- usage
section "packing a record and unpacking it"
Set b = CreateObject("Valdergast.ZELBlob")
Set item = NewBlob("")
item.Text = "alice"
m.InsertLongToBlob b, b.Length, 2                 ' version
m.InsertBlobToBlob b, b.Length, item              ' name
m.InsertLongToBlob b, b.Length, 1000              ' count
same b.Hex, "00000002" & "00000005616c696365" & "000003e8", "packed record"
same item.Text, "alice", "the packed blob is not changed"
same m.ExtractLongFromBlob(b, 0), 2, "version"
Set c = m.ExtractBlobFromBlob(b, 0)
same c.Text, "alice", "name"
same m.ExtractLongFromBlob(b, 0), 1000, "count"
same b.Length, 0, "everything taken out"

' ---------------------------------------------------------------- numbers
section "InsertLongToBlob and ExtractLongFromBlob"
Set b = CreateObject("Valdergast.ZELBlob")
m.InsertLongToBlob b, 0, &H01020304
same b.Hex, "01020304", "most significant byte first"
v = m.ExtractLongFromBlob(b, 0)
same v, 16909060, "number read back"
same VarType(v), vbLong, "a Long comes back"
same b.Length, 0, "extracting takes the bytes out"

' A table of values and their four bytes; negative numbers are two's complement.
cases = Array( _
  Array(0, "00000000"), Array(1, "00000001"), Array(255, "000000ff"), _
  Array(256, "00000100"), Array(65535, "0000ffff"), Array(2147483647, "7fffffff"), _
  Array(&H80000000, "80000000"), Array(-1, "ffffffff"), Array(-16909061, "fefdfcfb"), _
  Array(&HDEADBEEF, "deadbeef"))
For Each row In cases
  Set b = NewBlob("aabb")
  m.InsertLongToBlob b, 1, row(0)
  same b.Hex, "aa" & row(1) & "bb", "insert " & row(0) & " in the middle"
  v = m.ExtractLongFromBlob(b, 1)
  same v, row(0), "extract " & row(1)
  same b.Hex, "aabb", "blob back as before after " & row(1)
Next

Set b = NewBlob("0102")
m.InsertLongToBlob b, 2, 7
same b.Hex, "0102" & "00000007", "pos equal to the length appends"
m.InsertLongToBlob b, 0, 8
same b.Hex, "00000008" & "0102" & "00000007", "pos 0 prepends"
same m.ExtractLongFromBlob(b, 6), 7, "last four bytes"
same b.Hex, "000000080102", "last four bytes removed"
same m.ExtractLongFromBlob(b, 2), &H00080102, "four bytes from the middle"
same b.Hex, "0000", "middle bytes removed"

' Inserting into blobs of every length up to a few times the initial buffer
' size, at the start, middle and end, walks through the buffer's growth.
For n = 0 To 40
  h = Pattern(n, n)
  For Each pos In Array(0, n \ 2, n)
    Set b = NewBlob(h)
    m.InsertLongToBlob b, pos, &H0A0B0C0D
    same b.Hex, Spliced(h, pos, "0a0b0c0d"), "insert into " & n & " bytes at " & pos
    v = m.ExtractLongFromBlob(b, pos)
    ok v = &H0A0B0C0D And b.Hex = h, "round trip in " & n & " bytes at " & pos & ": got " & Hex(v) & ", " & b.Hex
  Next
Next

' ---------------------------------------------------------------- items
section "InsertBlobToBlob and ExtractBlobFromBlob"
Set b = CreateObject("Valdergast.ZELBlob")
Set item = NewBlob("414243")
m.InsertBlobToBlob b, 0, item
same b.Hex, "00000003414243", "item: four-byte length, then the bytes"
same item.Hex, "414243", "the inserted blob is not changed"
Set c = m.ExtractBlobFromBlob(b, 0)
same c.Hex, "414243", "item payload"
same b.Length, 0, "item removed"

Set b = CreateObject("Valdergast.ZELBlob")
m.InsertBlobToBlob b, 0, CreateObject("Valdergast.ZELBlob")
same b.Hex, "00000000", "an empty blob packs to a zero length"
Set c = m.ExtractBlobFromBlob(b, 0)
same c.Length, 0, "empty item back"
same b.Length, 0, "empty item removed"
' The empty result is a working blob.
m.InsertLongToBlob c, 0, 5
same c.Hex, "00000005", "insert into an extracted empty blob"

' Items are read from their length field alone: bytes around them stay.
Set b = NewBlob("aabb" & "00000002" & "4142" & "ccdd")
Set c = m.ExtractBlobFromBlob(b, 2)
same c.Hex, "4142", "item in the middle"
same b.Hex, "aabbccdd", "only the item is removed"
Set b = NewBlob("00000002414243")
Set c = m.ExtractBlobFromBlob(b, 0)
same c.Hex, "4142", "declared length shorter than what follows"
same b.Hex, "43", "the bytes after the item stay"

' Results are new blobs of their own.
Set b = NewBlob("00000001" & "11" & "00000001" & "11")
Set c = m.ExtractBlobFromBlob(b, 0)
Set d = m.ExtractBlobFromBlob(b, 0)
c.Hex = "ff"
same d.Hex, "11", "two results are two blobs"
same b.Length, 0, "both items removed"

' One blob as both target and item: the item is the blob as it was before.
For Each n In Array(0, 1, 3, 12, 16, 29)
  h = Pattern(n, 7)
  Set b = NewBlob(h)
  m.InsertBlobToBlob b, n \ 2, b
  same b.Hex, Spliced(h, n \ 2, Hex8(n) & h), "blob inserted into itself, " & n & " bytes"
  Set c = m.ExtractBlobFromBlob(b, n \ 2)
  ok c.Hex = h And b.Hex = h, "and taken out again, " & n & " bytes: got " & c.Hex & " and " & b.Hex
Next

' Items of several sizes into targets of several sizes: buffer growth again.
For Each n In Array(0, 5, 12, 15, 16, 28)
  For Each k In Array(0, 1, 3, 11, 12, 13, 16, 17, 31, 32, 33, 100)
    h = Pattern(n, 1)
    Set item = NewBlob(Pattern(k, 2))
    For Each pos In Array(0, n)
      Set b = NewBlob(h)
      m.InsertBlobToBlob b, pos, item
      expected = Spliced(h, pos, Hex8(k) & item.Hex)
      same b.Hex, expected, k & "-byte item into " & n & " bytes at " & pos
      Set c = m.ExtractBlobFromBlob(b, pos)
      ok c.Hex = item.Hex And b.Hex = h, "round trip of " & k & "-byte item in " & n & " bytes at " & pos & _
        ": got " & c.Hex & " and " & b.Hex
    Next
  Next
Next

' ---------------------------------------------------------------- errors
section "positions out of range"
cases = Array( _
  Array("", -1), Array("", 1), Array("010203", 4), Array("010203", -1), _
  Array("010203", &H80000000), Array("010203", 2147483647))
For Each row In cases
  Set b = NewBlob(row(0))
  same TryInsertLong(b, row(1), 1), kBadPosition, "InsertLongToBlob [" & row(0) & "] at " & row(1)
  same b.Hex, row(0), "unchanged after InsertLongToBlob at " & row(1)
  same TryExtractLong(b, row(1), v), kBadPosition, "ExtractLongFromBlob [" & row(0) & "] at " & row(1)
  same b.Hex, row(0), "unchanged after ExtractLongFromBlob at " & row(1)
  same TryInsertBlob(b, row(1), NewBlob("aa")), kBadPosition, "InsertBlobToBlob [" & row(0) & "] at " & row(1)
  same b.Hex, row(0), "unchanged after InsertBlobToBlob at " & row(1)
  Set c = Nothing
  same TryExtractBlob(b, row(1), c), kBadPosition, "ExtractBlobFromBlob [" & row(0) & "] at " & row(1)
  ok c Is Nothing, "no result blob after ExtractBlobFromBlob at " & row(1)
  same b.Hex, row(0), "unchanged after ExtractBlobFromBlob at " & row(1)
Next

section "fewer than four bytes for a number"
' Refused like a position out of range; the bytes stay where they are.
cases = Array(Array("", 0), Array("010203", 0), Array("01020304", 1), _
              Array("0102030405", 2), Array("01020304", 4))
For Each row In cases
  Set b = NewBlob(row(0))
  v = "untouched"
  same TryExtractLong(b, row(1), v), kBadPosition, "ExtractLongFromBlob [" & row(0) & "] at " & row(1)
  same v, "untouched", "no number after a refused extract at " & row(1)
  same b.Hex, row(0), "unchanged after a short extract at " & row(1)
Next

section "malformed items"
' Each: the blob's bytes and the position of an item that is not all there.
cases = Array( _
  Array("", 0), Array("000000", 0), Array("0000000141", 2), Array("00000000", 4), _
  Array("00000004414243", 0), Array("00000008414243", 0), Array("aa00000004414243", 1), _
  Array("ffffffff414243", 0), Array("fffffffc41424344", 0), Array("7fffffff41", 0), _
  Array("0000000341424300000003", 7))
For Each row In cases
  Set b = NewBlob(row(0))
  Set c = Nothing
  same TryExtractBlob(b, row(1), c), kCorrupt, "ExtractBlobFromBlob [" & row(0) & "] at " & row(1)
  ok c Is Nothing, "no result blob for [" & row(0) & "]"
  same b.Hex, row(0), "unchanged after a malformed item [" & row(0) & "]"
Next
' Once the malformed tail is gone, the items before it still come out.
Set b = NewBlob("00000003414243" & "00000003")
Set c = m.ExtractBlobFromBlob(b, 0)
same c.Text, "ABC", "good item before a malformed one"
same b.Hex, "00000003", "the malformed rest stays"

section "arguments that are not blobs"
Dim notBlobs, names, nb
Set notBlobs = CreateObject("Scripting.Dictionary")
notBlobs.Add "Nothing", Nothing
notBlobs.Add "a Dictionary", CreateObject("Scripting.Dictionary")
notBlobs.Add "the Misc object", m
For Each names In notBlobs.Keys
  Set nb = notBlobs(names)
  same TryInsertLong(nb, 0, 1), kNotABlob, "InsertLongToBlob on " & names
  same TryExtractLong(nb, 0, v), kNotABlob, "ExtractLongFromBlob on " & names
  same TryInsertBlob(nb, 0, NewBlob("aa")), kNotABlob, "InsertBlobToBlob into " & names
  Set c = Nothing
  same TryExtractBlob(nb, 0, c), kNotABlob, "ExtractBlobFromBlob from " & names
  ok c Is Nothing, "no result blob from " & names
  ' A bad item leaves the target alone, whatever the position.
  Set b = NewBlob("0102")
  same TryInsertBlob(b, 0, nb), kNotABlob, "InsertBlobToBlob of " & names
  same TryInsertBlob(b, 9, nb), kNotABlob, "InsertBlobToBlob of " & names & " at a bad position"
  same b.Hex, "0102", "target unchanged after inserting " & names
Next

' Values that are not objects at all are turned away by the script engine
' before the method runs.
Dim uninitialised
Set b = NewBlob("0102")
same TryInsertLong(uninitialised, 0, 1), kTypeMismatch, "InsertLongToBlob on an Empty variable"
same TryInsertLong("0102", 0, 1), kTypeMismatch, "InsertLongToBlob on a string"
same TryInsertBlob(b, 0, 42), kTypeMismatch, "InsertBlobToBlob of a number"
same b.Hex, "0102", "unchanged after a type mismatch"

section "numbers beyond 32 bits"
Set b = NewBlob("0102")
same TryInsertLong(b, 0, 4294967295), kOverflow, "val 2^32 - 1 (pass -1 instead)"
same TryInsertLong(b, 2147483648, 0), kOverflow, "pos 2^31"
same b.Hex, "0102", "unchanged after an overflow"

Tally
