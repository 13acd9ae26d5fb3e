// Scripting.Dictionary: keys in the order added; text keys compared by bytes
// or, in text mode, without regard to case.
#include <cstdio>
#include <unordered_map>
#include <vector>

#include "services/scripthost/vbs_objects.h"
#include "services/scripthost/vbs_text.h"

namespace tarv::vbs {

namespace {

constexpr std::size_t kMaxEntries = 4u << 20;

// A member name: only one as long as the word is compared, and that one
// without regard to case.
bool Is(std::string_view name, std::string_view word) {
  return name.size() == word.size() && EqualsNoCase(name, word);
}

class Dictionary : public BuiltinObject {
 public:
  ~Dictionary() override {
    for (auto& [k, v] : entries_) {
      ReleaseLater(k);
      ReleaseLater(v);
    }
    ReleaseNow();
  }
  std::string TypeName() const override { return "Dictionary"; }
  bool Inert() const override { return true; }

  Value GetProperty(std::string_view name, std::span<const Value> args) override {
    if (Is(name, "count")) return Value::Long(static_cast<std::int32_t>(entries_.size()));
    if (Is(name, "comparemode")) return Value::Long(text_ ? 1 : 0);
    return Call(name, args);
  }

  void SetProperty(std::string_view name, std::span<const Value> args, const Value& v) override {
    if (name.empty() || Is(name, "item")) {
      ArgCount(args, 1, 1);
      if (const std::size_t at = Find(args[0]); at != kMissing) {
        entries_[at].second = v;
      } else {
        Insert(args[0], v);
      }
      return;
    }
    if (Is(name, "comparemode")) {
      if (!entries_.empty()) ThrowRuntime(kErrInvalidCall);
      const std::int32_t m = ToLong(v);
      if (m < 0 || m > 2) ThrowRuntime(kErrInvalidCall);
      text_ = m == 1;
      Forget();
      return;
    }
    if (Is(name, "key")) {
      ArgCount(args, 1, 1);
      KeyOf(args[0]);
      const auto it = index_.find(probe_);
      if (it == index_.end()) ThrowRuntime(kErrElementNotFound);
      KeyOf(v);
      if (index_.contains(probe_)) ThrowRuntime(kErrKeyExists);
      Forget();
      const std::size_t at = it->second;
      index_.erase(it);
      index_.emplace(probe_, at);
      entries_[at].first = v;
      return;
    }
    ThrowRuntime(kErrNoSuchMember);
  }

  Value Call(std::string_view name, std::span<const Value> args) override {
    if (name.empty() || Is(name, "item")) {
      ArgCount(args, 1, 1);
      if (const std::size_t at = Find(args[0]); at != kMissing) return entries_[at].second;
      // Reading a missing key adds it, empty, as the original does.
      Insert(args[0], Value());
      return Value();
    }
    if (Is(name, "add")) {
      ArgCount(args, 2, 2);
      if (Find(args[0]) != kMissing) ThrowRuntime(kErrKeyExists);
      Insert(args[0], args[1]);
      return Value();
    }
    if (Is(name, "exists")) {
      ArgCount(args, 1, 1);
      return Value::Boolean(Find(args[0]) != kMissing);
    }
    if (Is(name, "remove")) {
      ArgCount(args, 1, 1);
      KeyOf(args[0]);
      const auto it = index_.find(probe_);
      if (it == index_.end()) ThrowRuntime(kErrElementNotFound);
      Forget();
      const std::size_t at = it->second;
      index_.erase(it);
      entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(at));
      for (auto& [k, i] : index_) {
        if (i > at) --i;
      }
      return Value();
    }
    if (Is(name, "removeall")) {
      ArgCount(args, 0, 0);
      Forget();
      entries_.clear();
      index_.clear();
      return Value();
    }
    if (Is(name, "keys") || Is(name, "items")) {
      const bool keys = Is(name, "keys");
      std::vector<Value> out;
      out.reserve(entries_.size());
      for (const auto& [k, v] : entries_) out.push_back(keys ? k : v);
      const Value list = Value::Array(Array::Of(std::move(out)));
      if (args.empty()) return list;
      ArgCount(args, 1, 1);
      return list.array()->items[list.array()->Offset(args)];
    }
    if (Is(name, "count") || Is(name, "comparemode")) {
      ArgCount(args, 0, 0);
      return GetProperty(name, args);
    }
    ThrowRuntime(kErrNoSuchMember);
  }

  bool Enumerate(std::vector<Value>& out) override {
    for (const auto& [k, v] : entries_) out.push_back(k);
    return true;
  }

  void GiveUpValues() override {
    // Emptied first: what freeing the entries frees finds it empty.
    std::vector<std::pair<Value, Value>> gone;
    gone.swap(entries_);
    index_.clear();
    Forget();
  }

