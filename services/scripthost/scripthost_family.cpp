// The script host joins the engine as the evaluator of
// "var {A2} value number {A5}".
#include "engine/core/family.h"
#include "engine/statements/evaluator.h"
#include "services/scripthost/script_host.h"

namespace {
void ScriptHostReset() { TarvSetEvaluator(vbscript_caluate); }

constexpr Family kFamily = {"scripthost", {}, ScriptHostReset, nullptr};
}  // namespace

const Family* ScriptHostFamily() { return &kFamily; }
