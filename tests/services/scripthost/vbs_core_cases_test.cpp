// Classes, date literals, arguments passed by reference or left out, and the
// syntax and coercions of the core language, as data in scripts/*.cases.
#include <gtest/gtest.h>

#include "tests/services/scripthost/vbs_test_util.h"

namespace {

// Members, properties, Default, Me, New, Is, Class_Initialize and
// Class_Terminate when the last reference goes.
TEST(VbsClasses, Programs) { vbstest::CheckCases("classes.cases"); }

// Date literals, Date and Single arithmetic, ByRef array elements, omitted
// arguments, Erase, and what the parser accepts.
TEST(VbsCore, Programs) { vbstest::CheckCases("core.cases"); }

}  // namespace
