// The list bar: groups stacked one above the other, one of them open, each
// holding a list of items. This is the model every front-end renders (the
// headless container prints it, the Qt view draws it); keys, order and events
// live here and nowhere else.
//
// Collections are 1-based and keep the order of addition. Group keys are
// unique in the list bar and item keys unique within their group; an empty
// key is allowed and never found by key. Lookups by key are exact (letter
// case counts).
//
// CurrentGroupChanged is raised whenever the open group changes, whatever the
// cause: the user opening a group, a write of CurrentGroup, or the removal of
// the open group (the group that is then first opens). It is not raised when
// the open group stays the same, nor when the last group is removed (no group
// is then open). A group added to a list bar with no open group opens, and the
// event names no previous group (nullptr).
//
// The operations the control calls pass the fault checkpoints Groups.Add,
// Groups.Remove, ListItems.Add and CurrentGroup (write). The User* actions and
// the const readers are what a front-end uses; they pass none.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "kevra/widgets/font.h"

namespace kevra {

class ListBar;

class ListItem {
  public:
    ListItem(std::string key, std::string text) : key_(std::move(key)), text_(std::move(text)) {}
    const std::string& Key() const { return key_; }
    const std::string& Text() const { return text_; }

  private:
    std::string key_;
    std::string text_;
};
using ListItemRef = std::shared_ptr<ListItem>;

class ListItemCollection {
  public:
    int32_t Count() const { return static_cast<int32_t>(items_.size()); }
    // 1-based. Raises 35600 for an index out of range.
    ListItemRef Item(int32_t index) const;
    // Appends an item. Raises 35602 when the group already holds the key.
    ListItemRef Add(const std::string& key, const std::string& text);
    // The item with this key, or nullptr.
    ListItemRef Find(const std::string& key) const;
    const std::vector<ListItemRef>& All() const { return items_; }

  private:
    friend class ListBar;
    friend class Group;
    explicit ListItemCollection(ListBar* owner) : owner_(owner) {}
    // A group holds a handful of items as a rule: up to this many are
    // searched in order, and only a larger group keeps a map of its keys
    // (at a hundred thousand items, the maps cost more to build and to free
    // than the whole list bar otherwise).
    static constexpr size_t kItemsSearchedInOrder = 16;
    ListBar* owner_;
    std::vector<ListItemRef> items_;
    bool mapped_ = false;  // by_key_ holds every keyed item
    std::unordered_map<std::string, ListItemRef> by_key_;
};

class Group {
  public:
    const std::string& Key() const { return key_; }
    const std::string& Caption() const { return caption_; }
    // Raises 35602 when another group of the list bar has the key.
    void Key(const std::string& key);
    void Caption(const std::string& caption);
    ListItemCollection& ListItems() { return items_; }
    const ListItemCollection& ListItems() const { return items_; }

  private:
    friend class ListBar;
    friend class GroupCollection;
    Group(ListBar* owner, std::string key, std::string caption)
        : owner_(owner), key_(std::move(key)), caption_(std::move(caption)), items_(owner) {}
    ListBar* owner_;
    std::string key_;
    std::string caption_;
    ListItemCollection items_;
};
using GroupRef = std::shared_ptr<Group>;

class GroupCollection {
  public:
    int32_t Count() const { return static_cast<int32_t>(groups_.size()); }
    // 1-based. Raises 35600 for an index out of range.
    GroupRef Item(int32_t index) const;
    // Raises 35601 when no group has the key.
    GroupRef Item(const std::string& key) const;
    // Appends a group. Raises 35602 for a key the list bar holds.
    GroupRef Add(const std::string& key, const std::string& caption);
    // Removes the group at a 1-based index with its items.
    void Remove(int32_t index);
    GroupRef Find(const std::string& key) const;
    const std::vector<GroupRef>& All() const { return groups_; }

  private:
    friend class ListBar;
    friend class Group;
    explicit GroupCollection(ListBar* owner) : owner_(owner) {}
    ListBar* owner_;
    std::vector<GroupRef> groups_;
    std::unordered_map<std::string, GroupRef> by_key_;
};

class ListBar {
  public:
    // Raised with the newly opened group, then the previously open one.
    using CurrentGroupChangedHandler = std::function<void(GroupRef, GroupRef)>;
    using ListItemClickHandler = std::function<void(ListItemRef)>;

    ListBar();
    ListBar(const ListBar&) = delete;
    ListBar& operator=(const ListBar&) = delete;

    GroupCollection& Groups() { return groups_; }
    const GroupCollection& Groups() const { return groups_; }

    GroupRef CurrentGroup() const { return current_; }
    // Opens the group with this key. Raises 35601 for an unknown key.
    void CurrentGroup(const std::string& key);

    // Display settings, kept as written.
    int32_t OLEDragMode = 0;
    int32_t OLEDropMode = 0;
    int32_t ListStyle = 0;
    uint32_t BackColor = 0x8000000F;  // system colour 15, a button face
    uint32_t ForeColor = 0x80000012;  // system colour 18, button text
    StdFont& Font() { return font_; }
    StdFont& GroupFont() { return group_font_; }
    const StdFont& Font() const { return font_; }
    const StdFont& GroupFont() const { return group_font_; }

    void OnCurrentGroupChanged(CurrentGroupChangedHandler h) { on_group_changed_ = std::move(h); }
    void OnListItemClick(ListItemClickHandler h) { on_item_click_ = std::move(h); }

    // User actions, as a front-end turns input into them. Each returns false
    // (and does nothing) when the key names nothing the user could reach: a
    // group that does not exist, an item not in the open group.
    bool UserOpenGroup(const std::string& key);
    bool UserClickItem(const std::string& key);

    // Called after every change, so that views can tell when to redraw.
    void OnChanged(std::function<void()> h) { on_changed_ = std::move(h); }

    // Back to the state as placed on a form: one group captioned "New Group",
    // without key or items, open. Does nothing when the list bar is in that
    // state already; otherwise raises CurrentGroupChanged (the placeholder is
    // a new group). Passes no checkpoint.
    void ResetToDesign();
    bool IsInDesignState() const;

  private:
    friend class GroupCollection;
    friend class Group;
    friend class ListItemCollection;
    void Open(GroupRef group);
    void Changed();

    GroupCollection groups_;
    GroupRef current_;
    StdFont font_;
    StdFont group_font_;
    CurrentGroupChangedHandler on_group_changed_;
    ListItemClickHandler on_item_click_;
    std::function<void()> on_changed_;
};

}  // namespace kevra
