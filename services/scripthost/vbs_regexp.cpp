// VBScript.RegExp on PCRE2: patterns in the ECMAScript manner (\uXXXX
// escapes, '$' only at the very end unless Multiline), positions and lengths
// in UTF-16 units as scripts count them.
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <memory>
#include <optional>
#include <vector>

#include "services/scripthost/vbs_eval.h"
#include "services/scripthost/vbs_objects.h"
#include "services/scripthost/vbs_text.h"

namespace tarv::vbs {

namespace {

// Bounds a single match's backtracking, so that a pathological pattern
// fails instead of running for hours.
constexpr std::uint32_t kMatchLimit = 10'000'000;
constexpr std::uint32_t kDepthLimit = 100'000;
constexpr int kMatchesBetweenClockReads = 1024;

struct CodeFree {
  void operator()(pcre2_code* c) const { pcre2_code_free(c); }
};
struct MatchDataFree {
  void operator()(pcre2_match_data* m) const { pcre2_match_data_free(m); }
};
struct ContextFree {
  void operator()(pcre2_match_context* m) const { pcre2_match_context_free(m); }
};

struct Found {
  std::size_t begin = 0, end = 0;  // bytes
  std::vector<std::optional<std::pair<std::size_t, std::size_t>>> groups;
};

class Match : public BuiltinObject {
 public:
  Match(const std::string& subject, const Found& f) {
    value_ = subject.substr(f.begin, f.end - f.begin);
    first_ = static_cast<std::int32_t>(Units(std::string_view(subject).substr(0, f.begin)));
    length_ = static_cast<std::int32_t>(Units(value_));
    std::vector<Value> subs;
    for (const auto& g : f.groups) {
      subs.push_back(g ? Value::String(subject.substr(g->first, g->second - g->first)) : Value());
    }
    subs_ = NewCollection("ISubMatches", std::move(subs));
  }
  std::string TypeName() const override { return "IMatch2"; }
  Value Call(std::string_view name, std::span<const Value> args) override {
    // m.SubMatches(i) indexes the collection the property gives.
    if (EqualsNoCase(name, "submatches")) return args.empty() ? Value::Object(subs_) : subs_->Call("", args);
    ArgCount(args, 0, 0);
    if (name.empty() || EqualsNoCase(name, "value")) return Value::String(value_);
    if (EqualsNoCase(name, "firstindex")) return Value::Long(first_);
    if (EqualsNoCase(name, "length")) return Value::Long(length_);
    ThrowRuntime(kErrNoSuchMember);
  }

 private:
  std::string value_;
  std::int32_t first_ = 0;
  std::int32_t length_ = 0;
  std::shared_ptr<Object> subs_;
};

class RegExp : public BuiltinObject {
 public:
  explicit RegExp(const Interpreter* in) : in_(in) {}
  std::string TypeName() const override { return "IRegExp2"; }

  Value GetProperty(std::string_view name, std::span<const Value> args) override {
    if (args.empty()) {
      if (EqualsNoCase(name, "pattern")) return Value::String(pattern_);
      if (EqualsNoCase(name, "global")) return Value::Boolean(global_);
      if (EqualsNoCase(name, "ignorecase")) return Value::Boolean(ignore_case_);
      if (EqualsNoCase(name, "multiline")) return Value::Boolean(multiline_);
    }
    return Call(name, args);
  }

  void SetProperty(std::string_view name, std::span<const Value> args, const Value& v) override {
    ArgCount(args, 0, 0);
    if (EqualsNoCase(name, "pattern")) pattern_ = ToString(v);
    else if (EqualsNoCase(name, "global")) global_ = ToBoolean(v);
    else if (EqualsNoCase(name, "ignorecase")) ignore_case_ = ToBoolean(v);
    else if (EqualsNoCase(name, "multiline")) multiline_ = ToBoolean(v);
    else ThrowRuntime(kErrNoSuchMember);
    code_.reset();
  }

  Value Call(std::string_view name, std::span<const Value> args) override {
    if (EqualsNoCase(name, "test")) {
      ArgCount(args, 1, 1);
      const std::string s = ToString(args[0]);
      Found f;
      return Value::Boolean(Next(s, 0, f));
    }
    if (EqualsNoCase(name, "execute")) {
      ArgCount(args, 1, 1);
      const std::string s = ToString(args[0]);
      std::vector<Value> items;
      Walk(s, [&](const Found& f) { items.push_back(Value::Object(std::make_shared<Match>(s, f))); });
      return Value::Object(NewCollection("IMatchCollection2", std::move(items)));
    }
    if (EqualsNoCase(name, "replace")) {
      ArgCount(args, 2, 2);
      const std::string s = ToString(args[0]);
      // The replacement goes through the plain text of a variant, where a
      // Boolean is its number.
      const Plain given(args[1]);
      const std::string with = (*given).kind() == Kind::Boolean ? ((*given).boolean() ? "-1" : "0") : ToString(*given);
      std::string out;
      std::size_t copied = 0;
      Walk(s, [&](const Found& f) {
        out.append(s, copied, f.begin - copied);
        const std::size_t before = out.size();
        Expand(out, with, s, f);
        CheckTextSize(out.size(), out.size() - before);
        copied = f.end;
      });
      out.append(s, copied);
      CheckTextSize(out.size());
      return Value::String(std::move(out));
    }
    ThrowRuntime(kErrNoSuchMember);
  }

