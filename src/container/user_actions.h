// The user's actions on the control's widgets as a container without a
// window system takes them (kevra-host's script commands, the C library's
// kevra_control_open_group and friends), and the one set of rules that says
// when the surface cannot take one and why.
//
// A real window system never lets the user reach a disabled surface, a
// hidden widget or an item that is not on the screen; a container that is
// told of the user's actions must refuse those itself, doing nothing, or
// the control would see events no user could cause. The reason is what a
// host shows or prints (kevra-host's `refused` line); the remedy, when
// there is one, says what the caller can change.
#pragma once

#include <optional>
#include <string>

#include "platform/control_site.h"

namespace kevra {

class ctlKevraTaskList;

struct UserAction {
    enum class Kind { open_group, click_item, select_node, dblclick };
    Kind kind;
    std::string key;  // the group, list item or node; empty for a double-click
};

struct Refusal {
    std::string reason;  // "the tree is hidden"
    std::string remedy;  // "nothing is loaded", or ""
};

// Why the user cannot take `action` on `control`, sited on `site`, now;
// nothing when the action can be taken.
std::optional<Refusal> CheckUserAction(const ControlSite& site, const ctlKevraTaskList& control,
                                       const UserAction& action);

// Hands the action to the widget model, which raises the widget's event.
// The caller has checked it.
void TakeUserAction(ctlKevraTaskList& control, const UserAction& action);

// What the action is, for a sentence: `open the group "X1"`.
std::string DescribeUserAction(const UserAction& action);

// The refusal of every command once the control has had its terminate
// notification.
Refusal TerminatedRefusal();

}  // namespace kevra
