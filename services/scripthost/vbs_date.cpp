#include "services/scripthost/vbs_date.h"

#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

#include "services/scripthost/vbs_value.h"

namespace tarv::vbs {

namespace {

constexpr std::array<std::string_view, 12> kMonths = {
    "January", "February", "March",     "April",   "May",      "June",
    "July",    "August",   "September", "October", "November", "December"};
constexpr std::array<std::string_view, 7> kWeekdays = {
    "Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

// Days from 1970-01-01 of a proleptic Gregorian date.
std::int64_t DaysFromCivil(std::int64_t y, std::int64_t m, std::int64_t d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(std::int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

constexpr std::int64_t kEpochShift = 25569;  // 1970-01-01 as a serial

double CheckRange(double serial) {
  if (!(serial >= kMinDate && serial < kMaxDate + 1)) ThrowRuntime(kErrOverflow);
  return serial;
}

// A date built from its parts (DateSerial, DateAdd) that falls outside the
// range is a bad argument rather than a value too large.
double InRangeFromParts(double serial) {
  if (!(serial >= kMinDate && serial < kMaxDate + 1)) ThrowRuntime(kErrInvalidCall);
  return serial;
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// A month named by at least its first three letters.
int MonthFromName(std::string_view word) {
  if (word.size() < 3) return 0;
  for (std::size_t m = 0; m < kMonths.size(); ++m) {
    const std::string_view name = kMonths[m];
    if (word.size() > name.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < word.size() && same; ++i) same = Lower(word[i]) == Lower(name[i]);
    if (same) return static_cast<int>(m) + 1;
  }
  return 0;
}

struct Token {
  enum Kind { Number, Word, Sep } kind;
  std::string_view text;
  long value = 0;
  char sep = 0;
};

}  // namespace

double SerialFromDate(std::int64_t year, std::int64_t month, std::int64_t day) {
  // Two-digit years as VBScript reads them: 0-29 are 2000-2029, 30-99 1930-1999.
  if (year >= 0 && year < 30) year += 2000;
  else if (year >= 30 && year < 100) year += 1900;
  if (year < -100000 || year > 100000 || month < -1200000 || month > 1200000 ||
      day < -100000000 || day > 100000000) {
    ThrowRuntime(kErrOverflow);
  }
  const std::int64_t m0 = month - 1;
  year += m0 >= 0 ? m0 / 12 : -((11 - m0) / 12);
  const std::int64_t m = ((m0 % 12) + 12) % 12 + 1;
  const std::int64_t days = DaysFromCivil(year, m, 1) + (day - 1) + kEpochShift;
  return InRangeFromParts(static_cast<double>(days));
}

double SerialFromTime(std::int64_t hour, std::int64_t minute, std::int64_t second) {
  const double total = static_cast<double>(hour) * 3600 + static_cast<double>(minute) * 60 +
                       static_cast<double>(second);
  return InRangeFromParts(total / 86400.0);
}

DateParts PartsOf(double serial) {
  DateParts p;
  if (!std::isfinite(serial)) ThrowRuntime(kErrOverflow);
  CheckRange(serial);
  // A negative serial counts its days back but its time forward.
  double days = std::trunc(serial);
  double frac = std::fabs(serial - days);
  std::int64_t secs = static_cast<std::int64_t>(std::llround(frac * 86400.0));
  if (secs >= 86400) {
    secs -= 86400;
    days += serial < 0 ? -1 : 1;
  }
  const std::int64_t d = static_cast<std::int64_t>(days);
  CivilFromDays(d - kEpochShift, p.year, p.month, p.day);
  p.hour = static_cast<int>(secs / 3600);
  p.minute = static_cast<int>(secs / 60 % 60);
  p.second = static_cast<int>(secs % 60);
  // 30 December 1899 was a Saturday.
  p.weekday = static_cast<int>(((d % 7) + 7 + 6) % 7) + 1;
  return p;
}

std::string FormatDatePart(const DateParts& p) {
  return std::to_string(p.month) + "/" + std::to_string(p.day) + "/" + std::to_string(p.year);
}

std::string FormatTimePart(const DateParts& p) {
  const int h12 = p.hour % 12 == 0 ? 12 : p.hour % 12;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d:%02d:%02d %s", h12, p.minute, p.second,
                p.hour < 12 ? "AM" : "PM");
  return buf;
}

std::string FormatDate(double serial) {
  const DateParts p = PartsOf(serial);
  const bool has_date = std::trunc(serial) != 0;
  const bool has_time = p.hour != 0 || p.minute != 0 || p.second != 0;
  if (!has_date) return FormatTimePart(p);
  if (!has_time) return FormatDatePart(p);
  return FormatDatePart(p) + " " + FormatTimePart(p);
}

std::optional<double> ParseDate(std::string_view text) {
  // A number is no date, even when its '.' could separate month and day.
  try {
    if (ParseNumber(text)) return std::nullopt;
  } catch (const ScriptError&) {
    return std::nullopt;
  }
  std::vector<Token> toks;
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      std::size_t j = i;
      long v = 0;
      while (j < text.size() && text[j] >= '0' && text[j] <= '9' && j - i < 9) v = v * 10 + (text[j++] - '0');
      if (j < text.size() && text[j] >= '0' && text[j] <= '9') return std::nullopt;
      toks.push_back({Token::Number, text.substr(i, j - i), v});
      i = j;
    } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
      std::size_t j = i;
      while (j < text.size() && ((text[j] | 0x20) >= 'a' && (text[j] | 0x20) <= 'z')) ++j;
      toks.push_back({Token::Word, text.substr(i, j - i)});
      i = j;
    } else if (c == '/' || c == '-' || c == ':' || c == '.' || c == ',') {
      toks.push_back({Token::Sep, text.substr(i, 1), 0, c});
      ++i;
    } else if (c == ' ' || c == '\t') {
      ++i;
    } else {
      return std::nullopt;
    }
  }
  if (toks.empty()) return std::nullopt;

