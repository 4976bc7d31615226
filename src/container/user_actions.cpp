// The user's actions and the rules for refusing them.
#include "container/user_actions.h"

#include "control/ctlKevraTaskList.h"
#include "platform/json.h"

namespace kevra {

namespace {

Child WidgetOf(UserAction::Kind kind) {
    return kind == UserAction::Kind::open_group || kind == UserAction::Kind::click_item
               ? Child::sslistTaskList
               : Child::sstreeTaskList;
}

}  // namespace

std::optional<Refusal> CheckUserAction(const ControlSite& site, const ctlKevraTaskList& control,
                                       const UserAction& action) {
    const Child widget = WidgetOf(action.kind);
    if (!site.Enabled()) return Refusal{"the control is disabled", ""};
    if (!site.Frame(widget).visible)
        return Refusal{
            widget == Child::sslistTaskList ? "the list bar is hidden" : "the tree is hidden",
            "nothing is loaded"};
    // The key as given between quotes: the reason is quoted as a whole
    // where it is printed.
    const std::string key = "\"" + action.key + "\"";
    switch (action.kind) {
        case UserAction::Kind::open_group:
            if (!control.sslistTaskList().Groups().Find(action.key))
                return Refusal{"the list bar has no group with the key " + key, ""};
            break;
        case UserAction::Kind::click_item: {
            const auto open = control.sslistTaskList().CurrentGroup();
            if (!open || !open->ListItems().Find(action.key))
                return Refusal{"the open group has no list item with the key " + key,
                               "open its group first"};
            break;
        }
        case UserAction::Kind::select_node:
            if (!control.sstreeTaskList().Nodes().Find(action.key))
                return Refusal{"the tree has no node with the key " + key,
                               "click the list item that holds it first"};
            break;
        case UserAction::Kind::dblclick:
            break;
    }
    return std::nullopt;
}

void TakeUserAction(ctlKevraTaskList& control, const UserAction& action) {
    switch (action.kind) {
        case UserAction::Kind::open_group:
            control.sslistTaskList().UserOpenGroup(action.key);
            break;
        case UserAction::Kind::click_item:
            control.sslistTaskList().UserClickItem(action.key);
            break;
        case UserAction::Kind::select_node:
            control.sstreeTaskList().UserSelect(action.key);
            break;
        case UserAction::Kind::dblclick:
            control.sstreeTaskList().UserDblClick();
            break;
    }
}

std::string DescribeUserAction(const UserAction& action) {
    const std::string key = json::Quote(action.key);
    switch (action.kind) {
        case UserAction::Kind::open_group:
            return "open the group " + key;
        case UserAction::Kind::click_item:
            return "click the list item " + key;
        case UserAction::Kind::select_node:
            return "select the node " + key;
        case UserAction::Kind::dblclick:
            break;
    }
    return "double-click the tree";
}

Refusal TerminatedRefusal() { return {"the control has been terminated", ""}; }

}  // namespace kevra
