Option Explicit
Dim d, i, s
Set d = CreateObject("Scripting.Dictionary")
For i = 1 To 10 Step 2
  Select Case i
    Case 1, 3: s = s & "a"
    Case 5 To 7: s = s & "b"
    Case Is > 8: s = s & "c"
    Case Else: s = s & "d"
  End Select
Next
On Error Resume Next
Err.Raise 5
If Err.Number <> 0 Then s = s & Err.Description
Function TarvMain()
  TarvMain = s & Mid("hello", 2, 3) & UBound(Array(1, 2))
End Function
