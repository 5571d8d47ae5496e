#include "engine/session/base_session.h"

#include <algorithm>

#include "engine/platform/text_case.h"

namespace orb {

void TORBBaseSession::SetObject(std::unique_ptr<TORBSessionNamedObject> object) {
  const int32_t id = object->ObjectID;
  const std::string& name = object->Name;
  std::erase_if(FObjects, [&](const auto& existing) {
    return id == -1 ? SameName(existing->Name, name) : existing->ObjectID == id;
  });
  FObjects.push_back(std::move(object));
}

TORBSessionNamedObject* TORBBaseSession::GetObjectByName(const std::string& name) const {
  for (const auto& object : FObjects)
    if (SameName(object->Name, name)) return object.get();
  return nullptr;
}

TORBSessionNamedObject* TORBBaseSession::GetObjectByID(int32_t object_id) const {
  for (const auto& object : FObjects)
    if (object->ObjectID == object_id) return object.get();
  return nullptr;
}

void TORBBaseSession::DeleteObject(int32_t object_id) {
  std::erase_if(FObjects, [&](const auto& object) { return object->ObjectID == object_id; });
}

}  // namespace orb
