#pragma once

#include <cstdint>
#include <string>

namespace orb {

// A value a session keeps under an object id or a name (byte string of at
// most 255 bytes). ObjectID -1: known by name only.
class TORBSessionNamedObject {
 public:
  TORBSessionNamedObject(int32_t object_id, std::string name) : ObjectID(object_id), Name(std::move(name)) {}
  virtual ~TORBSessionNamedObject() = default;
  TORBSessionNamedObject(const TORBSessionNamedObject&) = delete;
  TORBSessionNamedObject& operator=(const TORBSessionNamedObject&) = delete;

  int32_t ObjectID;
  std::string Name;
};

// The last autoincrement value this session generated or inserted for the
// field whose object id is ObjectID.
class TORBSessionNamedObjectSequenceValue : public TORBSessionNamedObject {
 public:
  TORBSessionNamedObjectSequenceValue(int32_t object_id, std::string name, int64_t value)
      : TORBSessionNamedObject(object_id, std::move(name)), Value(value) {}

  int64_t Value;
};

}  // namespace orb
