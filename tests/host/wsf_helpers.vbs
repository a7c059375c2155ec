' Procedures for wsf_errors.wsf's "src" job.
Function Describe(what)
  Describe = "described " & what
End Function

Sub Explode
  Err.Raise 9, "Fixture.Helper", "exploded in the helper"
End Sub
