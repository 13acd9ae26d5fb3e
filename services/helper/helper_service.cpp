#include "services/helper/helper_service.h"

#include <cstring>
#include <string_view>

#include "engine/core/run_state.h"
#include "engine/core/step_args.h"
#include "engine/core/var_store.h"
#include "engine/log/log.h"
#include "engine/util/util.h"
#include "services/sockets/socket_layer.h"
#include "services/sockets/statement_helpers.h"
#include "window/draw/draw.h"

HelperState sgHelper = {0, -1, {}, 0, 0, -1, 0, 0};

namespace {

constexpr int kPortMax = 65534;
constexpr int kWordRoom = 1024;
constexpr int kProxyState = 200;  // the line runs again at the next step

int64_t gScreenReceiveLimit = 0;

int NotCompleted(const char* name) {
  sgRun.StepRunState = ENDOK;
  TarvDebugLog("\n%s ,begin ...", name);
  return NmsRunError(-99, "%s:This statement is not yet completed.", name);
}

// Argument 2 begins with the service's name, compared over the name's length.
bool Selects(std::string_view service) {
  return igL[2] >= static_cast<int>(service.size()) &&
         std::memcmp(agA[2], service.data(), service.size()) == 0;
}

// Word `index` of argument 2, NUL-terminated in dest (kWordRoom bytes): its
// length, or a negative result when there is no such word.
int ServiceWord(int index, char* dest) {
  const int n = TarvGetWord3(agA[2], index, dest);
  dest[n > 0 ? n : 0] = 0;
  return n > 0 ? n : -1;
}

int TcpProxy() {
  sgRun.StepRunState = kProxyState;
  sgHelper.type = 1;
  char word[kWordRoom];
  const int ipLen = ServiceWord(3, word);
  if (ipLen < 0) {
    sgRun.StepRunState = ENDOK;
    return NmsRunError(-1, "tcp.proxy get server.ip Err < 0");
  }
  std::memcpy(sgHelper.ProxyIp, word, static_cast<size_t>(ipLen) + 1);
  TarvSetVar4("tcp.proxy.ip", 12, word, ipLen);
  if (ServiceWord(5, word) < 0) {
    sgRun.StepRunState = ENDOK;
    return NmsRunError(-2, "tcp.proxy get server.port Err < 0");
  }
  sgHelper.ProxyPort = TarvAtoi(word);
  TarvSetVarInt2("tcp.proxy.port", sgHelper.ProxyPort);
  TarvSetVarInt2("helper.type", 1);
  return TarvReturn(0, "helper_service_a2->A:2(tcp.proxy) return.");
}

// screen.proxy's forwarding peer: words 3 and 5 of the service text, an IPv4
// address and a port.  Without them nothing is forwarded.
void OpenForwarding() {
  WinCloseSocket(&sgHelper.ForwardSocket);
  sgHelper.ForwardBytes = sgHelper.ForwardCount = 0;
  char ip[kWordRoom];
  char port[kWordRoom];
  if (ServiceWord(3, ip) < 0 || ServiceWord(5, port) < 0 || TarvIsIpV4(ip) != 0) return;
  const int p = TarvAtoi(port);
  if (p < 1 || p > kPortMax) return;
  const int fd = WinUdpConnect2(ip, p);
  sgHelper.ForwardSocket = fd >= 0 ? fd : -1;
  // The forwarding socket is connected to its peer: sends go there, never to
  // the last sender.
  sgUdp.Mode = 0;
}

struct ScreenService {
  const char* listenError;
  const char* recvError;
  const char* done;
  bool forward;
};

constexpr ScreenService kScreenServer = {"screen.server listen  Err!",
                                         "\nscreen.server recv = %d <0, err!",
                                         "helper_service_a2->A:2(screen.server) return.", false};
constexpr ScreenService kScreenProxy = {"screen.proxy listen  Err!",
                                        "\nscreen.proxy recv = %d <0, err!",
                                        "helper_service_a2->A:2(screen.proxy) return.", true};

// One drawing command per datagram, without end (or up to the test limit).
int RunScreen(const ScreenService& s) {
  if (s.forward) OpenForwarding();
  WinCloseSocket(&sgHelper.UdpSocket);
  const int fd = WinUdpListen(sgHelper.ListenPort);
  if (fd < 0) return NmsRunError(-2, "%s", s.listenError);
  sgHelper.UdpSocket = fd;
  char buf[HELPER_SCREEN_DATAGRAM + 1];
  for (int64_t k = 0; gScreenReceiveLimit <= 0 || k < gScreenReceiveLimit; k++) {
    const int n = WinUdpRecv3(sgHelper.UdpSocket, buf, HELPER_SCREEN_DATAGRAM);
    if (n < 0) {
      TarvDebugLog(s.recvError, n);
      continue;
    }
    buf[n] = 0;
    ScreenCommand(buf, n);
    if (!s.forward || sgHelper.ForwardSocket < 0) continue;
    const int sent = WinUdpSend3(sgHelper.ForwardSocket, buf, n);
    if (sent < 0) continue;
    sgHelper.ForwardBytes += sent;
    sgHelper.ForwardCount++;
  }
  WinCloseSocket(&sgHelper.UdpSocket);
  return TarvReturn(0, "%s", s.done);
}

}  // namespace

