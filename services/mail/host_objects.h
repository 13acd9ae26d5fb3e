// The objects that the mail, workbook and speech scripts create in place of
// the COM servers: CDO.Message, Excel.Application and SAPI.SpVoice.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "services/scripthost/vbs_object.h"

namespace tarv::vbs {
class Interpreter;
}

namespace tarv::hostobj {

inline constexpr std::string_view kMailClass = "CDO.Message";
inline constexpr std::string_view kExcelClass = "Excel.Application";
inline constexpr std::string_view kVoiceClass = "SAPI.SpVoice";

// The namespace of the mail configuration fields.
inline constexpr std::string_view kCdoSchema = "http://schemas.microsoft.com/cdo/configuration/";

// Makes exactly one class of object, so that a script built for one task can
// reach nothing else. `in` is asked for the run's time limit; it may be set
// after construction and may be null.
class SingleClassFactory : public vbs::ObjectFactory {
 public:
  explicit SingleClassFactory(std::string_view prog_id) : prog_id_(prog_id) {}
  void SetInterpreter(const vbs::Interpreter* in) { in_ = in; }
  std::shared_ptr<vbs::Object> Create(std::string_view prog_id) override;

 private:
  std::string prog_id_;
  const vbs::Interpreter* in_ = nullptr;
};

std::shared_ptr<vbs::Object> NewMailMessage(const vbs::Interpreter* in);
std::shared_ptr<vbs::Object> NewExcelApplication(const vbs::Interpreter* in);
std::shared_ptr<vbs::Object> NewVoice(const vbs::Interpreter* in);

}  // namespace tarv::hostobj
