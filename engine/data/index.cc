#include "engine/data/index.h"

namespace orb {

TORBIndex::TORBIndex(const TORBIndexDef& index_def, TORBBaseIndexManager* index_manager)
    : FIndexManager(index_manager) {
  FIndexDef.Assign(index_def);
}

void TORBIndex::CreateIndex(TORBCursorInterface* /*cursor*/, const TORBIndexDef& index_def) {
  FIndexDef.Assign(index_def);
}

void TORBIndex::OpenIndex(const TORBIndexDef& index_def) { FIndexDef.Assign(index_def); }

}  // namespace orb
