#include "components/db_common.h"

namespace orb {

namespace {

TExceptionHandler& ApplicationExceptionHandler() {
  static TExceptionHandler handler;
  return handler;
}

}  // namespace

TExceptionHandler SetApplicationExceptionHandler(TExceptionHandler handler) {
  TExceptionHandler previous = std::move(ApplicationExceptionHandler());
  ApplicationExceptionHandler() = std::move(handler);
  return previous;
}

void HandleApplicationException(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const EAbort&) {
    return;
  } catch (...) {
  }
  if (ApplicationExceptionHandler()) ApplicationExceptionHandler()(error);
}

bool IsWriteState(TDataSetState state) {
  switch (state) {
    case dsEdit:
    case dsInsert:
    case dsSetKey:
    case dsCalcFields:
    case dsFilter:
    case dsNewValue:
    case dsInternalCalc:
      return true;
    default:
      return false;
  }
}

bool IsEditState(TDataSetState state) { return state == dsEdit || state == dsInsert || state == dsSetKey; }

void DatabaseErrorFmt(std::string_view fmt, const FormatArgs& args) {
  std::optional<std::string> text = TryFormat(fmt, args);
  DatabaseError(text ? *text : std::string(fmt));
}

std::vector<std::string> SplitFieldNames(std::string_view names) {
  std::vector<std::string> result;
  size_t pos = 0;
  while (pos <= names.size()) {
    size_t end = names.find_first_of(";,", pos);
    if (end == std::string_view::npos) end = names.size();
    std::string_view part = names.substr(pos, end - pos);
    while (!part.empty() && (part.front() == ' ' || part.front() == '\t')) part.remove_prefix(1);
    while (!part.empty() && (part.back() == ' ' || part.back() == '\t')) part.remove_suffix(1);
    if (!part.empty()) result.emplace_back(part);
    pos = end + 1;
  }
  return result;
}

}  // namespace orb
