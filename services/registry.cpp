#include "services/registry.h"

#include "engine/core/family.h"
#include "services/process/child_process.h"
#include "services/scripthost/script_host.h"
#include "services/sockets/tcp_statements.h"
#include "services/telnet/telnet_session.h"

void TarvRegisterFamilies() {
  const Family* const families[] = {
      SocketsFamily(),
      ProcessFamily(),
      ScriptHostFamily(),
      TelnetFamily(),
  };
  for (const Family* f : families) TarvRegisterFamily(f);
}
