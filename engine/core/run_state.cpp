#include "engine/core/run_state.h"

#include <cstring>

RunState sgRun;

void RunStateClear() { std::memset(&sgRun, 0, sizeof sgRun); }
