# The work of vbs_text.vbs: text appended a character at a time, each read
# back, then the whole scanned for a word.
proc main {} {
  set s ""
  set n 0
  set c 0
  for {set i 1} {$i <= 300000} {incr i} {
    append s [format %c [expr {97 + $i % 26}]]
    if {[string index $s [expr {$i - 1}]] eq "z"} { incr n }
  }
  set p 0
  while {1} {
    set p [string first xyz $s $p]
    if {$p < 0} break
    incr c
    incr p
  }
  return "[string length $s] $n $c"
}
puts [main]
