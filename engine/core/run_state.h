// The run state: one process-wide record of the run in progress.
#pragma once
#include <array>
#include <cstdint>

inline constexpr int ENDOK = 300;   // the step ended; the next line runs
inline constexpr int RUNEND = 999;  // the run has ended

inline constexpr int RUNMODE_STEP = 0;
inline constexpr int RUNMODE_RUN = 900;
inline constexpr int RUNMODE_HIDE = 901;

inline constexpr int TEXT_SIZE = 4194304;   // the text buffer
inline constexpr int MACRO_DEPTH = 20;

struct RunState {
  int32_t StepTimeout;
  int32_t MaxRunTime;
  int32_t OnError;
  int32_t WsaState;
  int32_t IpMode;
  int32_t CurLine;
  int32_t StepRunState;
  int32_t StepErrors;
  int32_t ArgSubErrors;
  int32_t ArgErrors;
  int32_t RunMode;
  int32_t RunSteps;
  int32_t RunSeconds;
  int32_t PriorityClass;
  // Text is 1-based: byte k of the text is Text[k]; one spare byte keeps a
  // NUL after a full buffer.
  std::array<char, TEXT_SIZE + 2> Text;
  int32_t TextLen;
  // The lowest byte an edit other than an append may have changed since a
  // copy of the text last took it (TextTakeEdited); 0 after a clear.
  int32_t TextEditedFrom;
  int32_t headPointer;
  int32_t tailPointer;
  int32_t RunErrors;
  int32_t LoopTimes;
  int32_t GotoLine;
  std::array<int32_t, MACRO_DEPTH> MacroStack;
  int32_t MacroDepth;
  int32_t ArgCount;
};

extern RunState sgRun;

// Clears the whole record (the text buffer included).
void RunStateClear();
