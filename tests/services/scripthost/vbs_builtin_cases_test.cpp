// Built-in functions and constants as users' scripts call them: Currency,
// the byte functions and escapes, and the intrinsic constants, the engine's
// identity, the locale and the Err object's help fields. The scripts and
// their exact results are data in scripts/*.cases.
#include <gtest/gtest.h>

#include "tests/services/scripthost/vbs_test_util.h"

namespace {

TEST(VbsCurrency, ConversionArithmeticAndFormat) { vbstest::CheckCases("currency.cases"); }

TEST(VbsBytes, ByteFunctionsAndEscapes) { vbstest::CheckCases("bytes.cases"); }

TEST(VbsIntrinsics, ConstantsEngineLocaleAndErr) { vbstest::CheckCases("intrinsics.cases"); }

}  // namespace
