// The subtype a value takes and the error number a fault raises, as scripts
// see them through VarType, TypeName and Err.Number. The scripts and their
// exact results are data in scripts/*.cases.
#include <gtest/gtest.h>

#include "tests/services/scripthost/vbs_test_util.h"

namespace {

// Literals, constants, the rounding functions, Single comparisons, Rnd, the
// numbers Err.Raise gives, and the errors of dates, Null arguments, calls in
// the wrong place and conversions.
TEST(VbsSubtypes, SubtypesAndErrorNumbers) { vbstest::CheckCases("subtypes_table.cases"); }

// Whole-number division whose quotient leaves the Long range overflows,
// however its operands are held.
TEST(VbsWholeNumbers, DivisionPastALongOverflows) { vbstest::CheckCases("whole_number_overflow.cases"); }

}  // namespace
