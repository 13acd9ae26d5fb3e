// Number functions and conversions.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "services/scripthost/vbs_builtins.h"
#include "services/scripthost/vbs_class.h"
#include "services/scripthost/vbs_date.h"
#include "services/scripthost/vbs_eval.h"

namespace tarv::vbs {

namespace {

using Args = std::span<const Value>;

// Round(x, n): to n decimal places, half-way cases to even. The scaled value
// is first taken to 15 significant digits so that 2.675 rounds as written
// rather than as its nearest binary fraction.
double RoundDigits(double d, std::int32_t digits) {
  if (digits == 0) return RoundHalfEven(d);
  if (digits > 15) return d;
  const double scale = std::pow(10.0, digits);
  const double y = d * scale;
  if (!std::isfinite(y) || std::fabs(y) >= 4503599627370496.0) return d;
  char buf[64];
  auto w = std::to_chars(buf, buf + sizeof buf, y, std::chars_format::general, 15);
  double shown = y;
  std::from_chars(buf, w.ptr, shown, std::chars_format::general);
  return RoundHalfEven(shown) / scale;
}

// Round, Int and Fix keep their argument's subtype: whole-number kinds pass
// unchanged (Empty and Boolean as Integers), a Single stays a Single; any
// other value goes through f as a Double.
template <typename F>
Value KeepWholeKinds(const Value& x, F f) {
  switch (x.kind()) {
    case Kind::Null:
    case Kind::Integer:
    case Kind::Long:
    case Kind::Byte: return x;
    case Kind::Empty: return Value::Integer(0);
    case Kind::Boolean: return Value::Integer(x.boolean() ? -1 : 0);
    case Kind::Single: return Value::Single(static_cast<float>(f(x.single())));
    case Kind::Currency: return Value::Currency(ToCurrencyUnits(Value::Double(f(ToDouble(x)))));
    default: return Value::Double(f(ToDouble(x)));
  }
}

// A Currency rounded to `digits` decimals in its own units: a Double would
// lose the last digits of the range. `mode` is 'e' half to even, 'f' down,
// 't' toward zero.
Value RoundUnits(std::int64_t units, std::int32_t digits, char mode) {
  if (digits >= 4) return Value::Currency(units);
  std::int64_t drop = 1;
  for (std::int32_t i = digits; i < 4; ++i) drop *= 10;
  std::int64_t q = units / drop;
  const std::int64_t rem = units % drop;  // carries the sign of units
  if (mode == 'f' && rem < 0) --q;
  if (mode == 'e') {
    const std::int64_t twice = 2 * (rem < 0 ? -rem : rem);
    if (twice > drop || (twice == drop && (q & 1) != 0)) q += rem < 0 ? -1 : 1;
  }
  const __int128 out = static_cast<__int128>(q) * drop;
  if (out < INT64_MIN || out > INT64_MAX) ThrowRuntime(kErrOverflow);
  return Value::Currency(static_cast<std::int64_t>(out));
}

Value Round(Interpreter&, Args a) {
  const Plain x(a[0]);
  const std::int32_t digits = HasArg(a, 1) ? ToLong(a[1]) : 0;
  if (digits < 0) ThrowRuntime(kErrInvalidCall);
  if ((*x).kind() == Kind::Currency) return RoundUnits((*x).currency_units(), digits, 'e');
  // A Boolean has nothing to round: it stays one, where Int and Fix give -1.
  if ((*x).kind() == Kind::Boolean) return *x;
  return KeepWholeKinds(*x, [digits](double d) { return RoundDigits(d, digits); });
}

// Int rounds down, Fix toward zero.
template <double (*F)(double), char kMode>
Value WholePart(Interpreter&, Args a) {
  const Plain x(a[0]);
  // Int(Now) is today's date: a date stays a date.
  if ((*x).kind() == Kind::Date) return Value::Date(F((*x).date()));
  if ((*x).kind() == Kind::Currency) return RoundUnits((*x).currency_units(), 0, kMode);
  return KeepWholeKinds(*x, F);
}

double Floor(double d) { return std::floor(d); }
double Trunc(double d) { return std::trunc(d); }

Value Abs(Interpreter&, Args a) {
  const Plain p(a[0]);
  const Value& x = *p;
  switch (x.kind()) {
    case Kind::Null: return x;
    case Kind::Empty: return Value::Integer(0);
    case Kind::Boolean: return Value::Integer(x.boolean() ? 1 : 0);
    case Kind::Integer: return x.integer() < 0 ? Negate(x) : x;
    case Kind::Long: return x.long_value() < 0 ? Negate(x) : x;
    case Kind::Byte: return x;
    case Kind::Currency: return x.currency_units() < 0 ? Negate(x) : x;
    case Kind::Single: return Value::Single(std::fabs(x.single()));
    default: return Value::Double(std::fabs(ToDouble(x)));
  }
}

Value Sgn(Interpreter&, Args a) {
  const Plain x(a[0]);
  if ((*x).kind() == Kind::Null) ThrowRuntime(kErrInvalidUseOfNull);
  const double d = ToDouble(*x);
  return Value::Integer(static_cast<std::int16_t>(d < 0 ? -1 : (d > 0 ? 1 : 0)));
}

// One-argument functions of a Double that pass Null through.
template <double (*F)(double)>
Value Real(Interpreter&, Args a) {
  const Plain x(a[0]);
  if ((*x).kind() == Kind::Null) return *x;
  const double r = F(ToDouble(*x));
  if (!std::isfinite(r)) ThrowRuntime(std::isnan(r) ? kErrInvalidCall : kErrOverflow);
  return Value::Double(r);
}

double Sqrt(double d) {
  if (d < 0) ThrowRuntime(kErrInvalidCall);
  return std::sqrt(d);
}
double Ln(double d) {
  if (d <= 0) ThrowRuntime(kErrInvalidCall);
  return std::log(d);
}
double Expo(double d) { return std::exp(d); }
double Sine(double d) { return std::sin(d); }
double Cosine(double d) { return std::cos(d); }
double Tangent(double d) { return std::tan(d); }
double Arctangent(double d) { return std::atan(d); }

Value CInt(Interpreter&, Args a) { return Value::Integer(ToInteger(a[0])); }
Value CLng(Interpreter&, Args a) { return Value::Long(ToLong(a[0])); }
Value CDbl(Interpreter&, Args a) { return Value::Double(ToDouble(a[0])); }
Value CStr(Interpreter&, Args a) { return Value::String(ToString(a[0])); }
Value CBool(Interpreter&, Args a) { return Value::Boolean(ToBoolean(a[0])); }

Value CSng(Interpreter&, Args a) {
  const double d = ToDouble(a[0]);
  if (std::fabs(d) > 3.402823466e38) ThrowRuntime(kErrOverflow);
  return Value::Single(static_cast<float>(d));
}

Value CCur(Interpreter&, Args a) { return Value::Currency(ToCurrencyUnits(a[0])); }

Value CByte(Interpreter&, Args a) {
  const std::int32_t n = ToLong(a[0]);
  if (n < 0 || n > 255) ThrowRuntime(kErrOverflow);
  return Value::Byte(static_cast<std::uint8_t>(n));
}

Value IsNumeric(Interpreter&, Args a) {
  if (a[0].kind() == Kind::Object && (!a[0].object() || WithoutDefault(a[0]))) return Value::Boolean(false);
  const Plain p(a[0]);
  const Value& x = *p;
  if (x.IsNumeric() || x.kind() == Kind::Empty) return Value::Boolean(true);
  if (x.kind() == Kind::String) {
    try {
      return Value::Boolean(ParseNumber(x.str()).has_value());
    } catch (const ScriptError&) {
      return Value::Boolean(true);  // a number too large is still a number
    }
  }
  return Value::Boolean(false);
}

// The generator of VBScript's Rnd: a 24-bit linear congruence.
void NextRnd(Interpreter& in) { in.rnd_seed = (in.rnd_seed * 0x43FD43FDu + 0xC39EC3u) & 0xFFFFFFu; }

// The seed is the number last given: Rnd(0) gives it again, and before any
// other Rnd or Randomize the seed the generator starts from.
float SeedValue(const Interpreter& in) { return static_cast<float>(in.rnd_seed) / 16777216.0f; }

Value Rnd(Interpreter& in, Args a) {
  if (HasArg(a, 0)) {
    const double n = ToDouble(a[0]);
    if (n == 0) return Value::Single(SeedValue(in));
    if (n < 0) {
      // The same negative number always restarts the same sequence.
      const float f = static_cast<float>(n);
      std::uint32_t bits = 0;
      std::memcpy(&bits, &f, sizeof bits);
      in.rnd_seed = (bits + (bits >> 24)) & 0xFFFFFFu;
    }
  }
  NextRnd(in);
  return Value::Single(SeedValue(in));
}

Value Randomize(Interpreter& in, Args a) {
  const double seed = HasArg(a, 0) ? ToDouble(a[0]) : SecondsSinceMidnight();
  std::uint64_t bits = 0;
  std::memcpy(&bits, &seed, sizeof bits);
  const std::uint32_t mix = static_cast<std::uint32_t>((bits >> 32) ^ bits);
  in.rnd_seed = ((mix & 0xFFFFu) << 8 | (in.rnd_seed & 0xFFu)) & 0xFFFFFFu;
  return Value();
}

// An amount as text with a number of decimals, without its sign.
struct Amount {
  std::string num;
  bool negative = false;
};

Amount DoubleAmount(double d, std::int32_t digits) {
  const double r = RoundDigits(d, digits);
  char buf[512];
  std::snprintf(buf, sizeof buf, "%.*f", static_cast<int>(digits), std::fabs(r));
  return {buf, r < 0};
}

// A Currency's decimals come from its units, exact over its whole range;
// fewer than four round half to even as Round does.
Amount CurrencyAmount(std::int64_t units, std::int32_t digits) {
  std::uint64_t mag = units < 0 ? 0 - static_cast<std::uint64_t>(units) : static_cast<std::uint64_t>(units);
  std::uint64_t unit_scale = kCurrencyScale;
  if (digits < 4) {
    std::uint64_t drop = 1;
    for (std::int32_t i = digits; i < 4; ++i) drop *= 10;
    const std::uint64_t rem = mag % drop;
    mag /= drop;
    if (rem > drop / 2 || (rem == drop / 2 && (mag & 1) != 0)) ++mag;
    unit_scale /= drop;
  }
  std::string num = std::to_string(mag / unit_scale);
  if (digits > 0) {
    std::string frac = std::to_string(mag % unit_scale);
    const std::size_t shown = static_cast<std::size_t>(std::min<std::int32_t>(digits, 4));
    frac.insert(0, shown - frac.size(), '0');
    frac.append(static_cast<std::size_t>(digits) - shown, '0');
    num += "." + frac;
  }
  return {num, units < 0};
}

// FormatNumber(x[, digits[, leading zero[, parentheses[, grouping]]]]):
// -1 or an absent argument means the default (2 digits, leading zero, no
// parentheses, grouping by thousands).
std::string FormatFixed(const Value& x, double factor, std::int32_t digits, Args a, std::size_t first_flag,
                        bool parens_default = false) {
  auto flag = [&](std::size_t i, bool dflt) {
    if (!HasArg(a, i) || a[i].kind() == Kind::Empty) return dflt;
    const std::int32_t v = ToLong(a[i]);
    if (v == -2) return dflt;
    return v != 0;
  };
  const bool leading = flag(first_flag, true);
  const bool parens = flag(first_flag + 1, parens_default);
  const bool group = flag(first_flag + 2, true);
  if (digits < 0) digits = 2;
  if (digits > 255) ThrowRuntime(kErrInvalidCall);
  const Amount amount = x.kind() == Kind::Currency && factor == 1 ? CurrencyAmount(x.currency_units(), digits)
                                                                   : DoubleAmount(ToDouble(x) * factor, digits);
  const std::string& num = amount.num;
  const std::size_t dot = num.find('.');
  std::string whole = num.substr(0, dot);
  std::string frac = dot == std::string::npos ? "" : num.substr(dot);
  if (group && whole.size() > 3) {
    std::string g;
    const std::size_t lead = whole.size() % 3;
    for (std::size_t i = 0; i < whole.size(); ++i) {
      if (i > 0 && (i - lead) % 3 == 0) g += ',';
      g += whole[i];
    }
    whole = g;
  }
  if (whole == "0" && !leading && !frac.empty()) whole.clear();
  std::string out = whole + frac;
  const bool negative = amount.negative && out.find_first_not_of("0.,") != std::string::npos;
  if (negative) out = parens ? "(" + out + ")" : "-" + out;
  return out;
}

Value FormatNumber(Interpreter&, Args a) {
  const Plain x(a[0]);
  if ((*x).kind() == Kind::Null) ThrowRuntime(kErrTypeMismatch);
  const std::int32_t digits = HasArg(a, 1) ? ToLong(a[1]) : -1;
  return Value::String(FormatFixed(*x, 1, digits, a, 2));
}

Value FormatPercent(Interpreter&, Args a) {
  const Plain x(a[0]);
  if ((*x).kind() == Kind::Null) ThrowRuntime(kErrTypeMismatch);
  const std::int32_t digits = HasArg(a, 1) ? ToLong(a[1]) : -1;
  return Value::String(FormatFixed(*x, 100, digits, a, 2) + "%");
}

// RGB(red, green, blue): each part above 255 counts as 255.
Value Rgb(Interpreter&, Args a) {
  std::int32_t colour = 0;
  for (std::size_t i = 0; i < 3; ++i) {
    const std::int32_t part = ToLong(a[i]);
    if (part < 0) ThrowRuntime(kErrInvalidCall);
    colour |= std::min(part, 255) << (8 * i);
  }
  return Value::Long(colour);
}

// FormatCurrency: as FormatNumber with the dollar sign inside the sign or
// the parentheses; a negative amount shows in parentheses by default.
Value FormatCurrency(Interpreter&, Args a) {
  const Plain x(a[0]);
  if ((*x).kind() == Kind::Null) ThrowRuntime(kErrTypeMismatch);
  const std::int32_t digits = HasArg(a, 1) ? ToLong(a[1]) : -1;
  std::string text = FormatFixed(*x, 1, digits, a, 2, true);
  const std::size_t at = (!text.empty() && (text[0] == '-' || text[0] == '(')) ? 1 : 0;
  return Value::String(text.insert(at, "$"));
}

constexpr Builtin kMath[] = {
    {"abs", 1, 1, Abs},
    {"atn", 1, 1, Real<Arctangent>},
    {"cbool", 1, 1, CBool, Builtin::Use::Value},
    {"cbyte", 1, 1, CByte, Builtin::Use::Value},
    {"ccur", 1, 1, CCur, Builtin::Use::Value},
    {"cdbl", 1, 1, CDbl, Builtin::Use::Value},
    {"cint", 1, 1, CInt, Builtin::Use::Value},
    {"clng", 1, 1, CLng, Builtin::Use::Value},
    {"cos", 1, 1, Real<Cosine>},
    {"csng", 1, 1, CSng, Builtin::Use::Value},
    {"cstr", 1, 1, CStr, Builtin::Use::Value},
    {"exp", 1, 1, Real<Expo>},
    {"fix", 1, 1, WholePart<Trunc, 't'>},
    {"formatcurrency", 1, 5, FormatCurrency},
    {"formatnumber", 1, 5, FormatNumber},
    {"formatpercent", 1, 5, FormatPercent},
    {"int", 1, 1, WholePart<Floor, 'f'>},
    {"isnumeric", 1, 1, IsNumeric},
    {"log", 1, 1, Real<Ln>},
    {"randomize", 0, 1, Randomize, Builtin::Use::Statement},
    {"rgb", 3, 3, Rgb},
    {"rnd", 0, 1, Rnd},
    {"round", 1, 2, Round},
    {"sgn", 1, 1, Sgn},
    {"sin", 1, 1, Real<Sine>},
    {"sqr", 1, 1, Real<Sqrt>},
    {"tan", 1, 1, Real<Tangent>},
};

}  // namespace

std::span<const Builtin> MathBuiltins() { return kMath; }

}  // namespace tarv::vbs
