// Parser and variable-store costs.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "engine/core/engine.h"
#include "engine/log/log.h"
#include "engine/core/script.h"
#include "engine/core/var_store.h"

namespace {

// A script at every limit at once: 65531 bytes, 4091 words, 1023 lines.
std::string MaximalScript() {
  std::string s;
  for (int line = 1; line <= 1023; line++) {
    int words = line <= 1022 ? 4 : 4091 - 4 * 1022;
    for (int w = 0; w < words; w++) {
      if (w == 0) s += "var";
      else if (w == 2) s += "value";
      else s += "{abc}";
      s += w + 1 < words ? " " : "\n";
    }
  }
  s.resize(65531 - 1, ' ');
  s += "\n";
  return s;
}

void BM_ParseMaximalScript(benchmark::State& state) {
  TarvEngineReset();
  const std::string script = MaximalScript();
  for (auto _ : state) {
    std::memset(&sgNms, 0, sizeof sgNms);
    std::memcpy(sgNms.Script.data() + 1, script.data(), script.size());
    sgNms.Script[0] = ' ';
    sgNms.ScriptLen = static_cast<int>(script.size());
    ParserWord();
    ParserLine();
    benchmark::DoNotOptimize(sgNms.FunID[1023]);
  }
  state.counters["words"] = sgNms.WordCount;
  state.counters["lines"] = sgNms.LineCount;
}
BENCHMARK(BM_ParseMaximalScript);

void FillStore(int n) {
  TarvEngineReset();
  char name[32];
  for (int i = 0; i < n; i++) {
    int l = std::snprintf(name, sizeof name, "variable.%d", i);
    TarvSetVar4(name, l, "v", 1);
  }
}

void BM_SetGet(benchmark::State& state) {
  FillStore(static_cast<int>(state.range(0)));
  char buf[1024];
  for (auto _ : state) {
    TarvSetVar4("probe.name", 10, "12345", 5);
    benchmark::DoNotOptimize(TarvGetVar4("probe.name", 10, buf, sizeof buf));
  }
  state.counters["vars"] = sgVar.Count;
}
BENCHMARK(BM_SetGet)->Arg(0)->Arg(4093);

}  // namespace
