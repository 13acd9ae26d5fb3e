#include "tests/engine/harness.h"

#include <array>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <utility>

#include "engine/core/engine.h"
#include "engine/log/log.h"
#include "engine/core/run_state.h"
#include "engine/core/script.h"
#include "engine/core/statement_table.h"
#include "engine/core/var_store.h"
#include "services/registry.h"

namespace tarvtest {

// Every test runs against the families the program is made of.
const bool gFamiliesRegistered = (TarvRegisterFamilies(), true);

TempDir::TempDir() {
  std::random_device rd;
  for (;;) {
    path_ = std::filesystem::temp_directory_path() / ("tarv-test-" + std::to_string(rd()));
    if (std::filesystem::create_directory(path_)) break;
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string TempDir::Write(const std::string& name, const std::string& bytes) const {
  std::string p = File(name);
  std::ofstream(p, std::ios::binary) << bytes;
  return p;
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void Start(const TempDir& dir, const std::string& script, const std::string& mode) {
  std::string path = dir.Write("t.nms", script);
  std::string cmd = dir.File("tarv") + " " + mode + " " + path;
  TarvSetRunErrorPause(false);
  TarvStartCmdLine(cmd.c_str(), (dir.path().string() + "/").c_str());
}

void Run(const TempDir& dir, const std::string& script, const std::string& mode) {
  Start(dir, script, mode);
  TarvRunToEnd();
}

std::string Var(const std::string& name) {
  int i = TarvFindVar(name.data(), static_cast<int>(name.size()));
  if (i < 0) return "<missing>";
  return std::string(VarValue(i), sgVar.ValLen[i]);
}

std::vector<std::string> RunErrors() {
  std::vector<std::string> out;
  for (int k = 1; k <= sgRun.RunErrors; k++) {
    const std::string v = Var("run.error." + std::to_string(k));
    const size_t at = v.find("Error: [");
    out.push_back(at == std::string::npos ? v : v.substr(at + 8, v.size() - at - 9));
  }
  return out;
}

namespace {
std::array<Handler, MAX_FUN> gRealHandlers;
}  // namespace

HandlerHook::HandlerHook(int (*hook)()) {
  for (int i = 0; i < MAX_FUN; i++) gRealHandlers[i] = std::exchange(sgFun[i].Fun, hook);
}

HandlerHook::~HandlerHook() {
  for (int i = 0; i < MAX_FUN; i++) sgFun[i].Fun = gRealHandlers[i];
}

int RunRealHandler() { return gRealHandlers[sgNms.FunID[sgRun.CurLine]](); }

std::string LogInto(const TempDir& dir) {
  std::filesystem::create_directory(dir.path() / "log");
  std::string path = dir.File("log/run.htm");
  std::snprintf(sgLog.FileName, sizeof sgLog.FileName, "%s", path.c_str());
  return path;
}

}  // namespace tarvtest
