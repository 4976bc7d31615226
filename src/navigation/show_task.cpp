// ShowTask: an entry of the catalogue shown the way the user reaches it,
// through the widgets' user actions, so that the control's own handlers
// run exactly as for the user's clicks (the search's "show this result").
#include "control/ctlKevraTaskList.h"

namespace kevra {

bool ctlKevraTaskList::ShowTask(const std::vector<std::string>& keys) {
    if (keys.empty() || !sslistTaskList_.UserOpenGroup(keys[0])) return false;
    if (keys.size() == 1) return true;
    // Clicked even when its tree is showing: the user's click refills it.
    if (!sslistTaskList_.UserClickItem(keys[1])) return false;
    if (keys.size() == 2) return true;
    Node* node = sstreeTaskList_.Nodes().Find(keys.back());
    if (!node) return false;
    for (Node* above = node->Parent(); above; above = above->Parent())
        sstreeTaskList_.UserSetExpanded(above, true);
    return sstreeTaskList_.UserSelect(keys.back());
}

}  // namespace kevra
