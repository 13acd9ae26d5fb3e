// Checks that statement handlers apply to their argument slots.
#pragma once

// Argument word w must hold 1..hi bytes; otherwise a run error with code.
int ArgCheckLength(int w, int hi, int code);
// Takes the decimal value of argument word w into igV[w]; false when the
// word does not pass the integer check.
bool ArgReadInteger(int w);
// Argument word w must be a whole number (taken into igV[w]); otherwise a
// run error "Arg:w is not integer !" with code -w.  0 or -w.
int ArgCheckInteger(int w);
// ... and within lo..hi ("Arg:w=v  < lo !", "Arg:w=v > hi !").  0 or -w.
int ArgCheckRange(int w, int lo, int hi);
// Lays out len bytes of value with pad blanks placed as argument word w
// says ("left", "middle" with the odd blank to the right, "right") into out,
// which needs len + pad bytes; false, with nothing written, when word w is
// none of the three.
bool ArgAlignInto(int w, const char* value, int len, int pad, char* out);
