' What a host does with the installed plug-in: create the class by its ProgID and run a check
' that stops before any connection. Prints "VERDICT: PASS" or "VERDICT: FAIL: why" and
' ends with the matching exit code (Wine's cscript may exit 0 after a script error, so the
' caller looks for the printed verdict).
Option Explicit

Const expected = "ERR: can't connect to an SSH server without a USERNAME"

Dim check, up, result, environment
' The bitness the caller asked for: "AMD64" in a 64-bit script host, "x86" in a 32-bit one.
Set environment = CreateObject("WScript.Shell").Environment("PROCESS")
WScript.Echo "ARCHITECTURE: " & environment("PROCESSOR_ARCHITECTURE")

On Error Resume Next
Set check = CreateObject("comTavrin.TavrinCom")
If Err.Number <> 0 Then
    WScript.Echo "VERDICT: FAIL: CreateObject: " & Err.Number & " " & Err.Description
    WScript.Quit 1
End If
check.sa_parameter = ""
check.sa_hostname = "x"
up = check.sa_docheck
If Err.Number <> 0 Then
    WScript.Echo "VERDICT: FAIL: sa_docheck: " & Err.Number & " " & Err.Description
    WScript.Quit 1
End If
result = check.sa_result
On Error GoTo 0

If TypeName(up) <> "Boolean" Then
    WScript.Echo "VERDICT: FAIL: sa_docheck gave " & TypeName(up) & ", not Boolean"
    WScript.Quit 1
End If
If up Then
    WScript.Echo "VERDICT: FAIL: sa_docheck answered UP"
    WScript.Quit 1
End If
If result <> expected Then
    WScript.Echo "VERDICT: FAIL: sa_result is [" & result & "]"
    WScript.Quit 1
End If
WScript.Echo "VERDICT: PASS"
WScript.Quit 0
