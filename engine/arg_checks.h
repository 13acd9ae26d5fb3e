// Checks that statement handlers apply to their argument slots.
#pragma once

// Argument word w must hold 1..hi bytes; otherwise a run error with code.
int ArgCheckLength(int w, int hi, int code);
// Takes the decimal value of argument word w into igV[w]; false when the
// word does not pass the integer check.
bool ArgReadInteger(int w);
