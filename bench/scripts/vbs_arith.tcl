# The work of vbs_arith.vbs: whole-number and floating arithmetic on every
# turn, inside a procedure as the VBScript is (Tcl compiles procedures' bodies).
proc main {} {
  set s 0
  set f 0.0
  for {set i 1} {$i <= 10000000} {incr i} {
    set s [expr {($s + $i * 3) % 1000003}]
    set f [expr {$f * 0.999 + $i / 8.0}]
  }
  return "$s [expr {wide($f)}]"
}
puts [main]
