// Shared by the fuzz targets: runs a script through the engine alone (no
// family registered, so every family's statement answers -99), with the
// statements that reach outside the process taken out and a bounded number
// of steps.
#pragma once
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/core/engine.h"
#include "engine/core/family.h"
#include "engine/core/handlers.h"
#include "engine/core/run_state.h"
#include "engine/core/statement_table.h"
#include "engine/log/log_sink.h"
#include "engine/log/reporters.h"

namespace fuzzrun {

inline constexpr int kMaxSteps = 2000;

// The folder the script is written to; it has no log folder, so no run
// writes a log.
inline const std::string& Folder() {
  static const std::string dir = [] {
    char tmpl[] = "/tmp/tarv-fuzz-XXXXXX";
    const char* d = mkdtemp(tmpl);
    if (!d) std::abort();
    return std::string(d) + "/";
  }();
  return dir;
}

// Rows that would read or write files, sleep or load another script.
inline void LeaveOutTheOutside() {
  static bool done = false;
  if (done) return;
  done = true;
  for (FunRow& r : sgFun) {
    const std::string_view p = r.Pattern;
    if (p.find(" file ") != std::string_view::npos || p.starts_with("run.sleep") ||
        p.starts_with("run.nms"))
      r.Fun = StatementNotCompleted;
  }
  TarvSetRunErrorPause(false);
}

// Starts a run of `script` and runs at most kMaxSteps steps; `text`, when
// given, is the text buffer the script starts with.
inline void Run(std::string_view script, std::string_view text = {}) {
  LeaveOutTheOutside();
  const std::string path = Folder() + "f.nms";
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  std::fwrite(script.data(), 1, script.size(), f);
  std::fclose(f);
  const std::string cmd = Folder() + "tarv hide " + path;
  TarvStartCmdLine(cmd.c_str(), Folder().c_str());
  if (!text.empty() && text.size() < 65536) {
    std::copy(text.begin(), text.end(), sgRun.Text.begin() + 1);
    sgRun.TextLen = static_cast<int>(text.size());
    sgRun.tailPointer = sgRun.TextLen;
  }
  for (int i = 0; i < kMaxSteps && sgRun.StepRunState != RUNEND; i++) EsRunNextStep();
  // The end of the run without its remaining steps.
  TarvFamiliesEndOfRun();
  EsRunEnd();
  TarvCloseLog();
}

}  // namespace fuzzrun
