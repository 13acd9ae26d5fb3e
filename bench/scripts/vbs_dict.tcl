# The work of vbs_dict.vbs: sums kept by text keys.
proc main {} {
  set d [dict create]
  for {set i 1} {$i <= 200000} {incr i} {
    set k "k[expr {$i % 1000}]"
    if {[dict exists $d $k]} {
      dict set d $k [expr {[dict get $d $k] + $i}]
    } else {
      dict set d $k $i
    }
  }
  set t 0
  dict for {k v} $d {
    set t [expr {$t + $v}]
  }
  return "[dict size $d] $t"
}
puts [main]
