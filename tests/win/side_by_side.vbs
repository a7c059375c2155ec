' Creates an object of each of the eight classes and has it work on blobs made
' in this process.  That succeeds only when the classes are served in-process
' by DLLs of this process's bitness (a blob's buffer interface cannot cross
' processes).  One line per class:
'   in-process <ProgID>
'   unavailable <ProgID>: <Err.Number> <Err.Description>
' and first a line "arch <PROCESSOR_ARCHITECTURE>" naming this process's bitness.
Option Explicit

WScript.Echo "arch " & CreateObject("WScript.Shell").Environment("Process")("PROCESSOR_ARCHITECTURE")

Function NewBlob(hexText)
  Set NewBlob = CreateObject("Valdergast.ZELBlob")
  NewBlob.Hex = hexText
End Function

Const plain = "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f"
Const keyMaterial = "1112131415161718191a1b1c1d1e1f202122232425262728292a2b2c2d2e2f30313233"

' What the class's object does with blobs; "" when it did what was expected.
Function Exercise(name)
  Dim progId, o, p, enc, dec, c, d, message
  progId = "Valdergast.ZELCrypto" & name
  Exercise = "wrong result"
  Select Case name
    Case "Misc"
      Set o = CreateObject(progId & ".2")
      If o.MD5(NewBlob("616263")).Hex = "900150983cd24fb0d6963f7d28e17f72" Then Exercise = ""
    Case "RSA"
      ' SetIV reads its blob and refuses anything that is not one of ours.
      Set o = CreateObject(progId & ".2")
      o.SetIV NewBlob("0102030405")
      Exercise = ""
    Case "PGP"
      Set o = CreateObject(progId & ".2")
      o.Init 2, 9, 3, 96
      Set o.Password = NewBlob("736563726574")
      Set message = o.Encrypt(NewBlob(plain))
      If o.Decrypt(o.Dearmor(o.Enarmor(message))).Hex = plain Then Exercise = ""
    Case Else
      ' Encrypted by one object, decrypted by a fresh one with the same key.
      Set enc = CreateObject(progId)
      Set dec = CreateObject(progId & ".2")
      enc.Keygen NewBlob(keyMaterial), 32
      dec.Keygen NewBlob(keyMaterial), 32
      c = enc.Encrypt(NewBlob(plain)).Hex
      d = dec.Decrypt(NewBlob(c)).Hex
      If c <> plain And Left(d, Len(plain)) = plain Then Exercise = ""
  End Select
End Function

Dim name, outcome
For Each name In Array("Misc", "RSA", "AES", "Twofish", "Blowfish", "Cast", "TripleDES", "PGP")
  On Error Resume Next
  Err.Clear
  outcome = Exercise(name)
  If Err.Number <> 0 Then outcome = Err.Number & " " & Err.Description
  On Error GoTo 0
  If outcome = "" Then
    WScript.Echo "in-process Valdergast.ZELCrypto" & name
  Else
    WScript.Echo "unavailable Valdergast.ZELCrypto" & name & ": " & outcome
  End If
Next
WScript.Echo "done"
