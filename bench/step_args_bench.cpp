// Cost of preparing one step: three arguments with substitutions.
#include <benchmark/benchmark.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/core/engine.h"
#include "engine/log/log.h"
#include "engine/core/run_state.h"
#include "engine/core/step_args.h"
#include "engine/core/var_store.h"

namespace {

void BM_PrepareStep(benchmark::State& state) {
  char dir[] = "/tmp/tarv-bench-XXXXXX";
  if (!mkdtemp(dir)) {
    state.SkipWithError("mkdtemp");
    return;
  }
  std::string script = std::string(dir) + "/b.nms";
  if (std::FILE* f = std::fopen(script.c_str(), "w")) {
    std::fputs("no.such {~a~x} {y%41~b~} {~c~-~a~}\n", f);
    std::fclose(f);
  }
  std::string log = std::string(dir) + "/log";
  mkdir(log.c_str(), 0700);
  std::string cmd = std::string(dir) + "/tarv debug " + script;
  TarvSetRunErrorPause(false);
  TarvStartCmdLine(cmd.c_str(), (std::string(dir) + "/").c_str());
  TarvSetVar2("a", "alpha");
  TarvSetVar2("b", "beta");
  TarvSetVar2("c", "gamma");
  TarvSetLogLevel(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    sgRun.CurLine = 1;
    benchmark::DoNotOptimize(EsPrepareStep());
  }
  TarvCloseLog();
  std::string rm = std::string("rm -rf ") + dir;
  if (std::system(rm.c_str()) != 0) state.SkipWithError("cleanup");
}
BENCHMARK(BM_PrepareStep)->Arg(0)->Arg(4);

}  // namespace
