// The tree model.
#include "widgets/tree.h"

#include <algorithm>
#include <bit>
#include <functional>

#include "platform/error.h"
#include "platform/faults.h"
#include "platform/mix.h"

namespace kevra {

// ---- Node ----

void Node::Expanded(bool expanded) {
    if (expanded_ == expanded) return;
    expanded_ = expanded;
    if (tree_) tree_->Changed(this);
}

bool Node::Selected() const { return tree_ && tree_->selected_ == this; }

void Node::Selected(bool selected) {
    if (!tree_) return;  // removed from its tree by Clear
    if (selected) {
        tree_->Select(this);
    } else if (tree_->selected_ == this) {
        tree_->Select(nullptr);
    }
}

// ---- NodeCollection ----

namespace {

uint32_t Mix32(uint32_t x) { return static_cast<uint32_t>(MixBits(x)); }

// A key's 32-bit hash: its low bits place it in the key index, all of it is
// compared before a key is.
uint32_t KeyHash(std::string_view key) {
    const size_t h = std::hash<std::string_view>{}(key);
    return static_cast<uint32_t>(h ^ (static_cast<uint64_t>(h) >> 32));
}

// The word of NodeCollection::seen_ for a hash, among `words`, and the two
// bits it sets there.
size_t SeenWord(uint32_t hash, size_t words) {
    return static_cast<size_t>((uint64_t{Mix32(hash)} * words) >> 32);
}
uint64_t SeenBits(uint32_t hash) {
    const uint32_t h = Mix32(hash);
    return uint64_t{1} << (h & 63) | uint64_t{1} << (h >> 6 & 63);
}

// Room for one more element, growing geometrically as push_back would
// (reserve alone grows to exactly the size asked for).
template <typename T>
void GrowForOneMore(std::vector<T>& v) {
    if (v.size() == v.capacity()) v.reserve(std::max<size_t>(4, v.size() * 2));
}

// Chunks start small, for the trees of a few dozen nodes that are the rule,
// and grow with the tree up to this many nodes.
constexpr size_t kMaxChunkNodes = 1024;
constexpr size_t kMinChunkNodes = 16;

// The range of numbered keys: at least this many numbers, and more only
// while it spans no more than kNumbersPerNode numbers a node.
constexpr size_t kMinNumbers = size_t{1} << 12;
constexpr size_t kNumbersPerNode = 8;

bool HasBit(const std::vector<uint64_t>& bits, uint32_t i) { return bits[i / 64] >> (i % 64) & 1; }
void SetBit(std::vector<uint64_t>& bits, uint32_t i) { bits[i / 64] |= uint64_t{1} << (i % 64); }

}  // namespace

NodeRef NodeCollection::RefTo(Node* node) const {
    // Shares ownership of the node's chunk and points at the node.
    return NodeRef(chunks_[node->chunk_], node);
}

NodeRef NodeCollection::Item(int32_t index) const {
    faults::Check("Nodes.Item");
    if (index < 1 || index > Count())
        throw RuntimeError(err::kIndexOutOfBounds, "Index out of bounds: node " +
                                                       std::to_string(index) + " of " +
                                                       std::to_string(Count()));
    return RefTo(nodes_[static_cast<size_t>(index - 1)]);
}

NodeRef NodeCollection::Item(const std::string& key) const {
    faults::Check("Nodes.Item");
    Node* node = Find(key);
    if (!node)
        throw RuntimeError(err::kItemNotFound,
                           "Element not found: the tree has no node with the key \"" + key + "\"");
    return RefTo(node);
}

Node* NodeCollection::FindHashed(std::string_view key, uint32_t hash) const {
    for (size_t q = 0; q < queue_length_; ++q) {
        if (queued_[q].hash == hash) {
            Node* node = nodes_[queued_[q].position - 1];
            if (node->key_ == key) return node;
        }
    }
    if (keys_.empty()) return nullptr;
    const size_t mask = keys_.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        const KeySlot& slot = keys_[i];
        if (slot.position == 0) return nullptr;
        if (slot.hash == hash) {
            Node* node = nodes_[slot.position - 1];
            if (node->key_ == key) return node;
        }
    }
}

