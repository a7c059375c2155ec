' An error raised inside a procedure: reported where it was raised, with
' the source and description the script gave it.
Sub Fail(what)
  Err.Raise vbObjectError + 5, "Fixture.Source", what
End Sub
WScript.Echo "calling Fail"
Fail "raised on purpose"
