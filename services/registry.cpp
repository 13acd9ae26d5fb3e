#include "services/registry.h"

#include <cstdint>
#include <cstdio>
#include <utility>

#include "engine/core/family.h"
#include "engine/core/module_loader.h"
#include "engine/statements/evaluator.h"
#include "services/httpd/http_server.h"
#include "services/netdiag/netdiag.h"
#include "services/process/child_process.h"
#include "services/sockets/tcp_statements.h"
#include "services/telnet/telnet_session.h"

// The test binary, the benchmarks and the fuzzers link every family in; the
// program loads those with libraries of their own from their modules.
#ifdef TARV_LINKED_FAMILIES
#include "services/database/database_family.h"
#include "services/mail/mail_statements.h"
#include "services/scripthost/script_host.h"
#include "services/snmp/snmp_statements.h"
#include "services/ssh/ssh_client.h"
#include "services/web/web_client.h"
#include "window/main_window.h"
#include "window/screen/screen_statements.h"
#define TARV_LINKED(getter) getter
#else
#define TARV_LINKED(getter) nullptr
#endif

namespace {
// The rows of each family kept in a module; the module's own record must
// name the same (a test compares them).
constexpr int32_t kScriptHostRows[] = {161};
constexpr int32_t kDatabaseRows[] = {131, 132, 133, 134, 135, 136, 137, 138,
                                     140, 141, 142, 143, 144, 145, 146, 147};
constexpr int32_t kWebRows[] = {162, 163, 164, 165, 166, 167};
constexpr int32_t kSnmpRows[] = {82, 83, 84};
constexpr int32_t kSshRows[] = {75, 76, 77, 78, 79, 80, 81};
constexpr int32_t kMailRows[] = {119, 120, 121, 122, 127, 128, 129, 130};
constexpr int32_t kScreenRows[] = {12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23,
                                   24, 25, 26, 27, 28, 29, 30, 31, 176, 177, 178};

constexpr LazyFamily kLazyFamilies[] = {
    {"scripthost", "scripthost", kScriptHostRows, TARV_LINKED(ScriptHostFamily)},
    {"database", "database", kDatabaseRows, TARV_LINKED(DatabaseFamily)},
    {"web", "web", kWebRows, TARV_LINKED(WebFamily)},
    {"snmp", "snmp", kSnmpRows, TARV_LINKED(SnmpFamily)},
    {"ssh", "ssh", kSshRows, TARV_LINKED(SshFamily)},
    {"screen", "window", kScreenRows, TARV_LINKED(ScreenFamily)},
    {"mail", "mail", kMailRows, TARV_LINKED(MailFamily)},
};

// "var {A2} value number {A5}" before the script host is loaded: the first
// evaluation loads it, whose reset hook puts its own evaluator in place.
int EvaluateThroughScriptHost(const char* expr, char* dest) {
  if (int rc = TarvLoadLazyFamilyInStep("scripthost")) return rc;
  // A script host that kept this evaluator would be asked for ever.
  static bool again = false;
  if (std::exchange(again, true)) return -1;
  const int n = TarvEvaluate(expr, dest);
  again = false;
  return n;
}
}  // namespace

std::span<const LazyFamily> TarvLazyFamilies() { return kLazyFamilies; }

void TarvRegisterFamilies() {
  // Again would put the evaluator back in front of a loaded script host.
  static bool registered = false;
  if (std::exchange(registered, true)) return;
  const Family* const families[] = {
      SocketsFamily(), ProcessFamily(), HttpdFamily(), NetdiagFamily(), TelnetFamily(),
  };
  for (const Family* f : families) TarvRegisterFamily(f);
  for (const LazyFamily& f : kLazyFamilies) TarvDeclareLazyFamily(&f);
  TarvSetEvaluator(EvaluateThroughScriptHost);
}

int TarvWindowMain() {
  char error[1024];
  // The screen family first: its state is reset as at the engine's start.
  if (TarvLoadLazyFamily("screen", error, sizeof error) < 0) {
    std::fprintf(stderr, "tarv: %s\n", error);
    return 1;
  }
#ifdef TARV_LINKED_FAMILIES
  return WindowMain();
#else
  void* module = TarvOpenModule("window", error, sizeof error);
  const auto run = module ? reinterpret_cast<int (*)()>(TarvModuleSymbol(module, "TarvModuleMain")) : nullptr;
  if (!run) {
    std::fprintf(stderr, "tarv: %s\n", module ? "the window module has no entry point" : error);
    return 1;
  }
  return run();
#endif
}
