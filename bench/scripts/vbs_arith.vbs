Function TarvMain()
Dim i, s, n, t
s = 0 : n = 0
For i = 1 To 10000000
  s = (s + i * 3) Mod 1000003
  t = CStr(i)
  n = n + Len(t)
Next
TarvMain = s & " " & n
End Function
