// Numbers met as text and comparisons of numbers with text: scripts and
// their exact results are data in scripts/*.cases.
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

}  // namespace
