' A script of today: the options of IZelpostCom2 set by name, a send over
' SMTPS with AUTH, then a receive over POP3S, as cscript runs it:
' cscript //nologo secure.vbs FOLDER SENDFILE POP3S SMTPS USER PASSWORD CAFILE
' Prints one "name=value" line per observation (fields separated by TAB)
' and "END" last (Wine's cscript exits 0 even when a script fails).
Option Explicit
Dim args, folder, o, r
Set args = WScript.Arguments
folder = args(0)

Set o = CreateObject("Zelpost.ZelpostCom")
r = o.Initialize(args(2), args(3), args(4), args(5), args(4) & "@localhost", "Script")
o.TLS = 1
o.SMTPAUTH = 1
o.TLSCAFILE = args(6)
o.POP_BEFORE_SMTP = 0
o.POP_SILENT = 1
WScript.Echo "options=" & o.TLS & vbTab & o.SMTPAUTH & vbTab & (o.TLSCAFILE = args(6)) & vbTab & o.GetValueInt("tls")
r = o.SendMail(args(1), "")
WScript.Echo "send=" & r & vbTab & o.ErrNumber & vbTab & o.ERRDETAIL
r = o.RecvMailAll(folder & "\list.txt", folder, "", "")
WScript.Echo "recvall=" & r & vbTab & o.ErrNumber & vbTab & o.ERRDETAIL

r = o.Initialize(args(2), args(3), args(4), "wrong-" & args(5), args(4) & "@localhost", "Script")
r = o.SendMail(args(1), "")
WScript.Echo "refused=" & r & vbTab & o.ErrNumber & vbTab & o.ErrClass & vbTab & Left(o.ERRDETAIL, 4)
WScript.Echo "END"
