// The expect loop over received bytes that wait in a buffer, taken in runs
// rather than one at a time: it must end at the first match, with the text
// and what is left over as byte-by-byte reading leaves them.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "engine/core/run_state.h"
#include "services/sockets/statement_helpers.h"
#include "tests/engine/harness.h"

namespace {

// A stream offered to the expect loop either in runs of at most `offer`
// bytes (0: every byte through Take, as if none ever waited).
struct Stream {
  std::string data;
  size_t pos = 0;
  int offer = 0;
  int offered = 0;  // the size of the run now offered
  size_t expectLen = 0;
  bool lateText = false;  // the text lagged behind the 512 byte parts at a take
};
Stream g_stream;

int StreamTake(char* dest, int) {
  Stream& s = g_stream;
  // Before a wait, every whole 512 byte part that can no longer hold the
  // start of a match has gone to the text.
  const size_t parts = s.pos > s.expectLen ? (s.pos - s.expectLen) / 512 : 0;
  if (static_cast<size_t>(sgRun.TextLen) != parts * 512) s.lateText = true;
  if (s.pos >= s.data.size()) return 0;
  *dest = s.data[s.pos++];
  // What a receive brings waits behind the byte handed out.
  s.offered = static_cast<int>(std::min<size_t>(s.offer, s.data.size() - s.pos));
  return 1;
}

int StreamReady(const char** data) {
  *data = g_stream.data.data() + g_stream.pos;
  return g_stream.offered;
}

void StreamSkip(int n) {
  g_stream.pos += n;
  g_stream.offered -= n;
}

void StreamSettle() {}

struct Outcome {
  ExpectEnd end;
  std::string text;
  size_t left;
  bool lateText = false;
  bool operator==(const Outcome&) const = default;
};

// What the loop must leave: the bytes up to the first occurrence of the
// expected text, or all of them.
Outcome Wanted(const std::string& data, const std::string& expect) {
  const size_t at = data.find(expect);
  if (at == std::string::npos) return {ExpectEnd::NoData, data, 0};
  const size_t end = at + expect.size();
  return {ExpectEnd::Match, data.substr(0, end), data.size() - end};
}

Outcome Expect(const std::string& data, const std::string& expect, int offer) {
  g_stream = Stream{data, 0, offer, 0, expect.size(), false};
  sgRun.TextLen = 0;
  static constexpr ExpectSource kSource = {StreamTake, StreamReady, StreamSkip, StreamSettle};
  int count = 1;
  const ExpectEnd end = ExpectText(expect, kSource, &count);
  return {end, tarvtest::Text(), data.size() - g_stream.pos,
          g_stream.lateText};
}

TEST(ExpectRuns, ExpectEndsAtTheFirstMatchWhateverRunsTheBytesWaitIn) {
  tarvtest::TempDir dir;
  tarvtest::Start(dir, "# nothing\n");
  sgRun.StepTimeout = 30;
  std::mt19937 random(7);
  const std::string letters = "ab";
  for (int round = 0; round < 300; round++) {
    // Few letters: partial matches and overlaps are frequent.
    std::string data(random() % 5000, 'x');
    for (char& c : data) c = letters[random() % letters.size()];
    std::string expect(1 + random() % (round % 10 == 0 ? 1022 : 6), 'x');
    for (char& c : expect) c = letters[random() % letters.size()];
    if (round % 3 == 0) data.insert(random() % (data.size() + 1), expect);
    const Outcome wanted = Wanted(data, expect);
    for (int offer : {0, 1, 7, 512, 2047, 100000}) {
      SCOPED_TRACE("round " + std::to_string(round) + ", runs of " + std::to_string(offer));
      EXPECT_TRUE(Expect(data, expect, offer) == wanted);
    }
  }
}

}  // namespace
