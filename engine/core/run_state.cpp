#include "engine/core/run_state.h"

#include "platform/zero_record.h"

RunState sgRun;

void RunStateClear() { ZeroRecord(&sgRun, sizeof sgRun); }
