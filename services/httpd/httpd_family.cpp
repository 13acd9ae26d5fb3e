// The HTTP server family; its sockets are closed when a run ends and when
// the engine starts the next one.
#include "engine/core/family.h"
#include "services/httpd/http_server.h"

namespace {
constexpr FamilyHandler kHandlers[] = {
    {168, http_listen_port_a3_root_dir_a6},
    {169, http_recv_request},
    {170, http_send_head},
    {172, http_send_a2},
    {173, http_send_text},
    {174, http_send_end},
};

constexpr Family kFamily = {"httpd", kHandlers, HttpStateClear, HttpStateClear};
}  // namespace

const Family* HttpdFamily() { return &kFamily; }