 private:
  static constexpr std::size_t kMissing = static_cast<std::size_t>(-1);

  // Keys of equal value share one text: numbers by their value, text by its
  // bytes (folded in text mode), objects by identity. Built into probe_,
  // whose room stays from one key to the next.
  void KeyOf(const Value& key) {
    probe_.clear();
    switch (key.kind()) {
      case Kind::Empty: probe_ = "e"; return;
      case Kind::Null: probe_ = "z"; return;
      case Kind::String: {
        const std::string& s = key.str();
        probe_.push_back('s');
        if (!text_) {
          probe_.append(s);
          return;
        }
        for (const char c : s) {
          if (static_cast<unsigned char>(c) >= 0x80) {
            probe_.resize(1);
            probe_.append(LowerText(s));
            return;
          }
          probe_.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c);
        }
        return;
      }
      case Kind::Object: {
        char buf[32];
        std::snprintf(buf, sizeof buf, "o%p", static_cast<const void*>(key.object().get()));
        probe_ = buf;
        return;
      }
      case Kind::Array: ThrowRuntime(kErrTypeMismatch);
      case Kind::Date: probe_ = "d" + FormatDouble(key.date()); return;
      default: probe_ = "n" + FormatDouble(ToDouble(key)); return;
    }
  }

  // The entry of a key, or kMissing. A loop that asks whether a key is
  // there, reads it and writes it names the same key each time: the last
  // key found is remembered, so that only the first of those hashes.
  std::size_t Find(const Value& key) {
    KeyOf(key);
    if (last_at_ != kMissing && probe_ == last_) return last_at_;
    const auto it = index_.find(probe_);
    if (it == index_.end()) return kMissing;
    last_.assign(probe_);
    last_at_ = it->second;
    return last_at_;
  }

  // What changes the place of a key, or the way keys compare, forgets the
  // last one found.
  void Forget() { last_at_ = kMissing; }

  // Adds the key whose text is in probe_.
  void Insert(const Value& key, const Value& item) {
    if (entries_.size() >= kMaxEntries) ThrowRuntime(kErrOutOfMemory);
    if (entries_.size() % 4096 == 4095) CheckMemory();
    index_.emplace(probe_, entries_.size());
    entries_.emplace_back(key, item);
  }

  std::vector<std::pair<Value, Value>> entries_;
  std::unordered_map<std::string, std::size_t> index_;
  bool text_ = false;
  std::string probe_;
  std::string last_;
  std::size_t last_at_ = kMissing;
};

class Collection : public BuiltinObject {
 public:
  Collection(std::string type_name, std::vector<Value> items)
      : type_name_(std::move(type_name)), items_(std::move(items)) {}
  ~Collection() override {
    for (Value& v : items_) ReleaseLater(v);
    ReleaseNow();
  }
  std::string TypeName() const override { return type_name_; }
  Value Call(std::string_view name, std::span<const Value> args) override {
    if (EqualsNoCase(name, "count")) {
      ArgCount(args, 0, 0);
      return Value::Long(static_cast<std::int32_t>(items_.size()));
    }
    if (name.empty() || EqualsNoCase(name, "item")) {
      ArgCount(args, 1, 1);
      const std::int32_t i = ToLong(args[0]);
      if (i < 0 || static_cast<std::size_t>(i) >= items_.size()) ThrowRuntime(kErrInvalidCall);
      return items_[static_cast<std::size_t>(i)];
    }
    ThrowRuntime(kErrNoSuchMember);
  }
  bool Enumerate(std::vector<Value>& out) override {
    out.insert(out.end(), items_.begin(), items_.end());
    return true;
  }
  void GiveUpValues() override {
    std::vector<Value> gone;
    gone.swap(items_);
  }

 private:
  std::string type_name_;
  std::vector<Value> items_;
};

}  // namespace

std::shared_ptr<Object> NewCollection(std::string type_name, std::vector<Value> items) {
  return std::make_shared<Collection>(std::move(type_name), std::move(items));
}

void ArgCount(std::span<const Value> args, std::size_t lo, std::size_t hi) {
  if (args.size() < lo || args.size() > hi) ThrowRuntime(kErrWrongArgCount);
}

std::shared_ptr<Object> NewDictionary() { return std::make_shared<Dictionary>(); }

std::shared_ptr<Object> StandardObjects::Create(std::string_view prog_id) {
  if (EqualsNoCase(prog_id, "Scripting.Dictionary")) return NewDictionary();
  if (EqualsNoCase(prog_id, "Scripting.FileSystemObject")) return NewFileSystem(in_);
  if (EqualsNoCase(prog_id, "VBScript.RegExp")) return NewRegExp(in_);
  return nullptr;
}

}  // namespace tarv::vbs
