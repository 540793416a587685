// MVR Server client in JScript. Run it with a host that delivers events, e.g.
//   mvrscript client.js
// Connects channel 4, sends the command byte 0xFF (-1) and a block, prints what comes back.
var received = 0;

function mvr_Receive(block) {
  var codes = [];
  for (var i = 0; i < block.length; i++) {
    codes.push(("0" + block.charCodeAt(i).toString(16).toUpperCase()).slice(-2));
  }
  WScript.Echo("Receive: \"" + block + "\" (" + block.length + " Zeichen: " + codes.join(" ") + ")");
  received++;
}

function mvr_TimeOut() {
  WScript.Echo("TimeOut");
  received++;
}

var trx = WScript.CreateObject("MVR_Server.MVR_AutoServ", "mvr_");
if (!trx.HasSerialConnection) {
  WScript.Echo("Der Server hat keine serielle Verbindung.");
  WScript.Quit(1);
}
if (!trx.ConnectChannel(4)) {
  WScript.Echo("Kanal 4 ist belegt.");
  WScript.Quit(1);
}
WScript.Echo("Kanal 4 verbunden");

// VARIANT_BOOL true arrives as JScript true.
WScript.Echo("SendSPaket(-1): " + trx.SendSPaket(-1));
WScript.Echo("SendLPaket(Block): " + trx.SendLPaket("Block aus JScript"));

for (var waited = 0; received < 2 && waited < 3000; waited += 50) {
  WScript.Sleep(50);
}

WScript.Echo("DisconnectChannel: " + trx.DisconnectChannel());
trx = null;
