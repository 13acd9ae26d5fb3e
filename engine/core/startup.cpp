// Start-up: the command line, the log file name, and the engine's initialisation.
#include <cstdio>
#include <cstring>
#include <ctime>

#include "engine/core/engine.h"
#include "engine/core/family.h"
#include "engine/log/log_sink.h"
#include "engine/core/run_state.h"
#include "engine/core/script.h"
#include "engine/tools/source_generator.h"
#include "engine/core/step_args.h"
#include "engine/util/util.h"
#include "engine/core/var_store.h"
#include "platform/os_info.h"
#include "platform/zero_record.h"

namespace {
constexpr int CMDLINE_MAX = 1023;
constexpr const char* kVersion = "tarv8.13(vindelor-ipv6-20200205)";

// Word `index` of the command line into dest (1023 bytes); its length or -3.
int CmdWord(int index, char* dest) {
  int n = TarvGetWord3(sgLog.CmdLine, index, dest);
  dest[n > 0 ? n : 0] = 0;
  return n;
}

// The script named after the program: its extension, if any, becomes ".nms".
void ScriptBesideProgram(const char* program, char* dest, int room) {
  char path[1024];
  std::snprintf(path, sizeof path, "%s", program);
  int len = static_cast<int>(std::strlen(path));
  if (len >= 2 && path[0] == '"' && path[len - 1] == '"') {
    std::memmove(path, path + 1, len - 2);
    path[len - 2] = 0;
  }
  char* slash = std::strrchr(path, '/');
  char* dot = std::strrchr(path, '.');
  if (dot && (!slash || dot > slash + 1)) *dot = 0;
  std::snprintf(dest, room, "%s.nms", path);
}
}  // namespace

void TarvEngineReset() {
  LogStateClear();
  VarStoreClear();
  RunStateClear();
  StepArgsClear();
  ZeroRecord(&sgNms, sizeof sgNms);
}

int TarvStartCmdLine(const char* cmdLine, const char* programDir) {
  const int64_t started = std::time(nullptr);
  TarvEngineReset();
  sgLog.StartTime = std::time(nullptr);
  sgLog.Pid = ProcessId();
  std::snprintf(sgLog.CmdLine, sizeof sgLog.CmdLine, "%.*s", CMDLINE_MAX, cmdLine);

  char mode[1024];
  char script[1024];
  char fileName[1024];
  if (CmdWord(3, script) < 0) {
    std::snprintf(sgLog.FileName, sizeof sgLog.FileName, "%slog/debug_tarv.nms_%ld_%d.htm",
                  programDir, static_cast<long>(started), sgLog.Pid);
  } else {
    CmdWord(2, mode);
    PathFileName(script, fileName);
    int n = std::snprintf(sgLog.FileName, sizeof sgLog.FileName, "%slog/%s_%s_%ld_%d.htm",
                          programDir, mode, fileName, static_cast<long>(started), sgLog.Pid);
    // A name cut at the record's end would log somewhere unexpected: log nowhere.
    if (n >= static_cast<int>(sizeof sgLog.FileName)) sgLog.FileName[0] = 0;
  }
  return tarv_init_nms();
}

int TarvStart(int argc, const char* const* argv) {
  char program[1024];
  if (ProgramPath(program, sizeof program) < 0)
    std::snprintf(program, sizeof program, "%s", argc > 0 ? argv[0] : "tarv");
  char cmd[2048];
  int len = std::snprintf(cmd, sizeof cmd, "%s", program);
  for (int i = 1; i < argc && len < CMDLINE_MAX; i++)
    len += std::snprintf(cmd + len, sizeof cmd - len, " %s", argv[i]);
  if (len > CMDLINE_MAX) len = CMDLINE_MAX;
  cmd[len] = 0;
  char dir[1024];
  PathDirectory(program, dir);
  return TarvStartCmdLine(cmd, dir);
}

int tarv_init_nms() {
  VarStoreClear();
  RunStateClear();

  TarvSetVarInt2("run.steps", 65536);
  TarvSetVarInt2("run.seconds", 1048576);
  TarvSetVarInt2("run.errors", 65536);
  TarvSetVarInt2("step.line", 1024);
  TarvSetVarInt2("step.errors", 512);
  TarvSetVarInt2("step.bytes", 4194304);
  TarvSetVarInt2("var.count", 65536);
  TarvSetVarInt2("var.bytes", 1048576);
  TarvSetVarInt2("text.bytes", 4194304);
  TarvSetVarInt2("text.headpointer", 4194304);
  TarvSetVarInt2("text.tailpointer", 4194304);
  TarvSetVarInt2("run.pid", sgLog.Pid);

  char word[1024];
  char name[64];
  for (int n = 1; n <= 10; n++) {
    int len = CmdWord(n, word);
    if (len < 0) break;
    std::snprintf(name, sizeof name, "run.arg.%d", n);
    TarvSetVar4(name, static_cast<int>(std::strlen(name)), word, len);
    sgRun.ArgCount = n;
    if (n == 1) {
      const char* path = word[0] == '"' ? word + 1 : word;
      char dir[1024];
      int dl = PathDirectory(path, dir);
      TarvSetVar4("run.path", 8, dir, dl - 1);
    }
  }
  TarvSetVarInt2("run.arg.count", sgRun.ArgCount);
  TarvSetVar2("run.version", kVersion);
  TarvSetVar2("os.type", "linux");
  char os[32];
  int ol = OsVersion(os, sizeof os);
  TarvSetVar3("os.version", os, ol);

  sgLog.LogLevel = 4;
  char script[1024] = {};
  if (sgRun.ArgCount < 2) {
    sgRun.RunMode = RUNMODE_STEP;
    sgLog.LogLevel = 0;
    if (CmdWord(1, word) > 0) ScriptBesideProgram(word, script, sizeof script);
  } else {
    char mode[1024];
    CmdWord(2, mode);
    struct {
      const char* word;
      int bytes;
      int runMode;
      int level;
    } const modes[] = {{"hide", 4, RUNMODE_HIDE, 0},
                       {"debug", 5, RUNMODE_STEP, 4},
                       {"trace", 5, RUNMODE_STEP, 2},
                       {"error", 5, RUNMODE_STEP, 1},
                       {"nolog", 5, RUNMODE_STEP, 0}};
    sgRun.RunMode = RUNMODE_STEP;
    sgLog.LogLevel = 4;
    for (const auto& m : modes) {
      if (std::strncmp(mode, m.word, m.bytes) == 0) {
        sgRun.RunMode = m.runMode;
        sgLog.LogLevel = m.level;
        break;
      }
    }
    if (CmdWord(3, script) < 0) script[0] = 0;
  }
  TarvSetVar2("nms.file", script);
  TarvLoadParserScript(script);

  sgRun.RunSteps = 0;
  sgRun.CurLine = 1;
  sgRun.StepRunState = 0;
  sgRun.StepTimeout = 10;
  EsCreateSourceInit();
  TarvFamiliesReset();
  TarvDebugLog("\ntarv_init_nms() end,sgRun.RunMode=<%d>,sgLog.LogLevel=<%d>", sgRun.RunMode,
               sgLog.LogLevel);
  return 0;
}
