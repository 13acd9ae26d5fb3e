// The reporters: run errors and script errors, each counted and published
// as variables, and the variables table of a step.
#pragma once

// A run error: counted in run.errors and step.errors, logged, kept as
// run.error.N, followed by a one-second pause; returns code.
int NmsRunError(int code, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
// A script error: logged as a warning, kept as nms.error.N; returns code.
int NmsError(int code, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
// The variables changed by step (all of them for 0) as a table.
int HtmlLogVars(int step);

// Test seam: the binary always pauses one second after a run error; tests in
// one process may turn the pause off.
void TarvSetRunErrorPause(bool on);
