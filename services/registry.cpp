#include "services/registry.h"

#include "engine/core/family.h"
#include "services/database/database_family.h"
#include "services/httpd/http_server.h"
#include "services/netdiag/netdiag.h"
#include "services/process/child_process.h"
#include "services/scripthost/script_host.h"
#include "services/snmp/snmp_statements.h"
#include "services/sockets/tcp_statements.h"
#include "services/ssh/ssh_client.h"
#include "services/web/web_client.h"
#include "services/telnet/telnet_session.h"
#include "window/screen/screen_statements.h"

void TarvRegisterFamilies() {
  const Family* const families[] = {
      SocketsFamily(),
      ProcessFamily(),
      ScriptHostFamily(),
      DatabaseFamily(),
      HttpdFamily(),
      WebFamily(),
      SnmpFamily(),
      SshFamily(),
      NetdiagFamily(),
      TelnetFamily(),
      ScreenFamily(),
  };
  for (const Family* f : families) TarvRegisterFamily(f);
}
