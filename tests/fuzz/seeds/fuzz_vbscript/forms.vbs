Dim log
Class Job
  Public Name
  Public Sub Run(a, b)
    log = log & a & b
  End Sub
  Public n End Class
Function Tenfold(x)
  Tenfold = x * 10
End Function
Function TarvMain()
  Stop
  Set j = New Job
  With j
    .Name = "a"
    j.Run .Name, "b"
  End With
  Call (New Job).Run(1, 2)
  For i = "1" To "9" Step "2"
    If (i = "x") Or Not "#FALSE#" Then n = n + CDbl("1,234.5")
  Next
  TarvMain = (Tenfold)(2) & (New Job).n & (Split("a,b", ","))(1) & log
End Function
