// The tree's node chunks: taken from the spares of earlier fills before new
// ones are made, and kept again at Clear unless a NodeRef still holds them.
#include <algorithm>
#include <cassert>

#include "widgets/node_chunks_p.h"

namespace kevra {

namespace {

// Chunks start small, for the trees of a few dozen nodes that are the rule,
// and grow with the tree up to this many nodes.
constexpr size_t kMaxChunkNodes = 1024;
constexpr size_t kMinChunkNodes = 16;

}  // namespace

void NodeChunks::AddChunk(size_t nodes) {
    // Room first, so that taking a spare chunk cannot fail half way.
    if (chunks_.size() == chunks_.capacity())
        chunks_.reserve(std::max<size_t>(8, chunks_.size() * 2));
    if (!spare_.empty()) {
        assert(spare_.back()->used == 0 && "a spare chunk still holds nodes");
        chunks_.push_back(std::move(spare_.back()));
        spare_.pop_back();
    } else {
        auto chunk = std::make_shared<Chunk>();
        chunk->nodes.resize(std::clamp(nodes, kMinChunkNodes, kMaxChunkNodes));
        chunks_.push_back(std::move(chunk));
    }
}

NodeRef NodeChunks::RefTo(Node* node) const {
    assert(node->chunk_ < chunks_.size() && node >= chunks_[node->chunk_]->nodes.data() &&
           node < chunks_[node->chunk_]->nodes.data() + chunks_[node->chunk_]->used &&
           "a node outside the tree's chunks");
    return NodeRef(chunks_[node->chunk_], node);
}

void NodeChunks::ReleaseAll(size_t nodes) {
    // Nodes handed out earlier stay valid objects (their chunk lives on with
    // them) but belong to no tree any more: detach their links so that
    // nothing dangles.
    size_t kept_nodes = 0;
    std::vector<std::shared_ptr<Chunk>> spare;
    spare.reserve(chunks_.size());
    for (auto& chunk : chunks_) {
        if (chunk.use_count() == 1) {
            chunk->used = 0;
            kept_nodes += chunk->nodes.size();
            spare.push_back(std::move(chunk));
            continue;
        }
        for (size_t i = 0; i < chunk->used; ++i) {
            Node& n = chunk->nodes[i];
            n.tree_ = nullptr;
            n.parent_ = nullptr;
            n.children_.clear();
        }
    }
    // Spare chunks of an earlier fill fill up what this one did not use.
    for (auto& chunk : spare_) {
        if (kept_nodes >= nodes) break;
        kept_nodes += chunk->nodes.size();
        spare.push_back(std::move(chunk));
    }
    // Used from the back: the first chunks, the small ones, go first.
    std::reverse(spare.begin(), spare.end());
    spare_.swap(spare);
    chunks_.clear();
}

}  // namespace kevra
