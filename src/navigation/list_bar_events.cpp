// The list bar's events: a group change empties the tree, a list item click
// fills it for the item behind the busy state.
#include "control/ctlKevraTaskList.h"
#include "control/procedure_scope.h"

namespace kevra {

void ctlKevraTaskList::sslistTaskList_CurrentGroupChanged(const GroupRef& newGroup,
                                                          const GroupRef& previousGroup) {
    if (!newGroup) return;
    // No previous group (the list bar had none open) counts as a change.
    if (!previousGroup || previousGroup->Key() != newGroup->Key()) {
        mstrSelectedGroup = newGroup->Key();
        sstreeTaskList_.Clear();
    }
}

void ctlKevraTaskList::sslistTaskList_ListItemClick(const ListItemRef& item) {
    ProcedureScope scope(*this);
    try {
        site_.SetMousePointer(kPointerHourglass);
        site_.SetEnabled(false);
        site_.DoEvents();
        mstrSelectedListItem = item->Key();
        LoadTaskTree(item);
        site_.SetEnabled(true);
        site_.SetMousePointer(kPointerDefault);
    } catch (...) {
        ReportError(AsRuntimeError(std::current_exception()), "sslistTaskList_ListItemClick");
        site_.SetEnabled(true);
        site_.SetMousePointer(kPointerDefault);
    }
}

}  // namespace kevra
