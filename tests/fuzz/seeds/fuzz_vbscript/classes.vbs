Class Account
  Private balance, history()
  Public Owner
  Dim tag
  Private Sub Class_Initialize()
    balance = 0 : ReDim history(0)
  End Sub
  Private Sub Class_Terminate() : End Sub
  Public Default Property Get Total() : Total = balance : End Property
  Public Property Let Total(v)
    If v < 0 Then Err.Raise 5
    balance = v
  End Property
  Public Property Set Link(o) : Set tag = o : End Property
  Public Function Add(ByRef n, ByVal m)
    n = n + m : Add = Me.Total + n
    Exit Function
  End Function
  Sub Reset() balance = 0 End Sub
End Class
Set a = New Account
a.Total = 10 : Set a.Link = a
x = a.Add(a.Total, 2) : Call a.Reset()
If a Is Nothing Then Set a = Nothing
