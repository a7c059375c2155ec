' JSON Web Tokens signed and checked from a script: RS256 (RSASSA-PKCS1-v1_5
' with SHA-256 under an RSA key) and HS256 (HMAC-SHA256 under a shared
' secret).  A token is base64url(header) "." base64url(payload) "."
' base64url(signature), the signature taken over the first two parts.
'
'   zelhost examples\jwt.vbs     (or cscript //nologo examples\jwt.vbs)
'
' The RS256 key is made fresh here; a real issuer loads its key once with
' rsa.ImportPem (a file written by openssl genpkey) and hands out the public
' key (ExportPublicPem) to whoever checks its tokens.  PS256 is the same with
' SignPss and VerifyPss.
Option Explicit

Dim rsa, hash, header, payload, token, secret

' base64url of a text's UTF-8 bytes.
Function Part(text)
  Dim b
  Set b = CreateObject("Valdergast.ZELBlob")
  b.Utf8 = text
  Part = b.Base64Url
End Function

Function Utf8Blob(text)
  Set Utf8Blob = CreateObject("Valdergast.ZELBlob")
  Utf8Blob.Utf8 = text
End Function

' The token's signature part as a blob (Nothing when it is not base64url).
Function SignatureOf(token)
  Dim b
  Set SignatureOf = Nothing
  Set b = CreateObject("Valdergast.ZELBlob")
  On Error Resume Next
  b.Base64Url = Mid(token, InStrRev(token, ".") + 1)
  If Err.Number = 0 Then Set SignatureOf = b
End Function

Function SigningInput(token)
  SigningInput = Left(token, InStrRev(token, ".") - 1)
End Function

' ---- RS256
Set rsa = CreateObject("Valdergast.ZELCryptoRSA")
rsa.Generate 2048
header = Part("{""alg"":""RS256"",""typ"":""JWT""}")
payload = Part("{""sub"":""user-1029"",""name"":""Ana Lima"",""iat"":1765400000}")
token = header & "." & payload & "." & rsa.SignPkcs1(Utf8Blob(header & "." & payload), "SHA256").Base64Url
WScript.Echo "RS256 token: " & token
WScript.Echo "RS256 public key:"
WScript.Echo rsa.ExportPublicPem()

' Whoever holds only the public key checks the token.
Function Rs256Valid(pem, token)
  Dim checker, signature
  Set checker = CreateObject("Valdergast.ZELCryptoRSA")
  checker.ImportPem pem
  Set signature = SignatureOf(token)
  Rs256Valid = 0
  If Not signature Is Nothing Then Rs256Valid = checker.VerifyPkcs1(Utf8Blob(SigningInput(token)), signature, "SHA256")
End Function

WScript.Echo "RS256 valid: " & Rs256Valid(rsa.ExportPublicPem(), token)
WScript.Echo "RS256 with another payload valid: " & _
  Rs256Valid(rsa.ExportPublicPem(), header & "." & Part("{""sub"":""admin""}") & Mid(token, InStrRev(token, ".")))

' ---- HS256
Set hash = CreateObject("Valdergast.ZELCryptoHash")
hash.Algorithm = "SHA256"
Set secret = Utf8Blob("a-shared-secret-of-at-least-32-bytes!")
header = Part("{""alg"":""HS256"",""typ"":""JWT""}")
token = header & "." & payload & "." & hash.Hmac(secret, Utf8Blob(header & "." & payload)).Base64Url
WScript.Echo "HS256 token: " & token

Function Hs256Valid(token)
  Dim signature
  Set signature = SignatureOf(token)
  Hs256Valid = False
  ' Equals takes the same time wherever the bytes differ.
  If Not signature Is Nothing Then Hs256Valid = hash.Hmac(secret, Utf8Blob(SigningInput(token))).Equals(signature)
End Function

WScript.Echo "HS256 valid: " & Hs256Valid(token)
WScript.Echo "HS256 with a changed signature valid: " & Hs256Valid(Left(token, Len(token) - 2) & "AA")
