#include "tests/engine/harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <random>
#include <regex>
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

std::string SqliteKeptLines(const TempDir& dir) {
  return "sqlite.open {" + dir.File("t.db") + "}\n"
         "var {a} value {kept}\n"
         "sqlite.save var {a}\n"
         "var {a} value {lost}\n"
         "sqlite.load var {a}\n"
         "sqlite.close\n";
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

std::string Text() { return std::string(sgRun.Text.data() + 1, sgRun.TextLen); }

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
  return n;
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

bool gHooked;
}  // namespace

// A second hook would take the first one for the real handlers and call
// itself for ever.
HandlerHook::HandlerHook(int (*hook)()) {
  if (std::exchange(gHooked, true)) ADD_FAILURE() << "a HandlerHook is already alive (RunCase holds one)";
  for (int i = 0; i < MAX_FUN; i++) gRealHandlers[i] = std::exchange(sgFun[i].Fun, hook);
}

HandlerHook::~HandlerHook() {
  for (int i = 0; i < MAX_FUN; i++) sgFun[i].Fun = gRealHandlers[i];
  gHooked = false;
}

int RunRealHandler() { return gRealHandlers[sgNms.FunID[sgRun.CurLine]](); }

std::string LogInto(const TempDir& dir) {
  std::filesystem::create_directory(dir.path() / "log");
  std::string path = dir.File("log/run.htm");
  std::snprintf(sgLog.FileName, sizeof sgLog.FileName, "%s", path.c_str());
  return path;
}

}  // namespace tarvtest

namespace tarvtest {

namespace {
std::map<int, int>* gCodes;
int RecordCode() {
  const int line = sgRun.CurLine;
  const int rc = RunRealHandler();
  (*gCodes)[line] = rc;
  return rc;
}

bool Digit(char c) { return c >= '0' && c <= '9'; }

bool Updating() {
  const char* update = std::getenv("TARV_UPDATE_GOLDEN");
  return update && std::string(update) == "1";
}

// The digits (and dots) right after each occurrence of prefix become mask.
std::string MaskAfter(std::string s, const std::string& prefix, const std::string& mask) {
  for (size_t p = s.find(prefix); p != std::string::npos; p = s.find(prefix, p + prefix.size())) {
    size_t to = p + prefix.size();
    while (to < s.size() && (Digit(s[to]) || s[to] == '.')) to++;
    if (to > p + prefix.size()) s.replace(p + prefix.size(), to - p - prefix.size(), mask);
  }
  return s;
}
}  // namespace

int Outcome::Code(int line) const {
  const auto it = codes.find(line);
  return it == codes.end() ? kNotRun : it->second;
}

std::string Outcome::ErrorOn(int line) const {
  for (size_t k = 0; k < errors.size(); k++)
    if (errorLines[k] == line) return errors[k];
  return "";
}

Outcome RunCase(const TempDir& dir, const std::string& script,
                const std::function<void()>& prepare, const std::string& mode, long maxSteps) {
  Outcome o;
  gCodes = &o.codes;
  {
    HandlerHook hook(RecordCode);
    Start(dir, script, mode);
    if (prepare) prepare();
    long n = 0;
    for (; n < maxSteps && sgRun.StepRunState != RUNEND; n++) EsRunNextStep();
    EXPECT_EQ(sgRun.StepRunState, RUNEND) << "still running at line " << sgRun.CurLine;
    sgRun.StepRunState = RUNEND;
    TarvRunToEnd();
  }
  gCodes = nullptr;
  o.errors = RunErrors();
  for (int k = 1; k <= sgRun.RunErrors; k++) {
    const std::string v = Var("run.error." + std::to_string(k));
    const size_t at = v.find("Line No. [");
    o.errorLines.push_back(at == std::string::npos ? 0 : std::atoi(v.c_str() + at + 10));
  }
  o.text = Text();
  o.nmsErrors = sgNms.ErrCount;
  return o;
}

std::string MaskLog(std::string log, const std::string& dir) {
  // Local times "2024-01-31,08:05:09,42" (one to three digits at the end).
  static const std::string kShape = "dddd-dd-dd,dd:dd:dd,d";
  std::string out;
  for (size_t i = 0; i < log.size();) {
    size_t k = 0;
    while (k < kShape.size() && i + k < log.size() &&
           (kShape[k] == 'd' ? Digit(log[i + k]) : log[i + k] == kShape[k]))
      k++;
    if (k < kShape.size()) {
      out += log[i++];
      continue;
    }
    for (int more = 0; more < 2 && i + k < log.size() && Digit(log[i + k]); more++) k++;
    out += "TIME";
    i += k;
  }
  if (!dir.empty())
    for (size_t p = out.find(dir); p != std::string::npos; p = out.find(dir, p))
      out.replace(p, dir.size(), "DIR");
  out = MaskAfter(out, "ThreadId: [", "TID");
  out = MaskAfter(out, "Pid: ", "PID");
  out = MaskAfter(out, "pid:", "PID");
  // Values of the machine, the process and the clock; the pool's fill
  // depends on the length of the folder's name.
  for (const char* var : {"run.pid", "run.seconds", "var.bytes", "os.version"}) {
    out = MaskAfter(out, var + std::string("</td><td>"), "X");
    out = MaskAfter(out, "SetVar [" + std::string(var) + "] value [", "X");
  }
  // So does a length given on a line that shows the folder or such a value.
  std::string lines;
  for (size_t at = 0; at < out.size();) {
    const size_t end = std::min(out.find('\n', at), out.size());
    std::string line = out.substr(at, end - at);
    if (line.find("DIR") != std::string::npos || line.find("value [X]") != std::string::npos)
      line = MaskAfter(line, "len [", "N");
    lines += line + (end < out.size() ? "\n" : "");
    at = end + 1;
  }
  return lines;
}

std::string LogsIn(const TempDir& dir) {
  std::string log;
  if (!std::filesystem::exists(dir.path() / "log")) return log;
  for (const auto& e : std::filesystem::directory_iterator(dir.path() / "log"))
    log += ReadFile(e.path().string());
  return MaskLog(log, dir.path().string());
}

void ExpectGolden(const std::string& name, const std::string& actual) {
  const std::string path = std::string(TARV_SOURCE_DIR) + "/tests/golden/" + name;
  if (Updating()) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << actual;
    return;
  }
  ASSERT_TRUE(std::filesystem::exists(path))
      << path << " is missing; TARV_UPDATE_GOLDEN=1 writes it";
  const std::string want = ReadFile(path);
  if (want == actual) return;
  size_t at = 0;
  while (at < want.size() && at < actual.size() && want[at] == actual[at]) at++;
  const size_t from = at < 200 ? 0 : at - 200;
  ADD_FAILURE() << name << " differs at byte " << at << " (TARV_UPDATE_GOLDEN=1 rewrites it)"
                << "\n--- golden from byte " << from << ":\n" << want.substr(from, 400)
                << "\n--- actual from byte " << from << ":\n" << actual.substr(from, 400);
}

