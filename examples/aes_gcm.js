// AES-256-GCM with a peer that uses Web Crypto (browsers, node) or .NET's
// AesGcm: both sides share a 32-byte key, and a message travels as base64 of
// IV (12 bytes) || ciphertext || tag (16 bytes), which is what Web Crypto's
// encrypt() returns after the IV.
//
//   zelhost examples\aes_gcm.js     (or cscript //nologo examples\aes_gcm.js)

function blob(hex) {
    var b = new ActiveXObject("Valdergast.ZELBlob");
    b.Hex = hex || "";
    return b;
}

// The shared key (in real use: from a key store, never from the script).
var key = blob("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
var aad = new ActiveXObject("Valdergast.ZELBlob");
aad.Text = "order-1029";      // bound to the message, sent in the clear

// A message the peer made: crypto.subtle.encrypt({name: "AES-GCM", iv,
// additionalData}, key, data), sent as base64(iv + result).
var received = new ActiveXObject("Valdergast.ZELBlob");
received.Base64 = "AAECAwQFBgcICQoLJGOkf+WArH/kL/CrhdtMX6/25lmfDjEIGFPXqy1ZAkDWD4iOSHCVaG1roJboSA==";

function open(message) {
    var gcm = new ActiveXObject("Valdergast.ZELCryptoCipher");   // AES-256-GCM
    gcm.Key = key;
    gcm.AAD = aad;
    gcm.IV = message.Slice(0, 12);
    return gcm.Decrypt(message.Slice(12, message.Length - 12)).Text;
}

function seal(text) {
    var gcm = new ActiveXObject("Valdergast.ZELCryptoCipher");
    gcm.Key = key;
    gcm.AAD = aad;
    var plain = new ActiveXObject("Valdergast.ZELBlob");
    plain.Text = text;
    var sealed = gcm.Encrypt(plain);   // draws a fresh 12-byte IV
    var message = gcm.IV;              // the IV it drew, first
    message.Append(sealed);
    return message;
}

WScript.Echo("from the peer: " + open(received));

var reply = seal("paid, thank you");
WScript.Echo("to the peer: " + reply.Length + " bytes (12 IV + 15 text + 16 tag)");
WScript.Echo("read back: " + open(reply));

// A changed byte anywhere fails the tag check: no plaintext comes out.
var tampered = new ActiveXObject("Valdergast.ZELBlob");
tampered.Hex = reply.Hex.substring(0, 40) + (reply.Hex.charAt(40) === "0" ? "1" : "0") + reply.Hex.substring(41);
try {
    open(tampered);
    WScript.Echo("tampered message accepted");
} catch (e) {
    WScript.Echo("tampered message refused: " + e.description);
}
