Function TarvMain()
Dim d, i, k, t
Set d = CreateObject("Scripting.Dictionary")
For i = 1 To 200000
  k = "k" & (i Mod 1000)
  If d.Exists(k) Then
    d(k) = d(k) + i
  Else
    d.Add k, i
  End If
Next
t = 0
For Each k In d.Keys
  t = t + d(k)
Next
TarvMain = d.Count & " " & t
End Function
