' Checking a webhook's signature: the sender signs the request body with
' HMAC-SHA256 under a shared secret and sends "sha256=<hex>" in a header; the
' receiver computes the same HMAC over the body it got and compares.
'
'   zelhost examples\hmac_webhook.vbs     (or cscript //nologo examples\hmac_webhook.vbs)
'
' In a server-side page the body comes from Request.BinaryRead and the header
' from Request.ServerVariables("HTTP_X_SIGNATURE").
Option Explicit

Dim hash, secret, body, header, expected, mac

Set hash = CreateObject("Valdergast.ZELCryptoHash")
hash.Algorithm = "SHA256"

Set secret = CreateObject("Valdergast.ZELBlob")
secret.Text = "whsec_demo_4f2a9c"

Set body = CreateObject("Valdergast.ZELBlob")
body.Text = "{""event"":""order.paid"",""id"":""ord_1029"",""amount"":4200}"
header = "sha256=117c744cceed80f02757b688f9c19fa51d4a4651434769d1b4b24b0b70fe7b1f"

Function SignatureValid(body, header)
  SignatureValid = False
  If Left(header, 7) <> "sha256=" Then Exit Function
  Dim expected, mac
  Set expected = CreateObject("Valdergast.ZELBlob")
  On Error Resume Next
  expected.Hex = Mid(header, 8)          ' a malformed header is refused here
  If Err.Number <> 0 Then Exit Function
  On Error GoTo 0
  Set mac = hash.Hmac(secret, body)
  ' Equals compares in time that does not depend on where the bytes differ,
  ' so an attacker cannot find the right MAC byte by byte.
  SignatureValid = mac.Equals(expected)
End Function

WScript.Echo "HMAC-SHA256 = " & hash.Hmac(secret, body).Hex
WScript.Echo "signature valid: " & SignatureValid(body, header)

' One changed byte in the body, and the signature no longer fits.
Dim forged
Set forged = CreateObject("Valdergast.ZELBlob")
forged.Text = Replace(body.Text, "4200", "9900")
WScript.Echo "forged body accepted: " & SignatureValid(forged, header)
WScript.Echo "malformed header accepted: " & SignatureValid(body, "sha256=zz")
