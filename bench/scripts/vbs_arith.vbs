Function TarvMain()
Dim i, s, f
s = 0 : f = 0
For i = 1 To 10000000
  s = (s + i * 3) Mod 1000003
  f = f * 0.999 + i / 8
Next
TarvMain = s & " " & Fix(f)
End Function
