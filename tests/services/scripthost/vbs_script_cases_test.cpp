// The language, its functions and administrators' scripts, run as users'
// sys.vbscript scripts: directly through the host, and as real statements of
// a run. The scripts and their exact results are data in scripts/*.cases.
#include <gtest/gtest.h>

#include "tests/services/scripthost/vbs_test_util.h"

namespace {

TEST(VbsLanguage, Statements) { vbstest::CheckCases("language.cases"); }

// Every built-in function, as `TarvMain = <expression>`.
TEST(VbsFunctions, BuiltIns) { vbstest::CheckCases("functions.cases"); }

// Dictionary, RegExp and FileSystemObject as scripts use them.
TEST(VbsObjects, DictionaryRegExpAndFiles) { vbstest::CheckCases("objects.cases"); }

// Faults name their number and line (and the compiler's their column);
// runaway recursion and growth stop at the limits.
TEST(SysVbscript, RuntimeFaults) { vbstest::CheckCases("faults.cases"); }

// Parsing command output, subnet arithmetic, counting with a Dictionary.
TEST(VbsAdminScripts, ExactResults) { vbstest::CheckCases("admin.cases"); }

}  // namespace
