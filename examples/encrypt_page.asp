<%@ Language="VBScript" %>
<%
Option Explicit
' A server-side page that encrypts a posted text under a posted password and
' shows the result as an OpenPGP message in ASCII armor.  Anyone with the
' password can read it back with any OpenPGP program, for instance
'
'     gpg --decrypt --ignore-mdc-error message.asc
'
' (the message carries no modification-detection packet, which current gpg
' versions want to be told to accept).  Copy the page into a folder of an IIS
' site where classic ASP is enabled; the application pool must load the DLLs
' of its own bitness (see README-admin.txt).
'
' The text goes into the blob through its Text property, that is in the
' server's ANSI code page: characters outside that code page become "?".

' Ids for PGP.Init; a page that includes the type library with
'   <!-- METADATA TYPE="TypeLib" UUID="{7FF98D43-0E10-45F5-A238-34CEF2F627B1}" VERSION="2.0" -->
' can use the library's names for them (zelHashSHA1, zelCipherAES256,
' zelS2KIterated) instead.
Const kHashSHA1 = 2
Const kCipherAES256 = 9
Const kS2KIterated = 3
Const kCount65536 = 96      ' coded count: 65536 bytes hashed per key digest

Dim text, password, armored, problem
text = ""
armored = ""
problem = ""

If Request.ServerVariables("REQUEST_METHOD") = "POST" Then
  text = CStr(Request.Form("text"))
  password = CStr(Request.Form("password"))
  If Len(password) = 0 Then
    problem = "Please enter a password."
  Else
    armored = EncryptText(text, password)
  End If
End If

' The armored OpenPGP message of the text, encrypted with AES-256 under a key
' made from the password by the iterated and salted string-to-key.
Function EncryptText(text, password)
  Dim pgp, plain, secret
  Set secret = Server.CreateObject("Valdergast.ZELBlob")
  secret.Text = password
  Set plain = Server.CreateObject("Valdergast.ZELBlob")
  plain.Text = text
  Set pgp = Server.CreateObject("Valdergast.ZELCryptoPGP")
  pgp.Init kHashSHA1, kCipherAES256, kS2KIterated, kCount65536
  pgp.Password = secret
  EncryptText = pgp.Enarmor(pgp.Encrypt(plain))
  secret.Clear
End Function
%>
<!DOCTYPE html>
<html>
<head>
<title>Encrypt a text</title>
</head>
<body>
<h1>Encrypt a text under a password</h1>
<form method="post">
<p><label for="text">Text</label><br>
<textarea id="text" name="text" rows="8" cols="72"><%= Server.HTMLEncode(text) %></textarea></p>
<p><label for="password">Password</label>
<input id="password" name="password" type="password" autocomplete="off"></p>
<p><input type="submit" value="Encrypt"></p>
</form>
<% If Len(problem) > 0 Then %>
<p class="problem"><%= Server.HTMLEncode(problem) %></p>
<% End If %>
<% If Len(armored) > 0 Then %>
<h2>The encrypted message</h2>
<pre id="message"><%= Server.HTMLEncode(armored) %></pre>
<% End If %>
</body>
</html>
