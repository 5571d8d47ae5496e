#pragma once

// The index objects of in-memory and temporary tables. The tables are
// built on the shared B-tree record index; the engine's start-up (or a
// test) names the class through this factory.

#include <functional>
#include <memory>

#include "engine/data/index.h"

namespace orb {

using TORBIndexFactory =
    std::function<std::unique_ptr<TORBIndex>(const TORBIndexDef& index_def, TORBBaseIndexManager* index_manager)>;

// Process-wide; an empty function removes the factory.
void SetTableIndexFactory(TORBIndexFactory factory);
// The index object for a definition; 30674 when no factory is set.
std::unique_ptr<TORBIndex> CreateTableIndex(const TORBIndexDef& index_def, TORBBaseIndexManager* index_manager);

}  // namespace orb
