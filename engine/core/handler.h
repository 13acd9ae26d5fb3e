// What every statement handler starts with.
#pragma once

// Ends the step unless the handler says otherwise (sgRun.StepRunState =
// ENDOK) and writes the debug line ",begin ..." under the name of the
// current line's statement row, whose name it returns.
const char* HandlerBegin();
