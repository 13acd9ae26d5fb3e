// The socket family: the tcp and udp statements, and the socket layer's start-up at
// every initialisation.
#include "engine/core/family.h"
#include "services/sockets/socket_layer.h"
#include "services/sockets/tcp_statements.h"
#include "services/sockets/udp_statements.h"

namespace {
constexpr FamilyHandler kHandlers[] = {
    {85, tcp_server_listen_port_a4}, {86, tcp_connect_ip_a3_port_a5}, {88, tcp_send_a2},
    {89, tcp_send_text},             {90, tcp_recv_a2},               {91, tcp_recv_expect_a3},
    {92, tcp_recv_for_a3_bytes},     {93, tcp_recv_for_a3_seconds},   {94, tcp_close},
    {95, udp_server_listen_port_a4}, {96, udp_client_connect_ip_a4_port_a6},
    {97, udp_send_a2},               {98, udp_send_text},
    {99, udp_recv_a2_packets},       {100, udp_recv_a2_seconds},
    {101, udp_close},
};

void SocketsReset() { TarvWsaStartup(); }

constexpr Family kFamily = {"sockets", kHandlers, SocketsReset, nullptr};
}  // namespace

const Family* SocketsFamily() { return &kFamily; }
