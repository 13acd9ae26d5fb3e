// A small evaluator of integer arithmetic ("2+3*4") that needs no script
// host, and a normaliser of number texts.
#pragma once
#include <array>
#include <cstdint>

inline constexpr int CALC_MAX_OPS = 18;          // two-operand operators in one expression
inline constexpr int CALC_MAX_EXPRESSION = 1023;  // bytes of expression text

// Results of EsCalcExpression besides the length of the written value.
inline constexpr int CALC_BAD_CHAR = -1;
inline constexpr int CALC_EMPTY_OPERAND = -2;
inline constexpr int CALC_DIVISION = -3;
inline constexpr int CALC_OVERFLOW = -4;
inline constexpr int CALC_TOO_MANY = -9;

// One evaluation: operand i (1..Count + 1) lies between Begin[i] and End[i]
// (inclusive) of the compacted text; operator i stands between operands i
// and i + 1.  Positions are full integers: an expression may be far longer
// than 255 bytes.
struct EsCalcRecord {
  int32_t Count;
  std::array<int32_t, CALC_MAX_OPS + 2> Begin;
  std::array<int32_t, CALC_MAX_OPS + 2> End;
  std::array<char, CALC_MAX_OPS + 2> Ops;
  std::array<int32_t, CALC_MAX_OPS + 2> Values;
};

// Evaluates a NUL-terminated expression of digits, blanks and + - * /, with
// the usual precedence and integer division.  On success the result's
// decimal text goes to dest (no terminator) and its length is returned; on a
// failure dest receives a short message (no terminator) and the result is one
// of the codes above.  dest needs 1024 bytes.
int EsCalcExpression(const char* expression, char* dest);
// Drops operator `index` and operand index + 1 once the operator was applied.
void EsCalcRemoveItem(EsCalcRecord* record, int index);
// The record as debug entries.
void EsCalcDump(const EsCalcRecord* record);
// Keeps the digits, the points and a leading '-' of a number text and drops
// the zeros that trail a decimal point; rewrites the text in place (with a
// terminator) and returns its new length, -1 for an empty text.
int EsFormatNumber(char* text);
