' The plug-in object as a script host uses it: created by ProgID, properties set and read
' by name, Set with an object, the check run's answers and the errors of a failing member.
Option Explicit

Dim failures, passes
failures = 0
passes = 0

Sub Pass()
    passes = passes + 1
End Sub

Sub Fail(name, detail)
    failures = failures + 1
    WScript.Echo "FAIL: " & name & ": " & detail
End Sub

Function Shown(value)
    If IsObject(value) Then
        Shown = "<" & TypeName(value) & ">"
    ElseIf IsNull(value) Then
        Shown = "Null"
    Else
        Shown = "[" & value & "] (" & TypeName(value) & ")"
    End If
End Function

Sub CheckTrue(name, condition)
    If condition Then Pass Else Fail name, "not true"
End Sub

' Equal in type and value; Null and Empty by type alone.
Sub CheckSame(name, expected, actual)
    Dim same
    same = (VarType(expected) = VarType(actual))
    If same And Not IsNull(expected) And Not IsEmpty(expected) Then same = (expected = actual)
    If same Then Pass Else Fail name, "expected " & Shown(expected) & ", got " & Shown(actual)
End Sub

' The four properties by name (Wine's VBScript has no Eval or Execute).
Sub PutProperty(target, name, value)
    Select Case name
        Case "sa_hostname": target.sa_hostname = value
        Case "sa_timeout": target.sa_timeout = value
        Case "sa_parameter": target.sa_parameter = value
        Case "sa_result": target.sa_result = value
    End Select
End Sub

Sub SetProperty(target, name, value)
    Select Case name
        Case "sa_hostname": Set target.sa_hostname = value
        Case "sa_timeout": Set target.sa_timeout = value
        Case "sa_parameter": Set target.sa_parameter = value
        Case "sa_result": Set target.sa_result = value
    End Select
End Sub

Function GetProperty(target, name)
    Select Case name
        Case "sa_hostname": GetProperty = target.sa_hostname
        Case "sa_timeout": GetProperty = target.sa_timeout
        Case "sa_parameter": GetProperty = target.sa_parameter
        Case "sa_result": GetProperty = target.sa_result
    End Select
End Function

Function GetObjectProperty(target, name)
    Select Case name
        Case "sa_hostname": Set GetObjectProperty = target.sa_hostname
        Case "sa_timeout": Set GetObjectProperty = target.sa_timeout
        Case "sa_parameter": Set GetObjectProperty = target.sa_parameter
        Case "sa_result": Set GetObjectProperty = target.sa_result
    End Select
End Function

Dim o, p, properties, samples, sample
properties = Array("sa_hostname", "sa_timeout", "sa_parameter", "sa_result")

' --- A new object's properties are empty.
Set o = CreateObject("comTavrin.TavrinCom")
For Each p In properties
    CheckTrue "new " & p & " is empty", IsEmpty(GetProperty(o, p))
Next

' --- Put then get keeps the value and its type.
samples = Array(30, 100000, 2.5, "server.example", "", True, Null, Empty, CCur(1.25), CDate("2024-02-29 13:45:00"), CByte(7))
For Each p In properties
    For Each sample In samples
        PutProperty o, p, sample
        CheckSame p & " keeps " & TypeName(sample), sample, GetProperty(o, p)
    Next
Next

' --- Set with an object gives back the same object.
Dim dictionary
Set dictionary = CreateObject("Scripting.Dictionary")
dictionary.Add "key", "value"
For Each p In properties
    SetProperty o, p, dictionary
    CheckTrue "Set " & p & " holds an object", IsObject(GetObjectProperty(o, p))
    CheckTrue "Set " & p & " is the same object", GetObjectProperty(o, p) Is dictionary
Next
CheckSame "the held object works", "value", o.sa_parameter.Item("key")

' --- The check run's answers, with the result as text.
Sub CheckRun(name, timeout, hostname, parameter, expectedResult)
    Dim check, up
    Set check = CreateObject("comTavrin.TavrinCom")
    check.sa_timeout = timeout
    check.sa_hostname = hostname
    check.sa_parameter = parameter
    up = check.sa_docheck
    CheckSame name & ": verdict", False, up
    CheckSame name & ": result", expectedResult, check.sa_result
End Sub

CheckRun "no user name", 10, "localhost", "", "ERR: can't connect to an SSH server without a USERNAME"
CheckRun "no password", 10, "localhost", "#USR=bob", "ERR: can't connect to an SSH server without a PASSWORD"
CheckRun "empty password and key file", 10, "localhost", "#USR=bob#PWD=#KEYF=", _
    "ERR: can't connect to an SSH server without a PASSWORD"
CheckRun "time-out no number", "abc", "localhost", "#USR=bob#PWD=cHc=", "ERR: Type mismatch( 0)"
CheckRun "time-out out of range", 40000, "localhost", "#USR=bob#PWD=cHc=", "ERR: Overflow( 0)"
CheckRun "host name Null", 10, Null, "#USR=bob#PWD=cHc=", "ERR: Invalid use of Null( 0)"
CheckRun "port out of range", 10, "localhost", "#USR=bob#PWD=cHc=#PORT=70000", "ERR: Overflow( 0)"

' --- A failing member raises an error with the description.
Sub CheckFailingMember()
    Dim failing
    Set failing = CreateObject("comTavrin.TavrinCom")
    failing.sa_hostname = Null
    On Error Resume Next
    failing.sa_showGUI
    Dim number, description
    number = Err.Number
    description = Err.Description
    On Error GoTo 0
    CheckSame "sa_showGUI with Null: Err.Number", CLng(94), number
    CheckSame "sa_showGUI with Null: Err.Description", "Invalid use of Null", description
    CheckTrue "the object stays usable", IsNull(failing.sa_hostname)
End Sub
CheckFailingMember

Sub CheckUnknownMember()
    On Error Resume Next
    o.txtResource = "x"
    Dim number
    number = Err.Number
    On Error GoTo 0
    CheckSame "unknown member: Err.Number", CLng(438), number
End Sub
CheckUnknownMember

' --- SetResource takes a text and keeps nothing.
Sub CheckSetResource()
    On Error Resume Next
    o.SetResource "resource text"
    Dim number
    number = Err.Number
    On Error GoTo 0
    CheckSame "SetResource succeeds", CLng(0), number
End Sub
CheckSetResource

' --- Two objects are independent.
Dim first, second
Set first = CreateObject("comTavrin.TavrinCom")
Set second = CreateObject("comTavrin.TavrinCom")
first.sa_hostname = "first.example"
CheckTrue "second object untouched", IsEmpty(second.sa_hostname)
Set first = Nothing
second.sa_parameter = ""
CheckSame "second object works after the first is gone", False, second.sa_docheck

WScript.Echo passes & " checks passed, " & failures & " failed"
If failures = 0 Then
    WScript.Echo "RESULT: PASS"
    WScript.Quit 0
End If
WScript.Echo "RESULT: FAIL"
WScript.Quit 1
