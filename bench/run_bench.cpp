// The step function's cost on a loop that never ends (loop.begin, var,
// if.var, if.end, loop.next), in the hide mode and at log level 4 writing
// the HTML log, with the heap allocations made while steps run.
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "engine/core/engine.h"
#include "engine/log/log.h"
#include "engine/core/run_state.h"

// Every heap allocation of the process is counted here and handed on to the
// C library's allocator.
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);
}

namespace {
std::atomic<long> gAllocs{0};
}

extern "C" {
void* malloc(size_t n) {
  gAllocs.fetch_add(1, std::memory_order_relaxed);
  return __libc_malloc(n);
}
void* calloc(size_t n, size_t size) {
  gAllocs.fetch_add(1, std::memory_order_relaxed);
  return __libc_calloc(n, size);
}
void* realloc(void* p, size_t n) {
  gAllocs.fetch_add(1, std::memory_order_relaxed);
  return __libc_realloc(p, n);
}
void free(void* p) { __libc_free(p); }
}

namespace {

constexpr const char* kEndlessLoop =
    "var {i} value {0}\n"
    "loop.begin\n"
    "var {i} add number {1}\n"
    "if.var {i} < {0}\n"
    "loop.exit\n"
    "if.end\n"
    "loop.next\n"
    "loop.end\n";

// A private folder with the script and, for a logged run, a log folder.
class Workspace {
 public:
  explicit Workspace(bool withLog) {
    std::string tmpl = (std::filesystem::temp_directory_path() / "tarv-bench-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) std::abort();
    dir_ = tmpl;
    std::ofstream(dir_ / "loop.nms") << kEndlessLoop;
    if (withLog) std::filesystem::create_directory(dir_ / "log");
  }
  ~Workspace() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string Dir() const { return dir_.string() + "/"; }
  std::string Script() const { return (dir_ / "loop.nms").string(); }
  uintmax_t LogBytes() const {
    uintmax_t n = 0;
    std::error_code ec;
    if (std::filesystem::exists(dir_ / "log"))
      for (const auto& e : std::filesystem::directory_iterator(dir_ / "log", ec))
        n += e.file_size(ec);
    return n;
  }

 private:
  std::filesystem::path dir_;
};

void RunSteps(benchmark::State& state, int level) {
  Workspace ws(level > 0);
  TarvSetRunErrorPause(false);
  const std::string cmd = ws.Dir() + "tarv hide " + ws.Script();
  TarvStartCmdLine(cmd.c_str(), ws.Dir().c_str());
  TarvSetLogLevel(level);
  // Warm up: the searches fill the jump caches, the log file opens.
  for (int i = 0; i < 100; i++) EsRunNextStep();
  const uintmax_t logBefore = ws.LogBytes();
  const long allocsBefore = gAllocs.load();
  for (auto _ : state) EsRunNextStep();
  const long allocs = gAllocs.load() - allocsBefore;
  TarvCloseLog();
  const double steps = static_cast<double>(state.iterations());
  state.counters["steps/s"] = benchmark::Counter(steps, benchmark::Counter::kIsRate);
  state.counters["allocs/step"] = static_cast<double>(allocs) / steps;
  if (level > 0)
    state.counters["log bytes/step"] = static_cast<double>(ws.LogBytes() - logBefore) / steps;
  if (sgRun.StepRunState == RUNEND || sgRun.RunErrors != 0)
    state.SkipWithError("the loop ended or failed");
  TarvEngineReset();
}

void BM_StepHide(benchmark::State& state) { RunSteps(state, 0); }
BENCHMARK(BM_StepHide)->MinTime(1.0);

// The log grows by some kilobytes a step: a fixed count keeps it bounded.
void BM_StepLogLevel4(benchmark::State& state) { RunSteps(state, 4); }
BENCHMARK(BM_StepLogLevel4)->Iterations(100000);

}  // namespace
