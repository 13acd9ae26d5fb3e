// Date and time functions.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "services/scripthost/vbs_builtins.h"
#include "services/scripthost/vbs_class.h"
#include "services/scripthost/vbs_date.h"

namespace tarv::vbs {

namespace {

using Args = std::span<const Value>;

Value Now(Interpreter&, Args) { return Value::Date(NowSerial()); }
Value Today(Interpreter&, Args) { return Value::Date(std::trunc(NowSerial())); }
Value TimeNow(Interpreter&, Args) {
  const double now = NowSerial();
  return Value::Date(now - std::trunc(now));
}
Value Timer(Interpreter&, Args) { return Value::Single(static_cast<float>(SecondsSinceMidnight())); }

// Year, Month, ... of a date; Null stays Null.
template <int DateParts::*Field>
Value Part(Interpreter&, Args a) {
  const Plain x(a[0]);
  if ((*x).kind() == Kind::Null) return *x;
  return Value::Integer(static_cast<std::int16_t>(PartsOf(ToDate(*x)).*Field));
}

// The first day of the week: 1 Sunday ... 7 Saturday; 0 means Sunday here.
int FirstDay(Args a, std::size_t i) {
  if (!HasArg(a, i)) return 1;
  const std::int32_t f = ToLong(a[i]);
  if (f < 0 || f > 7) ThrowRuntime(kErrInvalidCall);
  return f == 0 ? 1 : f;
}

int WeekdayFrom(int weekday, int first) { return (weekday - first + 7) % 7 + 1; }

// The first day of the week is checked before the date, even a Null one.
Value Weekday(Interpreter&, Args a) {
  const int first = FirstDay(a, 1);
  const Plain x(a[0]);
  if ((*x).kind() == Kind::Null) return *x;
  return Value::Integer(static_cast<std::int16_t>(WeekdayFrom(PartsOf(ToDate(*x)).weekday, first)));
}

Value WeekdayName(Interpreter&, Args a) {
  const int n = ToLong(a[0]);
  const bool abbreviate = HasArg(a, 1) && ToBoolean(a[1]);
  const int first = FirstDay(a, 2);
  if (n < 1 || n > 7) ThrowRuntime(kErrInvalidCall);
  return Value::String(std::string(WeekdayNameOf((n - 1 + first - 1) % 7 + 1, abbreviate)));
}

Value MonthName(Interpreter&, Args a) {
  const bool abbreviate = HasArg(a, 1) && ToBoolean(a[1]);
  return Value::String(std::string(MonthNameOf(ToLong(a[0]), abbreviate)));
}

std::int64_t WholeArg(const Value& v) {
  const double d = ToDouble(v);
  if (!(std::fabs(d) < 1e12)) ThrowRuntime(kErrOverflow);
  return static_cast<std::int64_t>(RoundHalfEven(d));
}

Value DateSerial(Interpreter&, Args a) {
  return Value::Date(SerialFromDate(WholeArg(a[0]), WholeArg(a[1]), WholeArg(a[2])));
}

Value TimeSerial(Interpreter&, Args a) {
  double t = SerialFromTime(WholeArg(a[0]), WholeArg(a[1]), WholeArg(a[2]));
  // A time past midnight keeps whole days; a negative one counts back from
  // 30 December 1899 as dates do.
  if (t < 0) t = std::floor(t) - (t - std::floor(t));
  return Value::Date(t);
}

Value CDate(Interpreter&, Args a) { return Value::Date(ToDate(a[0])); }

Value DateValue(Interpreter&, Args a) {
  const Plain x(a[0]);
  if ((*x).kind() == Kind::Null) return *x;
  return Value::Date(std::trunc(ToDate(*x)));
}

Value TimeValue(Interpreter&, Args a) {
  const Plain x(a[0]);
  if ((*x).kind() == Kind::Null) return *x;
  const double d = ToDate(*x);
  return Value::Date(std::fabs(d - std::trunc(d)));
}

Value IsDate(Interpreter&, Args a) {
  if (a[0].kind() == Kind::Object && (!a[0].object() || WithoutDefault(a[0]))) return Value::Boolean(false);
  const Plain p(a[0]);
  const Value& x = *p;
  if (x.kind() == Kind::Date) return Value::Boolean(true);
  if (x.kind() != Kind::String) return Value::Boolean(false);
  return Value::Boolean(ParseDate(x.str()).has_value());
}

enum class Unit { Year, Quarter, Month, DayOfYear, Day, Weekday, Week, Hour, Minute, Second };

Unit UnitOf(const Value& v) {
  const std::string s = FoldCase(ToString(v));
  if (s == "yyyy") return Unit::Year;
  if (s == "q") return Unit::Quarter;
  if (s == "m") return Unit::Month;
  if (s == "y") return Unit::DayOfYear;
  if (s == "d") return Unit::Day;
  if (s == "w") return Unit::Weekday;
  if (s == "ww") return Unit::Week;
  if (s == "h") return Unit::Hour;
  if (s == "n") return Unit::Minute;
  if (s == "s") return Unit::Second;
  ThrowRuntime(kErrInvalidCall);
}

double TimeOfDay(double serial) { return std::fabs(serial - std::trunc(serial)); }

// Moving by months keeps the day, or takes the month's last day when the
// month is shorter.
double AddMonths(double serial, std::int64_t months) {
  const DateParts p = PartsOf(serial);
  double d = SerialFromDate(p.year, p.month + months, 1);
  const DateParts q = PartsOf(d);
  const int last = PartsOf(SerialFromDate(q.year, q.month + 1, 0)).day;
  d += std::min(p.day, last) - 1;
  return d < 0 ? d - TimeOfDay(serial) : d + TimeOfDay(serial);
}

Value DateAdd(Interpreter&, Args a) {
  const Unit unit = UnitOf(a[0]);
  const std::int64_t n = static_cast<std::int64_t>(std::trunc(ToDouble(a[1])));
  if (a[2].kind() == Kind::Null) return Value::Null();
  const double d = ToDate(a[2]);
  double r = d;
  switch (unit) {
    case Unit::Year: r = AddMonths(d, n * 12); break;
    case Unit::Quarter: r = AddMonths(d, n * 3); break;
    case Unit::Month: r = AddMonths(d, n); break;
    case Unit::DayOfYear:
    case Unit::Day:
    case Unit::Weekday: r = d + static_cast<double>(n); break;
    case Unit::Week: r = d + static_cast<double>(n) * 7; break;
    case Unit::Hour: r = d + static_cast<double>(n) / 24.0; break;
    case Unit::Minute: r = d + static_cast<double>(n) / 1440.0; break;
    case Unit::Second: r = d + static_cast<double>(n) / 86400.0; break;
  }
  if (!(r >= kMinDate && r < kMaxDate + 1)) ThrowRuntime(kErrInvalidCall);
  return Value::Date(r);
}

// Whole seconds since the serial's epoch, as a continuous count.
std::int64_t Seconds(double serial) {
  const DateParts p = PartsOf(serial);
  const double days = std::floor(SerialFromDate(p.year, p.month, p.day) + 0.5);
  return static_cast<std::int64_t>(days) * 86400 + p.hour * 3600 + p.minute * 60 + p.second;
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

Value DateDiff(Interpreter&, Args a) {
  const Unit unit = UnitOf(a[0]);
  const int first = FirstDay(a, 3);
  if (a[1].kind() == Kind::Null || a[2].kind() == Kind::Null) return Value::Null();
  const double d1 = ToDate(a[1]);
  const double d2 = ToDate(a[2]);
  const DateParts p = PartsOf(d1);
  const DateParts q = PartsOf(d2);
  const std::int64_t s1 = Seconds(d1), s2 = Seconds(d2);
  std::int64_t r = 0;
  switch (unit) {
    case Unit::Year: r = q.year - p.year; break;
    case Unit::Quarter: r = (q.year - p.year) * 4 + (q.month - 1) / 3 - (p.month - 1) / 3; break;
    case Unit::Month: r = (q.year - p.year) * 12 + q.month - p.month; break;
    case Unit::DayOfYear:
    case Unit::Day: r = FloorDiv(s2, 86400) - FloorDiv(s1, 86400); break;
    case Unit::Weekday: r = (FloorDiv(s2, 86400) - FloorDiv(s1, 86400)) / 7; break;
    case Unit::Week: {
      // Week boundaries (Sundays by default) crossed.
      const std::int64_t day1 = FloorDiv(s1, 86400) - WeekdayFrom(p.weekday, first) + 1;
      const std::int64_t day2 = FloorDiv(s2, 86400) - WeekdayFrom(q.weekday, first) + 1;
      r = (day2 - day1) / 7;
      break;
    }
    case Unit::Hour: r = FloorDiv(s2, 3600) - FloorDiv(s1, 3600); break;
    case Unit::Minute: r = FloorDiv(s2, 60) - FloorDiv(s1, 60); break;
    case Unit::Second: r = s2 - s1; break;
  }
  if (r < INT32_MIN || r > INT32_MAX) ThrowRuntime(kErrOverflow);
  return Value::Long(static_cast<std::int32_t>(r));
}

Value DatePart(Interpreter&, Args a) {
  const Unit unit = UnitOf(a[0]);
  const int first = FirstDay(a, 2);
  if (a[1].kind() == Kind::Null) return Value::Null();
  const double d = ToDate(a[1]);
  const DateParts p = PartsOf(d);
  std::int32_t r = 0;
  switch (unit) {
    case Unit::Year: r = p.year; break;
    case Unit::Quarter: r = (p.month - 1) / 3 + 1; break;
    case Unit::Month: r = p.month; break;
    case Unit::DayOfYear:
      r = static_cast<std::int32_t>(std::trunc(d) - SerialFromDate(p.year, 1, 1)) + 1;
      break;
    case Unit::Day: r = p.day; break;
    case Unit::Weekday: r = WeekdayFrom(p.weekday, first); break;
    case Unit::Week: {
      const double jan1 = SerialFromDate(p.year, 1, 1);
      const int offset = WeekdayFrom(PartsOf(jan1).weekday, first) - 1;
      r = static_cast<std::int32_t>((std::trunc(d) - jan1 + offset) / 7) + 1;
      break;
    }
    case Unit::Hour: r = p.hour; break;
    case Unit::Minute: r = p.minute; break;
    case Unit::Second: r = p.second; break;
  }
  return Value::Long(r);
}

// FormatDateTime(date[, format]): 0 general, 1 long date, 2 short date,
// 3 long time, 4 short time (hh:mm).
Value FormatDateTime(Interpreter&, Args a) {
  const Plain x(a[0]);
  if ((*x).kind() == Kind::Null) ThrowRuntime(kErrTypeMismatch);
  const double d = ToDate(*x);
  const std::int32_t format = HasArg(a, 1) ? ToLong(a[1]) : 0;
  const DateParts p = PartsOf(d);
  switch (format) {
    case 0: return Value::String(FormatDate(d));
    case 1:
      return Value::String(std::string(WeekdayNameOf(p.weekday, false)) + ", " +
                           std::string(MonthNameOf(p.month, false)) + " " + std::to_string(p.day) +
                           ", " + std::to_string(p.year));
    case 2: return Value::String(FormatDatePart(p));
    case 3: return Value::String(FormatTimePart(p));
    case 4: {
      char buf[16];
      std::snprintf(buf, sizeof buf, "%02d:%02d", p.hour, p.minute);
      return Value::String(buf);
    }
    default: ThrowRuntime(kErrInvalidCall);
  }
}

constexpr Builtin kDate[] = {
    {"cdate", 1, 1, CDate, Builtin::Use::Value},
    {"date", 0, 0, Today},
    {"dateadd", 3, 3, DateAdd},
    {"datediff", 3, 5, DateDiff},
    {"datepart", 2, 4, DatePart},
    {"dateserial", 3, 3, DateSerial},
    {"datevalue", 1, 1, DateValue},
    {"day", 1, 1, Part<&DateParts::day>},
    {"formatdatetime", 1, 2, FormatDateTime},
    {"hour", 1, 1, Part<&DateParts::hour>},
    {"isdate", 1, 1, IsDate},
    {"minute", 1, 1, Part<&DateParts::minute>},
    {"month", 1, 1, Part<&DateParts::month>},
    {"monthname", 1, 2, MonthName},
    {"now", 0, 0, Now},
    {"second", 1, 1, Part<&DateParts::second>},
    {"time", 0, 0, TimeNow},
    {"timer", 0, 0, Timer},
    {"timeserial", 3, 3, TimeSerial},
    {"timevalue", 1, 1, TimeValue},
    {"weekday", 1, 2, Weekday},
    {"weekdayname", 1, 3, WeekdayName},
    {"year", 1, 1, Part<&DateParts::year>},
};

}  // namespace

std::span<const Builtin> DateBuiltins() { return kDate; }

}  // namespace tarv::vbs
