// CDO.Message: the fields of one mail, its attachments and the configuration
// fields that say how to reach the SMTP server; Send hands them to the mail
// sender.
#include <map>

#include "services/mail/host_objects.h"
#include "services/mail/mail_sender.h"
#include "services/scripthost/vbs_eval.h"
#include "services/scripthost/vbs_objects.h"

namespace tarv::hostobj {

namespace {

using vbs::EqualsNoCase;
using vbs::Value;

// The error numbers the mail component answers with.
constexpr int kErrTransport = static_cast<int>(0x80040213u);  // the transport failed
constexpr int kErrNoRecipient = static_cast<int>(0x8004020Cu);
constexpr int kErrNoSender = static_cast<int>(0x8004020Du);
constexpr int kErrSendUsing = static_cast<int>(0x80040220u);

// Configuration fields by their name without the namespace, lower case.
using FieldMap = std::map<std::string, Value>;

std::string FieldKey(const Value& name) {
  std::string key = vbs::FoldCase(vbs::ToString(name));
  const std::string schema = vbs::FoldCase(kCdoSchema);
  if (key.starts_with(schema)) key.erase(0, schema.size());
  return key;
}

class Fields : public vbs::BuiltinObject {
 public:
  explicit Fields(std::shared_ptr<FieldMap> map) : map_(std::move(map)) {}
  std::string TypeName() const override { return "Fields"; }

  void SetProperty(std::string_view name, std::span<const Value> args, const Value& v) override {
    if (!name.empty() && !EqualsNoCase(name, "item")) vbs::ThrowRuntime(vbs::kErrNoSuchMember);
    vbs::ArgCount(args, 1, 1);
    (*map_)[FieldKey(args[0])] = *vbs::Plain(v);
  }

  Value Call(std::string_view name, std::span<const Value> args) override {
    if (name.empty() || EqualsNoCase(name, "item")) {
      vbs::ArgCount(args, 1, 1);
      const auto it = map_->find(FieldKey(args[0]));
      return it == map_->end() ? Value() : it->second;
    }
    if (EqualsNoCase(name, "update") || EqualsNoCase(name, "resync")) {
      vbs::ArgCount(args, 0, 0);
      return Value();
    }
    if (EqualsNoCase(name, "count")) return Value::Long(static_cast<std::int32_t>(map_->size()));
    vbs::ThrowRuntime(vbs::kErrNoSuchMember);
  }

 private:
  std::shared_ptr<FieldMap> map_;
};

class Configuration : public vbs::BuiltinObject {
 public:
  explicit Configuration(std::shared_ptr<FieldMap> map) : fields_(std::make_shared<Fields>(map)) {}
  std::string TypeName() const override { return "Configuration"; }
  Value Call(std::string_view name, std::span<const Value> args) override {
    if (EqualsNoCase(name, "fields")) {
      vbs::ArgCount(args, 0, 0);
      return Value::Object(fields_);
    }
    vbs::ThrowRuntime(vbs::kErrNoSuchMember);
  }

 private:
  std::shared_ptr<Fields> fields_;
};

class MailMessage : public vbs::BuiltinObject {
 public:
  explicit MailMessage(const vbs::Interpreter* in)
      : in_(in), fields_(std::make_shared<FieldMap>()), config_(std::make_shared<Configuration>(fields_)) {}
  std::string TypeName() const override { return "IMessage"; }

  void SetProperty(std::string_view name, std::span<const Value> args, const Value& v) override {
    vbs::ArgCount(args, 0, 0);
    if (std::string* field = Field(name)) {
      *field = vbs::ToString(*vbs::Plain(v));
      return;
    }
    vbs::ThrowRuntime(vbs::kErrNoSuchMember);
  }

  Value Call(std::string_view name, std::span<const Value> args) override {
    if (std::string* field = Field(name)) {
      vbs::ArgCount(args, 0, 0);
      return Value::String(*field);
    }
    if (EqualsNoCase(name, "configuration")) {
      vbs::ArgCount(args, 0, 0);
      return Value::Object(config_);
    }
    if (EqualsNoCase(name, "addattachment")) {
      vbs::ArgCount(args, 1, 3);
      std::string error;
      auto a = mail::LoadAttachment(vbs::ToString(*vbs::Plain(args[0])), attached_bytes_, error);
      if (!a) vbs::ThrowRuntime(vbs::kErrFileNotFound, error);
      attached_bytes_ += a->bytes.size();
      message_.attachments.push_back(std::move(*a));
      return Value();
    }
    if (EqualsNoCase(name, "send")) {
      vbs::ArgCount(args, 0, 0);
      Send();
      return Value();
    }
    vbs::ThrowRuntime(vbs::kErrNoSuchMember);
  }

 private:
  std::string* Field(std::string_view name) {
    if (EqualsNoCase(name, "subject")) return &message_.subject;
    if (EqualsNoCase(name, "from")) return &message_.from;
    if (EqualsNoCase(name, "to")) return &message_.to;
    if (EqualsNoCase(name, "textbody")) return &message_.body;
    return nullptr;
  }

  const Value* Get(std::string_view key) const {
    const auto it = fields_->find(std::string(key));
    return it == fields_->end() || it->second.kind() == vbs::Kind::Empty ? nullptr : &it->second;
  }

  void Send() {
    const Value* using_port = Get("sendusing");
    if (!using_port || vbs::ToLong(*using_port) != 2)
      vbs::ThrowRuntime(kErrSendUsing, "The \"SendUsing\" configuration value is invalid.");
    if (message_.from.empty()) vbs::ThrowRuntime(kErrNoSender, "At least one of the From or Sender fields is required, and neither was found.");
    if (message_.to.empty()) vbs::ThrowRuntime(kErrNoRecipient, "At least one recipient is required, but none were found.");
    mail::Server server;
    if (const Value* v = Get("smtpserver")) server.host = vbs::ToString(*v);
    if (const Value* v = Get("smtpserverport")) server.port = vbs::ToLong(*v);
    if (const Value* v = Get("smtpauthenticate")) server.authenticate = vbs::ToLong(*v) != 0;
    if (const Value* v = Get("sendusername")) server.user = vbs::ToString(*v);
    if (const Value* v = Get("sendpassword")) server.password = vbs::ToString(*v);
    if (const Value* v = Get("smtpusessl")) server.use_tls = vbs::ToBoolean(*v);
    server.implicit_tls = server.port == mail::kSmtpsPort;
    if (const Value* v = Get("smtpconnectiontimeout")) server.connect_timeout_s = vbs::ToLong(*v);
    const auto deadline = in_ ? in_->deadline() : std::nullopt;
    const std::string error = mail::Send(server, message_, deadline);
    if (!error.empty()) vbs::ThrowRuntime(kErrTransport, "The message could not be sent to the SMTP server. " + error);
  }

  const vbs::Interpreter* in_;
  std::shared_ptr<FieldMap> fields_;
  std::shared_ptr<Configuration> config_;
  mail::Message message_;
  std::uint64_t attached_bytes_ = 0;
};

}  // namespace

std::shared_ptr<vbs::Object> NewMailMessage(const vbs::Interpreter* in) {
  return std::make_shared<MailMessage>(in);
}

}  // namespace tarv::hostobj
