#include "services/registry.h"

#include "engine/core/family.h"
#include "services/netdiag/netdiag.h"
#include "services/process/child_process.h"
#include "services/scripthost/script_host.h"
#include "services/sockets/tcp_statements.h"

void TarvRegisterFamilies() {
  const Family* const families[] = {
      SocketsFamily(),
      ProcessFamily(),
      ScriptHostFamily(),
      NetdiagFamily(),
  };
  for (const Family* f : families) TarvRegisterFamily(f);
}
