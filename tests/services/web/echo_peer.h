// The web client's echo server (echo_server.py) on a free loopback port,
// plain or with a certificate, stopped by its pid.
#pragma once
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/engine/harness.h"
#include "tests/platform/local_daemon.h"
#include "tests/services/sockets/tcp_peer.h"

namespace webpeer {

inline const std::string kEcho = std::string(TARV_SOURCE_DIR) + "/tests/services/web/echo_server.py";

struct EchoPeer {
  int port = tcppeer::FreePort();
  localdaemon::Daemon proc;
  EchoPeer(const tarvtest::TempDir& dir, const std::string& cert = "", const std::string& key = "") {
    std::vector<std::string> args{"/usr/bin/python3", kEcho, std::to_string(port)};
    if (!cert.empty()) args.insert(args.end(), {cert, key});
    proc.Start(args, dir.File("echo.out"));
    up = tcppeer::Listening(port, 20000);
  }
  bool up = false;
  std::string Url(const std::string& path, const char* scheme = "http") const {
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(port) + path;
  }
};

// The client must reach the loopback peers straight and trust only the
// certificate a test gives it, whatever the environment says.
inline void ClearClientEnvironment() {
  unsetenv("CURL_CA_BUNDLE");
  for (const char* v : {"http_proxy", "https_proxy", "HTTPS_PROXY", "ALL_PROXY", "all_proxy"}) unsetenv(v);
}

}  // namespace webpeer
