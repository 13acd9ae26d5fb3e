# The work of vbs_loop.vbs: arithmetic and number-to-text on every turn,
# inside a procedure as the VBScript is (Tcl compiles procedures' bodies).
proc main {} {
  set s 0
  set n 0
  for {set i 1} {$i <= 10000000} {incr i} {
    set s [expr {($s + $i * 3) % 1000003}]
    set t [format %d $i]
    incr n [string length $t]
  }
  return "$s $n"
}
puts [main]
