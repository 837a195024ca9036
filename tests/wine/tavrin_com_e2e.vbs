' The plug-in object against the test sshd (tests/fixtures/sshd-fixture.sh), as a host runs a
' check: every verdict operator, the return-data modes, a wrong password, a refused connection.
' The fixture's values come from the environment (run-vbscript.sh --env).
Option Explicit

Dim failures, passes, shell
failures = 0
passes = 0
Set shell = CreateObject("WScript.Shell")

' Wine's ExpandEnvironmentStrings keeps the terminating NUL in the text it returns.
Function Fixture(name)
    Fixture = Replace(shell.ExpandEnvironmentStrings("%" & name & "%"), Chr(0), "")
    If Fixture = "%" & name & "%" Then
        WScript.Echo "FAIL: the fixture value " & name & " is not set"
        WScript.Quit 1
    End If
End Function

Sub CheckSame(name, expected, actual)
    If VarType(expected) = VarType(actual) Then
        If expected = actual Then
            passes = passes + 1
            Exit Sub
        End If
    End If
    failures = failures + 1
    WScript.Echo "FAIL: " & name & ": expected [" & expected & "] (" & TypeName(expected) & _
        "), got [" & actual & "] (" & TypeName(actual) & ")"
End Sub

Sub CheckTrue(name, condition, detail)
    If condition Then
        passes = passes + 1
    Else
        failures = failures + 1
        WScript.Echo "FAIL: " & name & ": " & detail
    End If
End Sub

' Base64 of an ASCII text, as the parameter string carries the password and the command.
Function Base64(text)
    Const digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"
    Dim i, a, b, c, result
    result = ""
    For i = 1 To Len(text) Step 3
        a = Asc(Mid(text, i, 1))
        b = -1
        c = -1
        If i + 1 <= Len(text) Then b = Asc(Mid(text, i + 1, 1))
        If i + 2 <= Len(text) Then c = Asc(Mid(text, i + 2, 1))
        result = result & Mid(digits, (a \ 4) + 1, 1)
        If b < 0 Then
            result = result & Mid(digits, (a And 3) * 16 + 1, 1) & "=="
        ElseIf c < 0 Then
            result = result & Mid(digits, (a And 3) * 16 + (b \ 16) + 1, 1) & _
                Mid(digits, (b And 15) * 4 + 1, 1) & "="
        Else
            result = result & Mid(digits, (a And 3) * 16 + (b \ 16) + 1, 1) & _
                Mid(digits, (b And 15) * 4 + (c \ 64) + 1, 1) & Mid(digits, (c And 63) + 1, 1)
        End If
    Next
    Base64 = result
End Function

' Line ends shown as \r and \n, for the log.
Function Visible(text)
    Visible = Replace(Replace(text, Chr(13), "\r"), Chr(10), "\n")
End Function

CheckSame "Base64 of df -k", "ZGYgLWs=", Base64("df -k")

Function Parameter(password, port, command, operator, value, mode)
    Parameter = "#ENC=T#USR=" & Fixture("SSHD_USER") & "#PWD=" & Base64(password) & "#PROTO=2#PORT=" & port & _
        "#KEYF=#KEYT=RSA#CMD=" & Base64(command) & "#CCO=" & operator & "#CON=" & value & "#RRE=" & mode & "#"
End Function

' One check as the host makes it; returns the result text, checks the verdict.
Function RunCheck(name, parameterString, expectedUp)
    RunCheck = RunCheckOn(name, Fixture("SSHD_HOST"), parameterString, expectedUp)
End Function

Function RunCheckOn(name, host, parameterString, expectedUp)
    Dim check, up
    Set check = CreateObject("comTavrin.TavrinCom")
    check.sa_hostname = host
    check.sa_timeout = 10
    check.sa_parameter = parameterString
    up = check.sa_docheck
    CheckSame name & ": verdict", expectedUp, up
    CheckSame name & ": result is text", vbString, VarType(check.sa_result)
    RunCheckOn = check.sa_result
End Function

Dim port, password, lf, text, check
port = Fixture("SSHD_PORT")
password = Fixture("SSHD_PASSWORD")
lf = Chr(10)

' --- The verdict operators and return-data modes on real command output.
CheckSame "contains", "Output contains tavrin-ok", _
    RunCheck("contains", Parameter(password, port, "echo tavrin-ok", "CON", "tavrin-ok", "NO"), True)
CheckSame "contains, missing, output when down", "Output doesn't contain crond(tavrin-ok" & lf & ")", _
    RunCheck("contains missing", Parameter(password, port, "echo tavrin-ok", "CON", "crond", "YED"), False)
CheckSame "does not contain, output always", "Output doesn't contain crond(tavrin-ok" & lf & ")", _
    RunCheck("not contains", Parameter(password, port, "echo tavrin-ok", "NCO", "crond", "YEA"), True)
CheckSame "does not contain, but does", "Output contains tavrin", _
    RunCheck("not contains found", Parameter(password, port, "echo tavrin-ok", "NCO", "tavrin", "NO"), False)
