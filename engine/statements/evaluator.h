// The arithmetic of "var {A2} value number {A5}" is done by an evaluator
// that a family registers (the script host); the engine only calls it.
#pragma once

// Evaluates expr and copies the result text with its NUL into dest (1024
// bytes): the text's length, or a negative value after the evaluator has
// reported the failure as a run error.
using Evaluator = int (*)(const char* expr, char* dest);

void TarvSetEvaluator(Evaluator evaluator);
// -1 when no evaluator is registered.
int TarvEvaluate(const char* expr, char* dest);
