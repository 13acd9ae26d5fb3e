// The web client family; the session is ended at each initialisation and
// when a run ends.
#include "engine/core/family.h"
#include "services/web/web_client.h"

namespace {
constexpr FamilyHandler kHandlers[] = {
    {162, web_open_a2}, {163, web_add_header_a3_value_a5}, {164, web_add_var_a3},
    {165, web_get},     {166, web_post},                   {167, web_close},
};

constexpr Family kFamily = {"web", kHandlers, WebStateClear, WebStateClear};
}  // namespace

const Family* WebFamily() { return &kFamily; }
