#pragma once
// One block of the block tree built from a tag directory.
#include <QList>
#include <memory>

#include "fiff_constants.h"
#include "fiff_dir_entry.h"
#include "fiff_id.h"
#include "fiff_tag.h"

namespace FIFFLIB {

class FiffStream;

class FiffDirNode {
public:
    using SPtr = std::shared_ptr<FiffDirNode>;

    FiffDirNode() = default;
    // A copy sharing the other node's entries and children.
    explicit FiffDirNode(const SPtr& other);

    // Nodes of this block kind, in pre-order (this node first, then each child's subtree).
    // Each result is a copy that shares the found node's entries and children.
    QList<SPtr> dir_tree_find(fiff_int_t kind) const;
    // Reads the first tag of this kind among this node's own entries into tag; false (and tag
    // empty) when there is none or it cannot be read.
    bool find_tag(FiffStream* stream, fiff_int_t findkind, FiffTag::UPtr& tag) const;
    bool has_tag(fiff_int_t findkind) const;
    bool isEmpty() const { return type == -1; }
    fiff_int_t nent() const { return static_cast<fiff_int_t>(dir.size()); }
    fiff_int_t nchild() const { return static_cast<fiff_int_t>(children.size()); }

    fiff_int_t type = -1;  // block kind; 999 for the root
    FiffId id;
    QList<FiffDirEntry::SPtr> dir;  // this block's own entries, in file order
    fiff_int_t nent_tree = -1;      // entries counted in this subtree
    SPtr parent;
    FiffId parent_id;
    QList<SPtr> children;
};

}  // namespace FIFFLIB