 private:
  void Compile() {
    if (code_) return;
    std::uint32_t options = PCRE2_UTF | PCRE2_ALT_BSUX | PCRE2_MATCH_UNSET_BACKREF | PCRE2_NO_UTF_CHECK;
    if (ignore_case_) options |= PCRE2_CASELESS;
    options |= multiline_ ? PCRE2_MULTILINE : PCRE2_DOLLAR_ENDONLY;
    int error = 0;
    PCRE2_SIZE offset = 0;
    options &= ~PCRE2_NO_UTF_CHECK;  // the pattern itself is checked
    code_.reset(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern_.data()), pattern_.size(), options, &error,
                              &offset, nullptr));
    if (!code_) ThrowRuntime(kErrRegexpSyntax);
    data_.reset(pcre2_match_data_create_from_pattern(code_.get(), nullptr));
    context_.reset(pcre2_match_context_create(nullptr));
    pcre2_set_match_limit(context_.get(), kMatchLimit);
    pcre2_set_depth_limit(context_.get(), kDepthLimit);
    if (!data_ || !context_) ThrowRuntime(kErrOutOfMemory);
  }

  // The next match at or after byte `from`.
  bool Next(const std::string& s, std::size_t from, Found& f) {
    Compile();
    const int rc = pcre2_match(code_.get(), reinterpret_cast<PCRE2_SPTR>(s.data()), s.size(), from, 0,
                               data_.get(), context_.get());
    if (rc == PCRE2_ERROR_NOMATCH) return false;
    if (rc == PCRE2_ERROR_MATCHLIMIT || rc == PCRE2_ERROR_DEPTHLIMIT) ThrowRuntime(kErrOutOfStack);
    if (rc == PCRE2_ERROR_BADUTFOFFSET || rc <= PCRE2_ERROR_UTF8_ERR1) ThrowRuntime(kErrInvalidCall);
    if (rc < 0) ThrowRuntime(kErrInvalidCall);
    const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(data_.get());
    std::uint32_t groups = 0;
    pcre2_pattern_info(code_.get(), PCRE2_INFO_CAPTURECOUNT, &groups);
    f.begin = ov[0];
    f.end = ov[1];
    f.groups.clear();
    for (std::uint32_t g = 1; g <= groups; ++g) {
      if (static_cast<int>(g) < rc && ov[2 * g] != PCRE2_UNSET) f.groups.emplace_back(std::make_pair(ov[2 * g], ov[2 * g + 1]));
      else f.groups.emplace_back(std::nullopt);
    }
    return true;
  }

  // Every match (or the first only, unless Global); an empty match moves on
  // by one character.
  template <typename F>
  void Walk(const std::string& s, F each) {
    std::size_t from = 0;
    int count = 0;
    Found f;
    while (from <= s.size() && Next(s, from, f)) {
      each(f);
      if (!global_) return;
      if (++count % kMatchesBetweenClockReads == 0 && in_) in_->CheckDeadline();
      if (f.end > f.begin) {
        from = f.end;
      } else {
        if (f.end >= s.size()) return;
        std::size_t n = 1;
        FirstCodePoint(std::string_view(s).substr(f.end), &n);
        from = f.end + n;
      }
    }
  }

  // $1..$99, $& the match, $` before it, $' after it, $$ a dollar.
  static void Expand(std::string& out, const std::string& with, const std::string& s, const Found& f) {
    for (std::size_t i = 0; i < with.size(); ++i) {
      const char c = with[i];
      if (c != '$' || i + 1 >= with.size()) {
        out += c;
        continue;
      }
      const char n = with[i + 1];
      if (n == '$') {
        out += '$';
        ++i;
      } else if (n == '&') {
        out.append(s, f.begin, f.end - f.begin);
        ++i;
      } else if (n == '`') {
        out.append(s, 0, f.begin);
        ++i;
      } else if (n == '\'') {
        out.append(s, f.end);
        ++i;
      } else if (n >= '0' && n <= '9') {
        std::size_t g = static_cast<std::size_t>(n - '0');
        std::size_t used = 1;
        if (i + 2 < with.size() && with[i + 2] >= '0' && with[i + 2] <= '9') {
          const std::size_t two = g * 10 + static_cast<std::size_t>(with[i + 2] - '0');
          if (two >= 1 && two <= f.groups.size()) {
            g = two;
            used = 2;
          }
        }
        if (g >= 1 && g <= f.groups.size()) {
          if (f.groups[g - 1]) out.append(s, f.groups[g - 1]->first, f.groups[g - 1]->second - f.groups[g - 1]->first);
          i += used;
        } else {
          out += c;
        }
      } else {
        out += c;
      }
    }
  }

  const Interpreter* in_;
  std::string pattern_;
  bool global_ = false;
  bool ignore_case_ = false;
  bool multiline_ = false;
  std::unique_ptr<pcre2_code, CodeFree> code_;
  std::unique_ptr<pcre2_match_data, MatchDataFree> data_;
  std::unique_ptr<pcre2_match_context, ContextFree> context_;
};

}  // namespace

std::shared_ptr<Object> NewRegExp(const Interpreter* in) { return std::make_shared<RegExp>(in); }

}  // namespace tarv::vbs
