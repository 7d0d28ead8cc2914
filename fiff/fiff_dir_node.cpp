#include "fiff_dir_node.h"

#include "fiff_stream.h"

namespace FIFFLIB {

FiffDirNode::FiffDirNode(const SPtr& other) {
    if (other) {
        *this = *other;
    }
}

QList<FiffDirNode::SPtr> FiffDirNode::dir_tree_find(fiff_int_t kind) const {
    QList<SPtr> found;
    // Pre-order without recursion: children are pushed last-first so the first is taken next.
    QList<const FiffDirNode*> pending{this};
    while (!pending.isEmpty()) {
        const FiffDirNode* node = pending.takeLast();
        if (node->type == kind) {
            found.append(std::make_shared<FiffDirNode>(*node));
        }
        for (auto child = node->children.crbegin(); child != node->children.crend(); ++child) {
            if (*child) {
                pending.append(child->get());
            }
        }
    }
    return found;
}

bool FiffDirNode::find_tag(FiffStream* stream, fiff_int_t findkind, FiffTag::UPtr& tag) const {
    if (stream) {
        for (const FiffDirEntry::SPtr& entry : dir) {
            if (entry && entry->kind == findkind) {
                if (stream->read_tag(tag, entry->pos)) {
                    return true;
                }
                break;
            }
        }
    }
    tag.reset();
    return false;
}

bool FiffDirNode::has_tag(fiff_int_t findkind) const {
    for (const FiffDirEntry::SPtr& entry : dir) {
        if (entry && entry->kind == findkind) {
            return true;
        }
    }
    return false;
}

}  // namespace FIFFLIB
