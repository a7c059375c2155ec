' A class of the project's own, through WScript.CreateObject.
Set blob = WScript.CreateObject("Valdergast.ZELBlob")
blob.Hex = "48 69 21"
WScript.Echo blob.Text, blob.Length
Set misc = WScript.CreateObject("Valdergast.ZELCryptoMisc")
WScript.Echo misc.SHA1(blob).Hex
