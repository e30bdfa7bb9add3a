// The plain build of the Slabs hierarchy, every range sorted on its own: slow (n log^2 n, every box read
// through its shape), and the definition of the tree the fast build makes.
#pragma once

#include "geometry/world.h"

namespace quorva {

// Builds the tree over the main list (light entries left out) and returns its root, null for a list
// without shapes; the groups are owned by the World, world.root is left as it was.
const Shape* buildHierarchyBySortPerRange(World& world);

}  // namespace quorva
