// SelectTask: re-applies the saved selection held in the instance: opens the
// saved group, fills the tree for the saved list item, selects the saved
// task. Keys compare exactly. Reports its own failures.
#include "control/ctlKevraTaskList.h"
#include "control/procedure_scope.h"

namespace kevra {

void ctlKevraTaskList::SelectTask() {
    ProcedureScope scope(*this);
    bool found = false;
    try {
        if (!mstrSelectedGroup.empty()) {
            const int32_t groupCount = sslistTaskList_.Groups().Count();
            for (int32_t g = 1; g <= groupCount; ++g) {
                const GroupRef group = sslistTaskList_.Groups().Item(g);
                if (group->Key() != mstrSelectedGroup) continue;
                found = true;
                // Open the group before the fill: the tree's root is the open
                // group, and the change event empties the tree.
                sslistTaskList_.CurrentGroup(group->Key());
                if (!mstrSelectedListItem.empty()) {
                    const int32_t itemCount = group->ListItems().Count();
                    for (int32_t i = 1; i <= itemCount; ++i) {
                        const ListItemRef item = group->ListItems().Item(i);
                        if (item->Key() != mstrSelectedListItem) continue;
                        LoadTaskTree(item);
                        if (!mstrSelectedTask.empty()) {
                            const int32_t nodeCount = sstreeTaskList_.Nodes().Count();
                            for (int32_t n = 1; n <= nodeCount; ++n) {
                                const NodeRef node = sstreeTaskList_.Nodes().Item(n);
                                if (node->Key() != mstrSelectedTask) continue;
                                node->Selected(true);
                                break;
                            }
                        }
                        break;
                    }
                }
                break;
            }
        }
        if (!found) mstrSelectedGroup = sslistTaskList_.Groups().Item(1)->Key();
        mblnSelectionRestored = kTrue;
    } catch (...) {
        ReportError(AsRuntimeError(std::current_exception()), "SelectTask");
        restore_reported_ = true;
    }
}

}  // namespace kevra
