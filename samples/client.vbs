' MVR Server client in VBScript. Run it with a host that delivers events, e.g.
'   mvrscript client.vbs
' Connects channel 3, sends the command byte 65 and the block "Hallo", prints what comes back.
Option Explicit

Dim received, trx
received = 0

Sub mvr_Receive(Block)
  Dim i, codes
  codes = ""
  For i = 1 To Len(Block)
    codes = codes & " " & Right("0" & Hex(Asc(Mid(Block, i, 1))), 2)
  Next
  WScript.Echo "Receive: """ & Block & """ (" & Len(Block) & " Zeichen:" & codes & ")"
  received = received + 1
End Sub

Sub mvr_TimeOut()
  WScript.Echo "TimeOut"
  received = received + 1
End Sub

Set trx = WScript.CreateObject("MVR_Server.MVR_AutoServ", "mvr_")

' WScript.CreateObject joins prefix and event name directly ("mvr_" & "Receive").
If Not trx.HasSerialConnection Then
  WScript.Echo "Der Server hat keine serielle Verbindung."
  WScript.Quit 1
End If
If Not trx.ConnectChannel(3) Then
  WScript.Echo "Kanal 3 ist belegt."
  WScript.Quit 1
End If
WScript.Echo "Kanal 3 verbunden"

WScript.Echo "SendSPaket(65): " & trx.SendSPaket(65)
WScript.Echo "SendLPaket(Hallo): " & trx.SendLPaket("Hallo")

Dim waited
waited = 0
Do While received < 2 And waited < 3000
  WScript.Sleep 50
  waited = waited + 50
Loop

WScript.Echo "DisconnectChannel: " & trx.DisconnectChannel
Set trx = Nothing
