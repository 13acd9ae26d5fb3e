// The ways the interpreter takes around its general machinery (frames from
// a slot stack, text lent to a built-in, what a value knows of its text,
// numbers and text met without the general operators) answer as the general
// ones do, as data in scripts/fast_paths.cases.
#include <gtest/gtest.h>

#include "tests/services/scripthost/vbs_test_util.h"

namespace {

TEST(VbsFastPaths, Programs) { vbstest::CheckCases("fast_paths.cases"); }

}  // namespace