bool Shaped(const std::string& text, const std::string& shape) {
  size_t t = 0;
  for (const char c : shape) {
    if (c != '9' && c != '#') {
      if (t >= text.size() || text[t++] != c) return false;
      continue;
    }
    if (t >= text.size() || !Digit(text[t++])) return false;
    while (c == '#' && t < text.size() && Digit(text[t])) t++;
  }
  return t == text.size();
}

std::string Section(const std::string& title, const std::string& text) {
  return "== " + title + " ==\n" + text + "\n";
}

}  // namespace tarvtest

namespace tarvtest {

std::string Shown(const std::string& bytes) {
  std::string out;
  for (size_t i = 0; i < bytes.size();) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    std::string b(1, bytes[i]);
    if (c < 0x20 || c == 0x7f || c == '%') {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02x", c);
      b = hex;
    }
    size_t n = 1;
    while (i + n < bytes.size() && bytes[i + n] == bytes[i]) n++;
    if (n >= 8 && b.find_first_of("*{}") == std::string::npos) {
      out += "{{" + b + "*" + std::to_string(n) + "}}";
    } else {
      for (size_t k = 0; k < n; k++) out += b;
    }
    i += n;
  }
  // A blank at the end of a line would not survive editors.
  if (!out.empty() && out.back() == ' ') out.replace(out.size() - 1, 1, "%20");
  return out;
}

