// The helper services: handlers with no statement of their own (nothing in
// the statement table reaches them), the helper's listen port and the
// service dispatcher with its proxy settings and screen servers.
#pragma once
#include <cstdint>

inline constexpr int HELPER_PROXY_IP = 1024;
inline constexpr int HELPER_SCREEN_DATAGRAM = 1020;  // bytes taken of one drawing datagram

struct HelperState {
  int32_t ListenPort;
  int32_t UdpSocket;  // the screen services' socket; -1: none
  char ProxyIp[HELPER_PROXY_IP];
  int32_t ProxyPort;
  int32_t type;  // 1 after a tcp.proxy service
  // screen.proxy forwards every datagram on this socket, connected to the
  // address and port that words 3 and 5 of the service text name; -1: no
  // forwarding.
  int32_t ForwardSocket;
  int64_t ForwardBytes;
  int64_t ForwardCount;
};

extern HelperState sgHelper;

// Closes the helper's sockets and clears the record.
void HelperStateClear();

// The screen services receive without end.  Test seam: with a limit above
// 0 they return after that many receives.
void HelperSetScreenReceiveLimit(int64_t receives);

int helper_open_ip_a3_port_a5();
int helper_open_host_a3_port_a5();
int helper_listen_port_a3();
int helper_recv_request();
int helper_recv_answer();
int helper_recv_time_a3_seconds();
int helper_send_text_selected();
int helper_send_end();
int helper_send_string_a3();
int helper_send_var_a3();
int helper_send_sys_file_a3();
int helper_close();
int helper_service_a2();
