// The udp statements: one UDP socket, a client connected to its peer or a
// server that learns its peer from the datagrams it receives.
#pragma once

int udp_server_listen_port_a4();
int udp_client_connect_ip_a4_port_a6();
int udp_send_a2();
int udp_send_text();
int udp_recv_a2_packets();
int udp_recv_a2_seconds();
int udp_close();

// Publishes the current peer as udp.server.ip/port (client mode) or
// udp.client.ip/port (server mode).
void UdpSetVar_Remote_Addr_port();
