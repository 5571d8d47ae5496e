#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/platform/dataset_error.h"
#include "engine/platform/format.h"

namespace orb {

// The engine's exception: every failure the engine detects raises it with
// the code of the raise site. The message ends with " - Native error: " and
// the code.
class EORBException : public Exception {
 public:
  // Plain: message, then the code as "%.5d".
  EORBException(int32_t code, std::string_view message);
  // Formatted: the format filled with `args`, then the code as "%5d". When
  // the arguments do not fit the format, the raw format is followed by
  // " Arguments are invalid!".
  EORBException(int32_t code, std::string_view format, const FormatArgs& args);

  int32_t NativeError() const noexcept { return FNativeError; }

 private:
  int32_t FNativeError;
};

// Raise helpers, so a raise site is one line.
[[noreturn]] void RaiseORB(int32_t code, std::string_view message);
[[noreturn]] void RaiseORB(int32_t code, std::string_view format, const FormatArgs& args);

// The dataset layer's error for a non-zero cursor status (-13 to -1).
class EORBEngineError : public EDatabaseError {
 public:
  EORBEngineError(int32_t code, std::string_view message);

  int32_t ErrorCode() const noexcept { return FErrorCode; }
  const std::string& ErrorMessage() const noexcept { return FErrorMessage; }

 private:
  int32_t FErrorCode;
  std::string FErrorMessage;
};

// Always raises EORBEngineError(code, message).
[[noreturn]] void DbiError(int32_t code, std::string_view message);
// Raises through DbiError unless code is 0.
void Check(int32_t code, std::string_view message);

// Message texts shared by many raise sites.
inline constexpr std::string_view kMsgNilPointer = "Nil pointer occured";
inline constexpr std::string_view kMsgPointerIsNil = "Pointer is nil";
inline constexpr std::string_view kMsgInvalidFieldNumber = "Invalid field number - FieldNo = %d, FieldCount = %d";
inline constexpr std::string_view kMsgNotImplemented = "Not implemented yet";
inline constexpr std::string_view kMsgDifferentListLengths = "Error - different list lengths. L1 = %d, L2 = %d";

}  // namespace orb