Node* NodeCollection::Find(const std::string& key) const {
    if (key.empty()) return nullptr;
    uint32_t number;
    if (Numbered(key, number)) {
        if (!HasBit(numbers_, number)) return nullptr;
        PositionNumbers();
        return nodes_[number_positions_[number] - 1];
    }
    return FindHashed(key, KeyHash(key));
}

void NodeCollection::PositionNumbers() const {
    for (; positioned_ < nodes_.size(); ++positioned_) {
        uint32_t number;
        if (Numbered(nodes_[positioned_]->key_, number))
            number_positions_[number] = static_cast<uint32_t>(positioned_ + 1);
    }
}

bool NodeCollection::NumberOf(std::string_view key, uint32_t& number) {
    if (key.size() < 2 || key.size() > 10) return false;
    if (key[0] >= '0' && key[0] <= '9') return false;
    if (key[1] == '0' && key.size() > 2) return false;  // X0 is numbered, X01 not
    uint32_t n = 0;
    for (size_t i = 1; i < key.size(); ++i) {
        const unsigned digit = static_cast<unsigned char>(key[i]) - unsigned{'0'};
        if (digit > 9) return false;
        n = n * 10 + digit;
    }
    number = n;
    return true;
}

bool NodeCollection::Numbered(std::string_view key, uint32_t& number) const {
    return number_prefix_ != 0 && !key.empty() && key[0] == number_prefix_ &&
           NumberOf(key, number) && number < numbers_.size() * 64;
}

void NodeCollection::CoverNumber(uint32_t number) {
    const size_t covered = numbers_.size() * 64;
    if (number < covered) return;
    const size_t wanted = std::max({kMinNumbers, std::bit_ceil(size_t{number} + 1), covered * 2});
    if (wanted > std::max(kMinNumbers, (nodes_.size() + 1) * kNumbersPerNode)) return;
    // Positions first: should the bits fail to grow, the range is unchanged.
    if (number_positions_.size() < wanted) number_positions_.resize(wanted);
    numbers_.resize(wanted / 64, 0);
    // The numbered keys that waited in keys_ for the range to reach them
    // (they stay there too, unused: lookups of their numbers come here).
    size_t kept = 0;
    for (const uint32_t position : outliers_) {
        uint32_t n = 0;
        NumberOf(nodes_[position - 1]->key_, n);
        if (n < wanted) {
            SetBit(numbers_, n);
            number_positions_[n] = position;
        } else {
            outliers_[kept++] = position;
        }
    }
    outliers_.resize(kept);
}

Node* NodeCollection::FindRelative(const std::string& relative) {
    if (relative.empty()) return nullptr;
    if (last_relative_ && last_relative_->key_ == relative) return last_relative_;
    // A depth-first fill adds under the node added last or under one of its
    // nearest ancestors (back from a finished subtree), all still in the
    // cache, where the key index would cost a cache miss in a large tree.
    Node* found = nullptr;
    int hops = 0;
    for (Node* n = nodes_.empty() ? nullptr : nodes_.back(); n && hops < 8; n = n->parent_, ++hops) {
        if (n->key_ == relative) {
            found = n;
            break;
        }
    }
    if (!found) found = Find(relative);
    if (found) last_relative_ = found;
    return found;
}

void NodeCollection::PlaceKey(uint32_t position, uint32_t hash) {
    const size_t mask = keys_.size() - 1;
    size_t i = hash & mask;
    while (keys_[i].position != 0) i = (i + 1) & mask;
    keys_[i] = KeySlot{hash, position};
}

