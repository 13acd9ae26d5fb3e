// Every statement handler the table reaches.  Each takes no argument and
// returns 0 or a negative error code.
#pragma once

// The shared answer of every statement that is not built yet.
int StatementNotCompleted();

// engine
int EsBlankLine();
