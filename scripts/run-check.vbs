' Runs the checks listed in a file (name TAB parameter string per line) through the plug-in
' object and prints each result.  cscript run-check.vbs HOST LISTFILE
Option Explicit
Dim host, fso, list, line, parts, check, up
host = WScript.Arguments(0)
Set fso = CreateObject("Scripting.FileSystemObject")
Set list = fso.OpenTextFile(WScript.Arguments(1), 1)
Do Until list.AtEndOfStream
    line = list.ReadLine
    parts = Split(line, vbTab)
    Set check = CreateObject("comTavrin.TavrinCom")
    check.sa_hostname = host
    check.sa_timeout = 10
    check.sa_parameter = parts(1)
    up = check.sa_docheck
    If up Then
        WScript.Echo Left(parts(0) & Space(45), 45) & " UP    " & check.sa_result
    Else
        WScript.Echo Left(parts(0) & Space(45), 45) & " DOWN  " & check.sa_result
    End If
    Set check = Nothing
Loop
list.Close
WScript.Quit 0