void NodeCollection::QueueKey(uint32_t position, uint32_t hash) {
    __builtin_prefetch(&keys_[hash & (keys_.size() - 1)], 1);
    seen_[SeenWord(hash, seen_.size())] |= SeenBits(hash);
    ++keyed_;
    KeySlot& slot = queued_[queue_next_];
    if (queue_length_ == kQueuedKeys)
        PlaceKey(slot.position, slot.hash);
    else
        ++queue_length_;
    slot = KeySlot{hash, position};
    queue_next_ = (queue_next_ + 1) % kQueuedKeys;
}

void NodeCollection::FlushQueue() {
    for (size_t q = 0; q < queue_length_; ++q) PlaceKey(queued_[q].position, queued_[q].hash);
    queue_length_ = 0;
    queue_next_ = 0;
}

bool NodeCollection::MayHold(uint32_t hash) const {
    if (seen_.empty()) return false;
    const uint64_t bits = SeenBits(hash);
    return (seen_[SeenWord(hash, seen_.size())] & bits) == bits;
}

void NodeCollection::ReserveOneMore(Node* parent, bool hashed) {
    // The key table stays at most three quarters full.
    if (hashed && (keyed_ + 1) * 4 > keys_.size() * 3) {
        FlushQueue();
        std::vector<KeySlot> old(std::max<size_t>(32, keys_.size() * 2));
        old.swap(keys_);
        seen_.assign(keys_.size() / 32, 0);
        for (const KeySlot& slot : old) {
            if (slot.position == 0) continue;
            PlaceKey(slot.position, slot.hash);
            seen_[SeenWord(slot.hash, seen_.size())] |= SeenBits(slot.hash);
        }
    }
    if (chunks_.empty() || chunks_.back()->used == chunks_.back()->nodes.size()) {
        // Room first, so that taking a spare chunk cannot fail half way.
        if (chunks_.size() == chunks_.capacity())
            chunks_.reserve(std::max<size_t>(8, chunks_.size() * 2));
        if (!spare_.empty()) {
            chunks_.push_back(std::move(spare_.back()));
            spare_.pop_back();
        } else {
            auto chunk = std::make_shared<Chunk>();
            chunk->nodes.resize(std::clamp(nodes_.size(), kMinChunkNodes, kMaxChunkNodes));
            chunks_.push_back(std::move(chunk));
        }
    }
    GrowForOneMore(nodes_);
    GrowForOneMore(places_);
    GrowForOneMore(parent ? parent->children_ : roots_);
    GrowForOneMore(outliers_);
}

Node& NodeCollection::Add(const std::string& relative, int32_t relationship,
                          std::string_view key, std::string_view text) {
    faults::Check("Nodes.Add");
    uint32_t number = 0;
    const bool numbered_form = NumberOf(key, number) &&
                               (number_prefix_ == 0 || key[0] == number_prefix_);
    Node* parent = nullptr;
    if (relationship != kOmitted || !relative.empty()) {
        Node* rel = FindRelative(relative);
        if (!rel)
            throw RuntimeError(err::kItemNotFound,
                               "Element not found: the tree has no node with the key \"" +
                                   relative + "\" to add \"" + std::string(key) + "\" to");
        if (relationship == kChild) {
            parent = rel;
        } else if (relationship == kLast || relationship == kOmitted) {
            parent = rel->parent_;
        } else {
            throw RuntimeError(err::kInvalidArgument,
                               "Invalid procedure call: relationship " +
                                   std::to_string(relationship) +
                                   " is not supported (use 4 for a child or 1 for a last sibling)");
        }
    }
    bool numbered = false;
    if (numbered_form) {
        number_prefix_ = key[0];
        CoverNumber(number);
        numbered = number < numbers_.size() * 64;
    }
    const uint32_t hash = numbered || key.empty() ? 0 : KeyHash(key);
    if (numbered ? HasBit(numbers_, number) : !key.empty() && MayHold(hash) && FindHashed(key, hash))
        throw RuntimeError(err::kKeyNotUnique,
                           "Key is not unique in collection: the tree already holds a node with "
                           "the key \"" +
                               std::string(key) + "\"");
    ReserveOneMore(parent, !numbered && !key.empty());
    // A node kept from an earlier fill reuses its buffers where they are
    // large enough; one too small for its new text is the only allocation
    // left that can fail, and it comes before the node is linked anywhere.
    Chunk& chunk = *chunks_.back();
    Node& node = chunk.nodes[chunk.used];
    node.key_.assign(key);
    node.text_.assign(text);
    // Nothing below can fail: every container has room.
    ++chunk.used;
    node.tree_ = tree_;
    node.font_ = tree_->font_;
    node.parent_ = parent;
    node.children_.clear();
    node.expanded_ = false;
    node.index_ = Count() + 1;
    node.chunk_ = static_cast<uint32_t>(chunks_.size() - 1);
    nodes_.push_back(&node);
    std::vector<Node*>& siblings = parent ? parent->children_ : roots_;
    places_.push_back({parent ? parent->index_ : 0, static_cast<int32_t>(siblings.size())});
    siblings.push_back(&node);
    const auto position = static_cast<uint32_t>(node.index_);
    if (numbered) {
        SetBit(numbers_, number);
    } else if (!node.key_.empty()) {
        QueueKey(position, hash);
        if (numbered_form) outliers_.push_back(position);
    }
    tree_->Changed(&node);
    return node;
}

