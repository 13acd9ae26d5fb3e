// The script host: sys.vbscript {A2}, and the evaluator of
// "var {A2} value number {A5}".
#include "engine/core/family.h"
#include "engine/statements/evaluator.h"
#include "services/scripthost/script_host.h"

namespace {
void ScriptHostReset() { TarvSetEvaluator(vbscript_caluate); }

constexpr FamilyHandler kHandlers[] = {{161, sys_vbscript_a2}};

constexpr Family kFamily = {"scripthost", kHandlers, ScriptHostReset, nullptr};
}  // namespace

const Family* ScriptHostFamily() { return &kFamily; }
