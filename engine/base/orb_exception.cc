#include "engine/base/orb_exception.h"

#include <cstdio>

namespace orb {
namespace {

constexpr std::string_view kNativeError = " - Native error: ";

std::string PlainMessage(int32_t code, std::string_view message) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.5d", static_cast<int>(code));
  return std::string(message) + std::string(kNativeError) + buf;
}

std::string FormattedMessage(int32_t code, std::string_view format, const FormatArgs& args) {
  std::string text;
  if (auto formatted = TryFormat(format, args)) {
    text = std::move(*formatted);
  } else {
    text = std::string(format) + " Arguments are invalid!";
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, "%5d", static_cast<int>(code));
  return text + std::string(kNativeError) + buf;
}

std::string_view StatusText(int32_t code) {
  switch (code) {
    case -1: return "Error adding record";
    case -2: return "Error updating record";
    case -3: return "Error deleting record";
    case -4: return "Error updating record - record was modified by another process";
    case -5: return "Error deleting record - record was modified by another process";
    case -6: return "Error updating record - record was deleted by another process";
    case -7: return "Error deleting record - record was deleted by another process";
    case -9: return "Cannot update record in temporary mode";
    case -10: return "Cannot delete record in temporary mode";
    case -11: return "Cannot cancel operation in temporary mode";
    case -12: return "Record is locked";
    case -13: return "Table is locked";
    default: return "";
  }
}

std::string ChooseErrorMessage(int32_t code, std::string_view message) {
  return code == -8 ? std::string(message) : std::string(StatusText(code));
}

}  // namespace

EORBException::EORBException(int32_t code, std::string_view message)
    : Exception(PlainMessage(code, message)), FNativeError(code) {}

EORBException::EORBException(int32_t code, std::string_view format, const FormatArgs& args)
    : Exception(FormattedMessage(code, format, args)), FNativeError(code) {}

void RaiseORB(int32_t code, std::string_view message) { throw EORBException(code, message); }

void RaiseORB(int32_t code, std::string_view format, const FormatArgs& args) {
  throw EORBException(code, format, args);
}

EORBEngineError::EORBEngineError(int32_t code, std::string_view message)
    : EDatabaseError(""), FErrorCode(code), FErrorMessage(ChooseErrorMessage(code, message)) {
  SetMessage("Orbelle Engine Error # " + std::to_string(code) + " " + FErrorMessage);
}

void DbiError(int32_t code, std::string_view message) { throw EORBEngineError(code, message); }

void Check(int32_t code, std::string_view message) {
  if (code != 0) DbiError(code, message);
}

}  // namespace orb
