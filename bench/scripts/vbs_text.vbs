Function TarvMain()
Dim s, i, n, p, c
s = "" : n = 0 : c = 0
For i = 1 To 300000
  s = s & Chr(97 + i Mod 26)
  If Mid(s, i, 1) = "z" Then n = n + 1
Next
p = 1
Do
  p = InStr(p, s, "xyz")
  If p = 0 Then Exit Do
  c = c + 1 : p = p + 1
Loop
TarvMain = Len(s) & " " & n & " " & c
End Function
