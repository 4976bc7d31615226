// The list bar model: collections, the open group and its events.
#include "widgets/listbar.h"

#include "platform/error.h"
#include "platform/faults.h"

namespace kevra {

namespace {
[[noreturn]] void IndexOutOfBounds(const char* what, int32_t index, int32_t count) {
    throw RuntimeError(err::kIndexOutOfBounds, std::string("Index out of bounds: ") + what + " " +
                                                   std::to_string(index) + " of " +
                                                   std::to_string(count));
}
[[noreturn]] void KeyNotUnique(const char* what, const std::string& key) {
    throw RuntimeError(err::kKeyNotUnique, std::string("Key is not unique in collection: the ") +
                                               what + " already holds the key \"" + key + "\"");
}
}  // namespace

// ---- ListItemCollection ----

ListItemRef ListItemCollection::Item(int32_t index) const {
    if (index < 1 || index > Count()) IndexOutOfBounds("list item", index, Count());
    return items_[static_cast<size_t>(index - 1)];
}

ListItemRef ListItemCollection::Add(const std::string& key, const std::string& text) {
    faults::Check("ListItems.Add");
    if (!key.empty() && Find(key)) KeyNotUnique("group", key);
    auto item = std::make_shared<ListItem>(key, text);
    items_.push_back(item);
    if (items_.size() > kItemsSearchedInOrder) {
        try {
            if (!mapped_) {
                for (const auto& each : items_)
                    if (!each->Key().empty()) by_key_.emplace(each->Key(), each);
                mapped_ = true;
            } else if (!key.empty()) {
                by_key_.emplace(key, item);
            }
        } catch (...) {
            items_.pop_back();
            if (items_.size() <= kItemsSearchedInOrder) {
                by_key_.clear();
                mapped_ = false;
            }
            throw;
        }
    }
    owner_->Changed();
    return item;
}

ListItemRef ListItemCollection::Find(const std::string& key) const {
    if (key.empty()) return nullptr;
    if (!mapped_) {
        for (const auto& item : items_)
            if (item->Key() == key) return item;
        return nullptr;
    }
    auto it = by_key_.find(key);
    return it == by_key_.end() ? nullptr : it->second;
}

// ---- Group ----

void Group::Key(const std::string& key) {
    if (key == key_) return;
    auto& collection = owner_->groups_;
    if (!key.empty() && collection.by_key_.count(key)) KeyNotUnique("list bar", key);
    GroupRef self;
    for (auto& g : collection.groups_)
        if (g.get() == this) self = g;
    if (!key_.empty()) collection.by_key_.erase(key_);
    key_ = key;
    if (!key.empty() && self) collection.by_key_.emplace(key, self);
    owner_->Changed();
}

void Group::Caption(const std::string& caption) {
    caption_ = caption;
    owner_->Changed();
}

// ---- GroupCollection ----

GroupRef GroupCollection::Item(int32_t index) const {
    if (index < 1 || index > Count()) IndexOutOfBounds("group", index, Count());
    return groups_[static_cast<size_t>(index - 1)];
}

GroupRef GroupCollection::Item(const std::string& key) const {
    auto g = Find(key);
    if (!g)
        throw RuntimeError(
            err::kItemNotFound,
            "Element not found: the list bar has no group with the key \"" + key + "\"");
    return g;
}

GroupRef GroupCollection::Find(const std::string& key) const {
    auto it = by_key_.find(key);
    return it == by_key_.end() ? nullptr : it->second;
}

GroupRef GroupCollection::Add(const std::string& key, const std::string& caption) {
    faults::Check("Groups.Add");
    if (!key.empty() && by_key_.count(key)) KeyNotUnique("list bar", key);
    GroupRef group(new Group(owner_, key, caption));
    groups_.push_back(group);
    if (!key.empty()) by_key_.emplace(key, group);
    owner_->Changed();
    if (!owner_->current_) owner_->Open(group);
    return group;
}

void GroupCollection::Remove(int32_t index) {
    faults::Check("Groups.Remove");
    if (index < 1 || index > Count()) IndexOutOfBounds("group", index, Count());
    GroupRef removed = groups_[static_cast<size_t>(index - 1)];
    groups_.erase(groups_.begin() + (index - 1));
    if (!removed->key_.empty()) by_key_.erase(removed->key_);
    owner_->Changed();
    if (owner_->current_ == removed) {
        if (groups_.empty()) {
            owner_->current_ = nullptr;
            owner_->Changed();
        } else {
            owner_->Open(groups_.front());
        }
    }
}

// ---- ListBar ----

ListBar::ListBar() : groups_(this) {
    GroupRef group(new Group(this, "", "New Group"));
    groups_.groups_.push_back(group);
    current_ = group;
}

bool ListBar::IsInDesignState() const {
    if (groups_.groups_.size() != 1) return false;
    const Group& g = *groups_.groups_.front();
    return current_ == groups_.groups_.front() && g.key_.empty() && g.caption_ == "New Group" &&
           g.items_.Count() == 0;
}

void ListBar::ResetToDesign() {
    if (IsInDesignState()) return;
    groups_.groups_.clear();
    groups_.by_key_.clear();
    GroupRef group(new Group(this, "", "New Group"));
    groups_.groups_.push_back(group);
    Changed();
    Open(group);
}

void ListBar::CurrentGroup(const std::string& key) {
    faults::Check("CurrentGroup");
    Open(groups_.Item(key));
}

void ListBar::Open(GroupRef group) {
    if (group == current_) return;
    GroupRef previous = current_;
    current_ = group;
    Changed();
    if (on_group_changed_) on_group_changed_(group, previous);
}

bool ListBar::UserOpenGroup(const std::string& key) {
    auto group = groups_.Find(key);
    if (!group) return false;
    Open(group);
    return true;
}

bool ListBar::UserClickItem(const std::string& key) {
    if (!current_) return false;
    auto item = current_->ListItems().Find(key);
    if (!item) return false;
    if (on_item_click_) on_item_click_(item);
    return true;
}

void ListBar::Changed() {
    if (on_changed_) on_changed_();
}

}  // namespace kevra
