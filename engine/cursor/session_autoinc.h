#pragma once

// A session's last auto-increment values as the field manager asks for
// them: sequence values among the session's named objects, keyed by the
// object ID of the auto-increment field.

#include <memory>
#include <string>

#include "engine/base/field_manager.h"
#include "engine/session/base_session.h"
#include "engine/session/session_named_object.h"

namespace orb {

class TORBSessionAutoinc : public TORBAutoincSession {
 public:
  // `session` may be null: single-user, no values kept.
  explicit TORBSessionAutoinc(TORBBaseSession* session) : FSession(session) {}

  bool IsMultiUser() const override { return FSession != nullptr && FSession->GetMultiUser(); }
  void SetSequenceLastValue(int32_t object_id, std::string_view name, int64_t value) override {
    if (FSession == nullptr) return;
    FSession->SetObject(std::make_unique<TORBSessionNamedObjectSequenceValue>(object_id, std::string(name), value));
  }
  bool GetSequenceLastValue(int32_t object_id, int64_t& value) const override {
    if (FSession == nullptr) return false;
    auto* sequence = dynamic_cast<TORBSessionNamedObjectSequenceValue*>(FSession->GetObjectByID(object_id));
    if (sequence == nullptr) return false;
    value = sequence->Value;
    return true;
  }

 private:
  TORBBaseSession* FSession;
};

}  // namespace orb
