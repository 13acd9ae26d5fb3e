// Jump targets of the condition, loop and macro statements.  A search only
// sets sgRun.GotoLine (the step function moves there at its next step) and
// remembers the target of the current line in sgNms.JumpCache for the rest of
// the run.
#pragma once

// The if.end that closes the current condition.  0 when GotoLine is set,
// else the code of the run error it recorded.
int EsGotoIfEnd();
// The loop.begin of the current loop (loop.next, loop.end); a failure is a
// script error.
void EsGotoLoopBegin();
// The line after the loop.end of the current loop (loop.exit); a failure is a
// script error.
void EsGotoLoopEnd();
// The macro.begin below the current line whose name is `name`; the call is
// pushed on the macro stack.  0 when GotoLine is set, else the code of the
// run error it recorded.
int EsGotoMacroBegin(const char* name, int len);
