#include "engine/memory/table_index_factory.h"

#include <mutex>


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
  if (!factory) return nullptr;  // the index manager's B-tree record index
  return factory(index_def, index_manager);
}

}  // namespace orb
