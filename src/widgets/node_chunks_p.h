// Where the tree's nodes live: chunks of nodes that never move, shared with
// every NodeRef into them. Private to the tree (not installed).
//
// A fill of a million nodes makes thousands of allocations rather than
// millions. Clear keeps the chunks nobody else holds, their nodes' text
// buffers and child lists included, for the next fill: refilling a tree of
// the same size allocates nothing but what longer texts need.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "widgets/tree.h"

namespace kevra {

class NodeChunks {
  public:
    // Room for one more node: afterwards Next() and Take() cannot fail.
    // `nodes` is how many the tree holds, which sizes a new chunk.
    void ReserveOneMore(size_t nodes) {
        if (chunks_.empty() || chunks_.back()->used == chunks_.back()->nodes.size())
            AddChunk(nodes);
    }
    // The node the next Take() hands out. It may hold the key, text and
    // children of an earlier fill, whose buffers the new node reuses.
    Node& Next() { return chunks_.back()->nodes[chunks_.back()->used]; }
    // Takes Next() into the tree, recording its chunk in it.
    Node& Take() noexcept {
        Chunk& chunk = *chunks_.back();
        assert(chunk.used < chunk.nodes.size() && "Take without ReserveOneMore");
        Node& node = chunk.nodes[chunk.used++];
        node.chunk_ = static_cast<uint32_t>(chunks_.size() - 1);
        return node;
    }
    // Shares ownership of the node's chunk and points at the node.
    NodeRef RefTo(Node* node) const;
    // Gives up every node. The nodes of chunks held elsewhere are detached
    // from their tree; the other chunks are kept for the next fill, up to as
    // many nodes as `nodes` (this fill's count), so that a small tree after
    // a large one does not keep the large one's memory for long.
    void ReleaseAll(size_t nodes);

  private:
    void AddChunk(size_t nodes);

    struct Chunk {
        std::vector<Node> nodes;  // made at full size; never resized
        size_t used = 0;          // nodes[0..used) are in the tree
    };
    std::vector<std::shared_ptr<Chunk>> chunks_;
    std::vector<std::shared_ptr<Chunk>> spare_;  // kept by ReleaseAll, used before new ones
};

}  // namespace kevra
