// Rows of the case files answered by sys.vbscript in a run of the built
// program: the order of errors, what Err.Raise keeps, and the answers of the
// functions and the parser.
#include <gtest/gtest.h>

#include "tests/services/scripthost/vbs_test_util.h"

namespace {

TEST(SysVbscriptBinary, ArgumentErrorsComeFirst) {
  vbstest::CheckCasesInBinary("subtypes_table.cases", "a conversion as a statement converts first");
  vbstest::CheckCasesInBinary("subtypes_table.cases", "ReDim of a fixed array");
}

TEST(SysVbscriptBinary, ErrAndEngineIntrinsics) {
  vbstest::CheckCasesInBinary("intrinsics.cases", "Err.Raise keeps");
  vbstest::CheckCasesInBinary("intrinsics.cases", "the engine's version numbers");
}

TEST(SysVbscriptBinary, InstancesAndClassEnds) {
  vbstest::CheckCasesInBinary("classes.cases", "IsNumeric and IsDate of an instance");
  vbstest::CheckCasesInBinary("compile_forms.cases", "End ");
}

TEST(SysVbscriptBinary, TextFunctionArguments) {
  vbstest::CheckCasesInBinary("functions.cases", "text of Null");
  vbstest::CheckCasesInBinary("bytes.cases", "text of Null");
  vbstest::CheckCasesInBinary("functions.cases", "Split refuses");
}

}  // namespace