void HelperStateClear() {
  WinCloseSocket(&sgHelper.UdpSocket);
  WinCloseSocket(&sgHelper.ForwardSocket);
  sgHelper = {0, -1, {}, 0, 0, -1, 0, 0};
}

void HelperSetScreenReceiveLimit(int64_t receives) { gScreenReceiveLimit = receives; }

int helper_open_ip_a3_port_a5() { return NotCompleted("helper_open_ip_a3_port_a5"); }
int helper_open_host_a3_port_a5() { return NotCompleted("helper_open_host_a3_port_a5"); }
int helper_recv_request() { return NotCompleted("helper_recv_request"); }
int helper_recv_answer() { return NotCompleted("helper_recv_answer"); }
int helper_recv_time_a3_seconds() { return NotCompleted("helper_recv_time_a3_seconds"); }
int helper_send_text_selected() { return NotCompleted("helper_send_text_selected"); }
int helper_send_end() { return NotCompleted("helper_send_end"); }
int helper_send_string_a3() { return NotCompleted("helper_send_string_a3"); }
int helper_send_var_a3() { return NotCompleted("helper_send_var_a3"); }
int helper_send_sys_file_a3() { return NotCompleted("helper_send_sys_file_a3"); }
int helper_close() { return NotCompleted("helper_close"); }

int helper_listen_port_a3() {
  sgRun.StepRunState = ENDOK;
  TarvDebugLog("\nhelper_listen_port_a3 ,begin ...");
  int port = 0;
  if (!ArgNumber(3, 1, kPortMax, &port)) return -3;
  sgHelper.ListenPort = port;
  return TarvReturn(0, "helper_listen_port_a3 port= %d ok.", port);
}

int helper_service_a2() {
  sgRun.StepRunState = ENDOK;
  TarvDebugLog("\nhelper_service_a2 ,begin ...");
  if (Selects("tcp.proxy")) return TcpProxy();
  if (Selects("screen.server")) return RunScreen(kScreenServer);
  if (Selects("screen.proxy")) return RunScreen(kScreenProxy);
  constexpr const char* kIdle[][2] = {
      {"oracle.proxy", "helper_service_a2->A:2(oracle.proxy) return."},
      {"sms.server", "helper_service_a2->A:2(sms.server) return."},
      {"telphone.server", "helper_service_a2->A:2(telphone.server) return."},
      {"fax.server", "helper_service_a2->A:2(fax.server) return."},
  };
  for (const auto& idle : kIdle)
    if (Selects(idle[0])) return TarvReturn(0, "%s", idle[1]);
  return NmsRunError(-2, "helper_service_a2->A:2(%s) is not support!", agA[2]);
}
