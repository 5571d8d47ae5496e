#pragma once

// The index objects of in-memory and temporary tables. Without a factory
// they are the shared B-tree record index (the index manager makes it); a
// test may put another index class in its place.

#include <functional>
#include <memory>

#include "engine/data/index.h"

namespace orb {

using TORBIndexFactory =
    std::function<std::unique_ptr<TORBIndex>(const TORBIndexDef& index_def, TORBBaseIndexManager* index_manager)>;

// Process-wide; an empty function removes the factory.
void SetTableIndexFactory(TORBIndexFactory factory);
// The index object for a definition; none when no factory is set.
std::unique_ptr<TORBIndex> CreateTableIndex(const TORBIndexDef& index_def, TORBBaseIndexManager* index_manager);

}  // namespace orb
