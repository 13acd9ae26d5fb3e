d = #1/2/2020# + #3:04:05 PM# - #2020-01-02 15:04#
If d => 1 Or d =< 2 Or d >< 3 Then x = -3 ^ 2
If False Then Const k = 7
If False Then :
If False Then
  Sub Hidden() x = 1 End Sub
End If
Dim Property, a(2)
Call (((Hidden))) ()
s = FormatNumber(1, , , -1) : MsgBox "t", , "x"
Inc a(0) : Erase a, b