  // The time: numbers joined by ':' (the first of them ends the date part),
  // optionally followed by AM or PM.
  std::size_t time_at = toks.size();
  for (std::size_t k = 0; k + 1 < toks.size(); ++k) {
    if (toks[k].kind == Token::Number && toks[k + 1].kind == Token::Sep && toks[k + 1].sep == ':') {
      time_at = k;
      break;
    }
  }
  // "10 PM": an hour with a meridiem alone.
  if (time_at == toks.size() && toks.size() >= 2 && toks.back().kind == Token::Word &&
      toks[toks.size() - 2].kind == Token::Number) {
    const std::string_view w = toks.back().text;
    if (w.size() == 2 && (Lower(w[1]) == 'm') && (Lower(w[0]) == 'a' || Lower(w[0]) == 'p')) {
      time_at = toks.size() - 2;
    }
  }
  double time = 0;
  bool has_time = false;
  if (time_at < toks.size()) {
    long hms[3] = {0, 0, 0};
    int n = 0;
    std::size_t k = time_at;
    while (k < toks.size() && toks[k].kind == Token::Number && n < 3) {
      hms[n++] = toks[k].value;
      ++k;
      if (k < toks.size() && toks[k].kind == Token::Sep && toks[k].sep == ':') ++k;
      else break;
    }
    if (k < toks.size() && toks[k].kind == Token::Word) {
      const std::string_view w = toks[k].text;
      if (w.size() != 2 || Lower(w[1]) != 'm') return std::nullopt;
      const bool pm = Lower(w[0]) == 'p';
      if (!pm && Lower(w[0]) != 'a') return std::nullopt;
      if (hms[0] < 1 || hms[0] > 12) return std::nullopt;
      hms[0] = hms[0] % 12 + (pm ? 12 : 0);
      ++k;
    }
    if (k != toks.size()) return std::nullopt;
    if (hms[0] > 23 || hms[1] > 59 || hms[2] > 59) return std::nullopt;
    time = (hms[0] * 3600.0 + hms[1] * 60.0 + hms[2]) / 86400.0;
    has_time = true;
  }

  // The date: three parts (numbers or a month name) between separators.
  std::vector<Token> parts;
  for (std::size_t k = 0; k < time_at; ++k) {
    if (toks[k].kind == Token::Sep) {
      if (toks[k].sep == ':') return std::nullopt;
      continue;
    }
    parts.push_back(toks[k]);
  }
  if (parts.empty()) {
    if (!has_time) return std::nullopt;
    return time;
  }
  long y = 0, m = 0, d = 0;
  std::size_t named = parts.size();
  for (std::size_t k = 0; k < parts.size(); ++k) {
    if (parts[k].kind == Token::Word) {
      if (named != parts.size()) return std::nullopt;
      const int month = MonthFromName(parts[k].text);
      if (month == 0) return std::nullopt;
      named = k;
      m = month;
    }
  }
  auto is_year = [](const Token& t) { return t.text.size() >= 3; };
  if (named != parts.size()) {
    // "6 Dec 2026", "Dec 6, 2026", "December 2026"
    std::vector<Token> nums;
    for (std::size_t k = 0; k < parts.size(); ++k) {
      if (k != named) nums.push_back(parts[k]);
    }
    if (nums.size() == 2) {
      if (is_year(nums[0])) { y = nums[0].value; d = nums[1].value; }
      else { d = nums[0].value; y = nums[1].value; }
    } else if (nums.size() == 1) {
      if (is_year(nums[0])) { y = nums[0].value; d = 1; }
      else { d = nums[0].value; y = PartsOf(NowSerial()).year; }
    } else {
      return std::nullopt;
    }
  } else if (parts.size() == 3) {
    if (is_year(parts[0])) {  // 2026-12-06
      y = parts[0].value; m = parts[1].value; d = parts[2].value;
    } else {  // 12/6/2026
      m = parts[0].value; d = parts[1].value; y = parts[2].value;
    }
  } else if (parts.size() == 2) {  // 12/6 in the current year
    m = parts[0].value; d = parts[1].value; y = PartsOf(NowSerial()).year;
  } else {
    return std::nullopt;
  }
  if (y < 30) y += 2000;
  else if (y < 100) y += 1900;
  if (y < 100 || y > 9999 || m < 1 || m > 12 || d < 1 || d > 31) return std::nullopt;
  const double serial = SerialFromDate(y, m, d);
  if (PartsOf(serial).month != m) return std::nullopt;  // 31 April
  return serial < 0 ? serial - time : serial + time;
}

double NowSerial() {
  const std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  return SerialFromDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) +
         (local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec) / 86400.0;
}

double SecondsSinceMidnight() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&t, &local);
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count() % 1000000;
  return local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + static_cast<double>(us) / 1e6;
}

std::string_view MonthNameOf(int month, bool abbreviate) {
  if (month < 1 || month > 12) ThrowRuntime(kErrInvalidCall);
  const std::string_view n = kMonths[static_cast<std::size_t>(month - 1)];
  return abbreviate ? n.substr(0, 3) : n;
}

std::string_view WeekdayNameOf(int weekday, bool abbreviate) {
  if (weekday < 1 || weekday > 7) ThrowRuntime(kErrInvalidCall);
  const std::string_view n = kWeekdays[static_cast<std::size_t>(weekday - 1)];
  return abbreviate ? n.substr(0, 3) : n;
}

}  // namespace tarv::vbs
