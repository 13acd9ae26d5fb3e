// Start-up, initialisation and the step runner.
#pragma once

// Joins the program's arguments into the command line (word 1 is the
// program's absolute path), names the log file and initialises the engine.
int TarvStart(int argc, const char* const* argv);
// The same from a ready command line; programDir ends with '/'.
int TarvStartCmdLine(const char* cmdLine, const char* programDir);
int tarv_init_nms();
int EsRunNextStep();
int EsCallStep();
// The end-of-run report, then the HTML log's end unless `endLog` is false
// (a window ends the log when it closes: TarvFinishLog).
int EsRunEnd(bool endLog = true);
void EsEndLog();
// Runs steps until the run ends, then writes the end-of-run report.
int TarvRunToEnd();
// Clears every process-wide record, for a new run in the same process.
void TarvEngineReset();