CheckSame "less than", "Output is less then 10 (5)", _
    RunCheck("less", Parameter(password, port, "echo 5", "LT", "10", "NO"), True)
CheckSame "greater than, not", "Output is not greater then 1 (.52)(0.52" & lf & ")", _
    RunCheck("greater", Parameter(password, port, "echo 0.52", "GT", "1", "YED"), False)
CheckSame "greater than, two lines", "Output is greater then 1000 (1234)", _
    RunCheck("greater lines", Parameter(password, port, "printf '12\n34\n'", "GT", "1000", "NO"), True)
CheckSame "no operator: the output", "hello", _
    RunCheck("no operator", Parameter(password, port, "printf hello", "", "x", "YEA"), True)
CheckSame "standard error is output too", "Output contains on-stderr", _
    RunCheck("stderr", Parameter(password, port, "echo on-stderr 1>&2", "CON", "on-stderr", "NO"), True)

' --- A server that offers only a post-quantum key exchange (sntrup761x25519-sha512): the check
' succeeds, and that server's log shows the login (so it was not answered by another one).
Function AcceptedLogins(logPath)
    Dim fso, file, content, lines, i, count
    Set fso = CreateObject("Scripting.FileSystemObject")
    count = 0
    If fso.FileExists(logPath) Then
        Set file = fso.OpenTextFile(logPath, 1)
        content = ""
        If Not file.AtEndOfStream Then content = file.ReadAll
        file.Close
        lines = Split(content, Chr(10))
        For i = 0 To UBound(lines)
            If InStr(lines(i), "Accepted password for ") > 0 Then count = count + 1
        Next
    End If
    AcceptedLogins = count
End Function

