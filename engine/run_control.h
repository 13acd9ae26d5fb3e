// Run control: the run statements' helpers outside the statement table.
#pragma once

// Test seam: run.nms starts the program that runs it again (/proc/self/exe).
// A test program must not start itself, so tests name the program to start;
// nullptr returns to the running program.
void RunNmsSetProgram(const char* path);
