// Text buffer speed: text.replace over megabyte selections and TextAdd in
// small pieces, at the run's normal (non-debug) log level.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "engine/core/engine.h"
#include "engine/core/handlers.h"
#include "engine/log/log.h"
#include "engine/core/run_state.h"
#include "engine/core/step_args.h"
#include "engine/core/text_buffer.h"

namespace {

void Reset() {
  TarvEngineReset();
  TarvSetRunErrorPause(false);
}

void SetArg(int w, const std::string& v) {
  std::memcpy(agA[w], v.data(), v.size());
  agA[w][v.size()] = 0;
  igL[w] = static_cast<int>(v.size());
}

void LoadSelection(const std::string& text) {
  std::memcpy(sgRun.Text.data() + 1, text.data(), text.size());
  sgRun.TextLen = static_cast<int>(text.size());
  sgRun.headPointer = 1;
  sgRun.tailPointer = sgRun.TextLen;
}

// One text.replace over the whole text per iteration; the text is laid anew
// outside the timed part.
void RunReplace(benchmark::State& state, const std::string& text, const std::string& key,
                const std::string& rep) {
  Reset();
  SetArg(2, key);
  SetArg(4, rep);
  int64_t bytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    LoadSelection(text);
    state.ResumeTiming();
    benchmark::DoNotOptimize(text_replace_a2_with_a4());
    bytes += static_cast<int64_t>(text.size());
  }
  state.SetBytesProcessed(bytes);
  state.counters["result_bytes"] = sgRun.TextLen;
}

// Every byte of a 2 MiB selection matches and doubles: the result fills the
// buffer to 4 MiB.
void BM_ReplaceEveryByteGrowing(benchmark::State& state) {
  RunReplace(state, std::string(2097151, 'a'), "a", "bb");
}
BENCHMARK(BM_ReplaceEveryByteGrowing)->Unit(benchmark::kMillisecond);

// A one-byte pattern every 16 bytes across a 3,900,000-byte selection.
void BM_ReplaceSparseGrowing(benchmark::State& state) {
  std::string text(3900000, 'x');
  for (size_t i = 0; i < text.size(); i += 16) text[i] = ',';
  RunReplace(state, text, ",", ";;");
}
BENCHMARK(BM_ReplaceSparseGrowing)->Unit(benchmark::kMillisecond);

// Two bytes into one over a 4 MiB selection.
void BM_ReplaceEveryPairShrinking(benchmark::State& state) {
  std::string text;
  while (text.size() + 2 < 4194200) text += "ab";
  RunReplace(state, text, "ab", "c");
}
BENCHMARK(BM_ReplaceEveryPairShrinking)->Unit(benchmark::kMillisecond);

// For scale: the same all-matching growth done by moving the rest of the
// text at every match, on selections small enough to finish.
void BM_ReplaceMovePerMatchReference(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  std::string buf;
  for (auto _ : state) {
    buf.assign(2 * n + 2, 'a');
    int len = n;
    for (int i = 1; i <= len; i++) {
      if (buf[i] != 'a') continue;
      std::memmove(&buf[i + 2], &buf[i + 1], len - i);
      buf[i] = 'b';
      buf[i + 1] = 'b';
      len++;
      i++;
    }
    benchmark::DoNotOptimize(buf.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * n);
}
BENCHMARK(BM_ReplaceMovePerMatchReference)->Arg(1 << 14)->Arg(1 << 16)->Unit(benchmark::kMillisecond);

void BM_ReplaceEveryByteGrowingSmall(benchmark::State& state) {
  RunReplace(state, std::string(state.range(0), 'a'), "a", "bb");
}
BENCHMARK(BM_ReplaceEveryByteGrowingSmall)->Arg(1 << 14)->Arg(1 << 16)->Unit(benchmark::kMillisecond);

// 4 MiB appended in 1 KiB pieces: 4095 pieces fill the text to 4,193,280
// bytes, the most whole KiB pieces the append limit lets in.
void BM_TextAdd4MiBIn1KiBPieces(benchmark::State& state) {
  Reset();
  std::string piece(1024, 'p');
  int64_t bytes = 0;
  for (auto _ : state) {
    sgRun.TextLen = 0;
    for (int i = 0; i < 4095; i++) benchmark::DoNotOptimize(TextAdd(piece.data(), 1024));
    bytes += sgRun.TextLen;
  }
  state.SetBytesProcessed(bytes);
  state.counters["text_bytes"] = sgRun.TextLen;
}
BENCHMARK(BM_TextAdd4MiBIn1KiBPieces)->Unit(benchmark::kMillisecond);

}  // namespace
