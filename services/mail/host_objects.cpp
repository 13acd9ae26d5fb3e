// SAPI.SpVoice, and the factory that lets a script create its one class.
#include "services/mail/host_objects.h"

#include "services/mail/speech.h"
#include "services/scripthost/vbs_eval.h"
#include "services/scripthost/vbs_objects.h"

namespace tarv::hostobj {

namespace {

using vbs::EqualsNoCase;
using vbs::Value;

// The failure code of a voice that cannot speak.
constexpr int kErrSpeech = static_cast<int>(0x80045003u);

class Voice : public vbs::BuiltinObject {
 public:
  explicit Voice(const vbs::Interpreter* in) : in_(in) {}
  std::string TypeName() const override { return "ISpeechVoice"; }
  Value Call(std::string_view name, std::span<const Value> args) override {
    if (EqualsNoCase(name, "speak")) {
      // Speak(text [, flags]): speech ends before the call returns.
      vbs::ArgCount(args, 1, 2);
      const std::string error = speech::Speak(vbs::ToString(*vbs::Plain(args[0])), in_ ? in_->deadline() : std::nullopt);
      if (!error.empty()) vbs::ThrowRuntime(kErrSpeech, error);
      return Value::Long(1);
    }
    if (EqualsNoCase(name, "waituntildone")) return Value::Boolean(true);
    vbs::ThrowRuntime(vbs::kErrNoSuchMember);
  }

 private:
  const vbs::Interpreter* in_;
};

}  // namespace

std::shared_ptr<vbs::Object> NewVoice(const vbs::Interpreter* in) { return std::make_shared<Voice>(in); }

std::shared_ptr<vbs::Object> SingleClassFactory::Create(std::string_view prog_id) {
  if (!EqualsNoCase(prog_id, prog_id_)) return nullptr;
  if (EqualsNoCase(prog_id, kMailClass)) return NewMailMessage(in_);
  if (EqualsNoCase(prog_id, kExcelClass)) return NewExcelApplication(in_);
  if (EqualsNoCase(prog_id, kVoiceClass)) return NewVoice(in_);
  return nullptr;
}

}  // namespace tarv::hostobj
