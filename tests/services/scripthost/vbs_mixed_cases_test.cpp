// Numbers met as text, comparisons of numbers with text, forms of the
// language the compiler must accept, and the size bound of a text: scripts
// and their exact results are data in scripts/*.cases.
#include <gtest/gtest.h>

#include "tests/services/scripthost/vbs_test_util.h"

namespace {

// Start, end and step of a For loop given as text.
TEST(VbsForLoops, TextBounds) { vbstest::CheckCases("for_string_bounds.cases"); }

// A number against text, written literally or held in variables, in
// expressions and in Select Case.
TEST(VbsComparisons, NumbersAgainstText) { vbstest::CheckCases("compare_mixed.cases"); }

// Thousands separators, and the Boolean words under Not, And and Or.
TEST(VbsConversions, TextAsNumber) { vbstest::CheckCases("text_as_number.cases"); }

// Stop, members of New, parenthesized callees, With members as the first
// argument of a call, End Class after a declaration.
TEST(VbsCompile, AcceptedForms) { vbstest::CheckCases("compile_forms.cases"); }

// 32 MiB of text is the most one value holds; past it, error 7.
TEST(VbsLimits, TextSize) { vbstest::CheckCases("text_bounds.cases"); }

}  // namespace