void NodeCollection::RemoveAll() {
    // Nodes handed out earlier stay valid objects (their chunk lives on with
    // them) but belong to no tree any more: detach their links so that
    // nothing dangles. Chunks nobody else holds are kept for the next fill,
    // up to as many nodes as this fill had, so that a small tree after a
    // large one does not keep the large one's memory for long.
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
        if (kept_nodes >= nodes_.size()) break;
        kept_nodes += chunk->nodes.size();
        spare.push_back(std::move(chunk));
    }
    // Used from the back: the first chunks, the small ones, go first.
    std::reverse(spare.begin(), spare.end());
    spare_.swap(spare);
    chunks_.clear();
    // The key index stays at its size when this fill used a fair part of
    // it, so that the next fill of a similar tree does not grow it again.
    if (keyed_ * 8 >= keys_.size()) {
        std::fill(keys_.begin(), keys_.end(), KeySlot{});
        std::fill(seen_.begin(), seen_.end(), 0);
    } else {
        std::vector<KeySlot>().swap(keys_);
        std::vector<uint64_t>().swap(seen_);
    }
    // The range of numbered keys likewise, when this fill spanned it.
    if (nodes_.size() * kNumbersPerNode >= numbers_.size() * 64) {
        std::fill(numbers_.begin(), numbers_.end(), 0);
    } else {
        std::vector<uint64_t>().swap(numbers_);
        std::vector<uint32_t>().swap(number_positions_);
    }
    number_prefix_ = 0;
    positioned_ = 0;
    outliers_.clear();
    nodes_.clear();
    roots_.clear();
    places_.clear();
    keyed_ = 0;
    queue_length_ = 0;
    queue_next_ = 0;
    last_relative_ = nullptr;
}

// ---- Tree ----

Tree::Tree() : nodes_(this) {}

void Tree::Clear() {
    faults::Check("Clear");
    selected_ = nullptr;
    nodes_.RemoveAll();
    Changed(nullptr);
}

NodeRef Tree::SelectedNode() const {
    faults::Check("SelectedNode");
    if (!selected_) return nullptr;
    return nodes_.RefTo(selected_);
}

void Tree::Select(Node* node) {
    selected_ = node;
    for (Node* p = node ? node->parent_ : nullptr; p; p = p->parent_) p->expanded_ = true;
    Changed(nullptr);
}

bool Tree::UserSelect(const std::string& key) {
    Node* node = nodes_.Find(key);
    if (!node) return false;
    Select(node);
    return true;
}

void Tree::UserDblClick() {
    if (on_dbl_click_) on_dbl_click_();
}

void Tree::Changed(const Node* node) {
    ++revision_;
    if (on_changed_) on_changed_(node);
}

}  // namespace kevra