Dim pqLog, pqBefore
pqLog = "Z:" & Replace(Fixture("SSHD_PQ_LOG"), "/", "\")
pqBefore = AcceptedLogins(pqLog)
CheckSame "post-quantum key exchange only", "Output contains tavrin-pq", _
    RunCheck("post-quantum", Parameter(password, Fixture("SSHD_PQ_PORT"), "echo tavrin-pq", "CON", "tavrin-pq", "NO"), True)
CheckSame "post-quantum: logins on that server", pqBefore + 1, AcceptedLogins(pqLog)
CheckSame "ML-KEM key exchange only (a newer OpenSSH)", "Output contains tavrin-mlkem", _
    RunCheck("ML-KEM", Parameter(password, Fixture("SSHD_MLKEM_PORT"), "echo tavrin-mlkem", "CON", "tavrin-mlkem", "NO"), True)

' --- Kept connections (REUSE): many checks in this one host process, one object each, log in
' once; a connection that the server ends while idle is replaced within the next check; the
' same checks without the field log in every time.
Sub WaitSeconds(seconds)
    Dim started
    started = Timer
    Do While Timer - started < seconds And Timer >= started
        started = started
    Loop
End Sub

Dim reuseBefore, i, kept
reuseBefore = AcceptedLogins(pqLog)
kept = Parameter(password, Fixture("SSHD_PQ_PORT"), "echo kept", "CON", "kept", "NO") & "REUSE=60#"
For i = 1 To 10
    CheckSame "kept connection, check " & i, "Output contains kept", RunCheck("kept " & i, kept, True)
Next
CheckSame "kept connection: one login for ten checks", reuseBefore + 1, AcceptedLogins(pqLog)
' The server's side of the kept connection ends half a second after this check.
CheckSame "kept connection, ended by the server afterwards", "Output contains kept", _
    RunCheck("kept, then ended", Parameter(password, Fixture("SSHD_PQ_PORT"), _
        "echo kept; (sleep 0.5; kill $PPID) >/dev/null 2>&1 &", "CON", "kept", "NO") & "REUSE=60#", True)
WaitSeconds 2
CheckSame "kept connection, replaced", "Output contains kept", RunCheck("kept, replaced", kept, True)
CheckSame "kept connection: one more login after the server ended it", reuseBefore + 2, AcceptedLogins(pqLog)
For i = 1 To 3
    CheckSame "without REUSE, check " & i, "Output contains fresh", _
        RunCheck("fresh " & i, Parameter(password, Fixture("SSHD_PQ_PORT"), "echo fresh", "CON", "fresh", "NO"), True)
Next
CheckSame "without REUSE: a login per check", reuseBefore + 5, AcceptedLogins(pqLog)

' --- Through the bastion in front of the inner server: two servers behind it (the inner one as
' localhost and as 127.0.0.1) kept with one bastion login; the bastion's key refused by JFP;
' an inner server that takes only a user certificate (the key beside its -cert.pub).
Dim innerPort, bastionLog, innerLog, bastionBefore, innerBefore, jump, wrongJump, certified
innerPort = Fixture("SSHD_INNER_PORT")
bastionLog = "Z:" & Replace(Fixture("SSHD_BASTION_LOG"), "/", "\")
innerLog = "Z:" & Replace(Fixture("SSHD_INNER_LOG"), "/", "\")
jump = "JMP=" & Fixture("SSHD_USER") & "@" & Fixture("SSHD_HOST") & ":" & Fixture("SSHD_BASTION_PORT") & "#"
bastionBefore = AcceptedLogins(bastionLog)
innerBefore = AcceptedLogins(innerLog)
For i = 1 To 3
    CheckSame "through the bastion, localhost, check " & i, "Output contains " & innerPort, _
        RunCheckOn("bastion localhost " & i, "localhost", Parameter(password, innerPort, _
            "echo $SSH_CONNECTION | cut -d' ' -f4", "CON", innerPort, "NO") & jump & "REUSE=60#", True)
    CheckSame "through the bastion, 127.0.0.1, check " & i, "Output contains " & innerPort, _
        RunCheckOn("bastion 127.0.0.1 " & i, "127.0.0.1", Parameter(password, innerPort, _
            "echo $SSH_CONNECTION | cut -d' ' -f4", "CON", innerPort, "NO") & jump & "REUSE=60#", True)
Next
CheckSame "through the bastion: one bastion login for six checks", bastionBefore + 1, AcceptedLogins(bastionLog)
CheckSame "through the bastion: one login per server behind it", innerBefore + 2, AcceptedLogins(innerLog)
wrongJump = jump & "JFP=" & Fixture("INNER_HOSTKEY_SHA256") & "#"
text = RunCheckOn("bastion key refused", "localhost", Parameter(password, innerPort, "echo x", "CON", "x", "NO") & wrongJump, False)
CheckTrue "bastion key refused: names the bastion and its key", InStr(text, "The host key of the bastion") > 0 And _
    InStr(text, "(JFP)") > 0, "got [" & Visible(text) & "]"
certified = "#ENC=T#USR=" & Fixture("SSHD_USER") & "#PWD=#PROTO=2#PORT=" & innerPort & "#KEYF=" & Fixture("KEY_CERT") & _
    "#KEYT=RSA#CMD=" & Base64("echo certified") & "#CCO=CON#CON=certified#RRE=NO#"
CheckSame "user certificate beside the key", "Output contains certified", RunCheck("certificate", certified, True)
text = RunCheck("expired certificate", certified & "CERT=" & Fixture("KEY_CERT_EXPIRED_CERTIFICATE") & "#", False)
CheckTrue "expired certificate: refused before connecting", Left(text, 5) = "ERR: " And InStr(text, "has expired") > 0, _
    "got [" & Visible(text) & "]"

' --- Failed connections report DOWN with the run's error text, without the "ERR: " frame.
text = RunCheck("wrong password", Parameter("not-the-password", port, "echo x", "CON", "x", "NO"), False)
WScript.Echo "wrong password: " & Visible(text)
CheckTrue "wrong password: the run's error text", Left(text, 5) <> "ERR: " And InStr(text, "password") > 0 And _
    InStr(text, port) > 0, "got [" & Visible(text) & "]"
text = RunCheck("refused", Parameter(password, 1, "echo x", "CON", "x", "NO"), False)
WScript.Echo "refused: " & Visible(text)
CheckTrue "refused: the run's error text", Left(text, 5) <> "ERR: " And InStr(text, "refused") > 0, _
    "got [" & Visible(text) & "]"

' --- A command that did not end by itself is DOWN, whatever its output says (the fault server).
text = RunCheck("ended by a signal", Parameter(password, Fixture("FAULT_SSHD_PORT"), "fault exit-signal", "CON", "begin", "NO"), False)
CheckTrue "ended by a signal: named", InStr(text, "ended by signal KILL") > 0, "got [" & Visible(text) & "]"
text = RunCheck("unreadable data", Parameter(password, Fixture("FAULT_SSHD_PORT"), "fault malformed-data", "NCO", "ERROR", "NO"), False)
CheckTrue "unreadable data: named", InStr(text, "could not be read") > 0, "got [" & Visible(text) & "]"

' --- A key file whose pass phrase takes seconds to derive ends the check within its time-out.
Dim slow, started
slow = "#ENC=T#USR=" & Fixture("SSHD_USER") & "#PWD=" & Base64(Fixture("KEY_ED25519_PASSPHRASE")) & "#PROTO=2#PORT=" & port & _
    "#KEYF=" & Fixture("KEY_ED25519_SLOW") & "#KEYT=RSA#CMD=" & Base64("echo slow") & "#CCO=CON#CON=slow#RRE=NO#"
Set check = CreateObject("comTavrin.TavrinCom")
check.sa_hostname = Fixture("SSHD_HOST")
check.sa_timeout = 1
check.sa_parameter = slow
started = Timer
CheckSame "slow key file: verdict", False, check.sa_docheck
CheckTrue "slow key file: within the time-out plus a second", Timer - started < 2.0, "took " & (Timer - started) & " s"
CheckTrue "slow key file: says so", InStr(check.sa_result, "while opening the key file") > 0, "got [" & Visible(check.sa_result) & "]"

WScript.Echo passes & " checks passed, " & failures & " failed"
If failures = 0 Then
    WScript.Echo "RESULT: PASS"
    WScript.Quit 0
End If
WScript.Echo "RESULT: FAIL"
WScript.Quit 1
