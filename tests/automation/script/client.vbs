' A late-bound client of the automation object, as a Windows script host
' runs it: cscript //nologo client.vbs FOLDER SENDFILE SERVER USER PASSWORD [recv]
' Prints one "name=value" line per observation (fields separated by TAB)
' and "END" last: Wine's cscript exits 0 even when a script fails, so the
' END line tells that it ran through.
Option Explicit
Dim args, folder, server, a, b, r
Set args = WScript.Arguments
folder = args(0)
server = args(2)

Set a = CreateObject("Zelpost.ZelpostCom")
Set b = CreateObject("Zelpost.ZelpostCom")
WScript.Echo "version=" & a.Version

r = a.Initialize(server, "", args(3), args(4), "taro@example.jp", "")
WScript.Echo "refused=" & r & vbTab & a.ErrNumber & vbTab & a.ErrDiscription
r = a.Initialize(server, server, args(3), args(4), "taro@example.jp", "Taro")
WScript.Echo "initialize=" & r
r = a.SendMailDummy(args(1), "", folder & "\object.eml")
WScript.Echo "dummy=" & r
r = a.SendMail(folder & "\missing.qml", "")
WScript.Echo "missing=" & r & vbTab & a.ErrNumber & vbTab & a.ErrDiscription

a.POP_ExecuteType = 7
a.POP_DELE = 1
WScript.Echo "executetype=" & a.POP_ExecuteType & vbTab & b.POP_ExecuteType
WScript.Echo "dele=" & a.POP_DELE & vbTab & b.POP_DELE

If args.Count > 5 Then
  r = b.Initialize(server, server, args(3), args(4), "taro@example.jp", "")
  b.POP_SILENT = 1
  r = b.RecvMailAll(folder & "\list.txt", folder, "", "")
  WScript.Echo "recvall=" & r & vbTab & b.ErrNumber
End If
WScript.Echo "END"
