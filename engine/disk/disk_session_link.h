#pragma once

#include <cstdint>

#include "engine/data/database_data.h"

namespace orb {

// What a disk database data needs from a session beyond its id: the open
// mode it asks for, where the effective mode and the repair state go, and
// whether it has a transaction open. A session that offers only
// TORBSessionLink connects shared, single-user, outside any transaction.
class TORBDiskSessionLink : public TORBSessionLink {
 public:
  // Open the file for this process alone (asked on the first connect).
  virtual bool GetExclusive() const = 0;
  // Asked for before the first connect; the database's mode afterwards.
  virtual bool GetMultiUser() const = 0;
  virtual void SetMultiUser(bool multi_user) = 0;
  // The file was left in the middle of a commit (set on connect).
  virtual void SetRepairNeeded(bool repair_needed) = 0;
  virtual bool GetInTransaction() const = 0;
};

}  // namespace orb