namespace {

// {{X*N}} becomes X N times.
std::string Expanded(const std::string& text) {
  static const std::regex kRun(R"(\{\{([^*{}]*)\*(\d+)\}\})");
  std::string out;
  auto at = text.cbegin();
  for (std::sregex_iterator m(text.begin(), text.end(), kRun), end; m != end; ++m) {
    out.append(at, (*m)[0].first);
    for (int n = std::stoi((*m)[2]); n > 0; n--) out += (*m)[1].str();
    at = (*m)[0].second;
  }
  return out.append(at, text.cend());
}

std::string CaseFile(const std::string& name) {
  return std::string(TARV_SOURCE_DIR) + "/tests/engine/cases/" + name;
}

std::string Replaced(std::string s, const std::string& from, const std::string& to) {
  for (size_t p = s.find(from); p != std::string::npos; p = s.find(from, p + to.size()))
    s.replace(p, from.size(), to);
  return s;
}

// " " and the bytes shown; nothing for no bytes.
std::string Spaced(const std::string& bytes) { return bytes.empty() ? "" : " " + Shown(bytes); }

// What a case's run left, one line per fact.
std::string CaseOutcome(const TempDir& dir, const std::string& script,
                        const std::vector<std::string>& shownBuiltIns) {
  const std::string d = dir.path().string();
  const Outcome o = RunCase(dir, Replaced(Expanded(script), "DIR", d));
  std::string out;
  if (!o.codes.empty()) {
    out += "codes:";
    for (const auto& [line, code] : o.codes) out += " " + std::to_string(line) + ":" + std::to_string(code);
    out += "\n";
  }
  for (size_t k = 0; k < o.errors.size(); k++)
    out += "error " + std::to_string(o.errorLines[k]) + ": " + Shown(o.errors[k]) + "\n";
  for (int k = 1; k <= o.nmsErrors; k++)
    out += "script error: " + Shown(Var("nms.error." + std::to_string(k))) + "\n";
  if (!o.text.empty()) out += "text: " + Shown(o.text) + "\n";
  if (sgRun.headPointer != 0 || sgRun.tailPointer != 0)
    out += "head " + std::to_string(sgRun.headPointer) + " tail " + std::to_string(sgRun.tailPointer) + "\n";
  if (sgRun.StepTimeout != 10 || sgRun.MaxRunTime != 0 || sgLog.LogLevel != 0 || sgRun.OnError != 0)
    out += "settings: step timeout " + std::to_string(sgRun.StepTimeout) + ", run max time " +
           std::to_string(sgRun.MaxRunTime) + ", log level " + std::to_string(sgLog.LogLevel) +
           ", on error " + std::to_string(sgRun.OnError) + "\n";
  if (sgRun.tailPointer > sgRun.TextLen && sgRun.tailPointer < TEXT_SIZE)
    out += "behind the text, up to the tail: " +
           Shown(std::string(sgRun.Text.data() + sgRun.TextLen + 1, sgRun.tailPointer - sgRun.TextLen)) + "\n";
  for (int i = 1; i <= sgVar.Count; i++) {
    const std::string name(VarName(i), sgVar.NameLen[i]);
    bool builtIn = false;
    for (const char* prefix : {"run.", "step.", "var.", "text.", "nms.", "os."})
      builtIn = builtIn || name.starts_with(prefix);
    if (!builtIn || std::find(shownBuiltIns.begin(), shownBuiltIns.end(), name) != shownBuiltIns.end())
      out += "var " + Shown(name) + " =" + Spaced(std::string(VarValue(i), sgVar.ValLen[i])) + "\n";
  }
  std::vector<std::string> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir.path()))
    if (e.is_regular_file() && e.path().filename() != "t.nms")
      files.push_back(std::filesystem::relative(e.path(), dir.path()).string());
  std::sort(files.begin(), files.end());
  for (const auto& f : files) out += "file " + f + ":" + Spaced(ReadFile(dir.File(f))) + "\n";
  return Replaced(out, d, "DIR");
}

}  // namespace

void ExpectCaseFile(const std::string& name) {
  std::istringstream in(ReadFile(CaseFile(name)));
  std::string rewritten, line;
  int cases = 0;
  while (std::getline(in, line)) {
    rewritten += line + "\n";
    if (!line.starts_with("=== ")) continue;
    cases++;
    const std::string title = line;
    std::vector<std::string> shown;
    std::istringstream names(line.find(" | ") == std::string::npos ? "" : line.substr(line.find(" | ") + 3));
    for (std::string n; names >> n;) shown.push_back(n);
    std::string script, was;
    while (std::getline(in, line) && line != "---") script += line + "\n";
    while (std::getline(in, line) && !line.empty()) was += line + "\n";
    TempDir dir;
    const std::string now = CaseOutcome(dir, script, shown);
    TarvEngineReset();
    EXPECT_EQ(was, now) << name << ", " << title;
    rewritten += script + "---\n" + now + "\n";
  }
  EXPECT_GT(cases, 0) << name;
  if (Updating()) std::ofstream(CaseFile(name), std::ios::binary) << rewritten;
}

void ExpectLineCases(const std::string& name,
                     const std::function<std::string(const std::string&)>& fn) {
  std::istringstream in(ReadFile(CaseFile(name)));
  std::string rewritten;
  int cases = 0;
  for (std::string line; std::getline(in, line);) {
    const size_t arrow = line.find(" =>");
    if (arrow != std::string::npos && !line.starts_with("#")) {
      cases++;
      const std::string input = line.substr(0, arrow);
      std::string bytes = Expanded(input);
      for (size_t p = bytes.find('%'); p != std::string::npos && p + 2 < bytes.size(); p = bytes.find('%', p + 1))
        bytes.replace(p, 3, 1, static_cast<char>(std::stoi(bytes.substr(p + 1, 2), nullptr, 16)));
      const std::string now = input + " =>" + Spaced(fn(bytes));
      EXPECT_EQ(line, now) << name;
      line = now;
    }
    rewritten += line + "\n";
  }
  EXPECT_GT(cases, 0) << name;
  if (Updating()) std::ofstream(CaseFile(name), std::ios::binary) << rewritten;
}

}  // namespace tarvtest
