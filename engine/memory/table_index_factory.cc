#include "engine/memory/table_index_factory.h"

#include <mutex>

#include "engine/base/error_codes.h"
#include "engine/base/orb_exception.h"

namespace orb {

namespace {

std::mutex& FactoryMutex() {
  static std::mutex mutex;
  return mutex;
}

TORBIndexFactory& Factory() {
  static TORBIndexFactory factory;
  return factory;
}

}  // namespace

void SetTableIndexFactory(TORBIndexFactory factory) {
  std::lock_guard<std::mutex> guard(FactoryMutex());
  Factory() = std::move(factory);
}

std::unique_ptr<TORBIndex> CreateTableIndex(const TORBIndexDef& index_def, TORBBaseIndexManager* index_manager) {
  TORBIndexFactory factory;
  {
    std::lock_guard<std::mutex> guard(FactoryMutex());
    factory = Factory();
  }
  if (!factory) RaiseORB(kErrNoIndexObject, kMsgNilPointer);
  return factory(index_def, index_manager);
}

}  // namespace orb
