// The tree's double-click: saves the selection, looks the selected node's
// task up and, for a link with a URL, raises StartTask to the host.
#include "control/ctlKevraTaskList.h"
#include "control/procedure_scope.h"
#include "navigation/task_text.h"

namespace kevra {

namespace {

NodeRef Required(NodeRef node) {
    if (!node)
        throw RuntimeError(err::kObjectNotSet,
                           "Object variable not set: no task is selected in the tree");
    return node;
}

// A text field of the current row, trimmed of spaces; Null reads as "".
std::string OptionalText(const Recordset& rs, std::string_view field) {
    Variant value = rs.Fields(field).Value();
    return value.IsNull() ? std::string() : Trim(value.ToString());
}

}  // namespace

void ctlKevraTaskList::sstreeTaskList_DblClick() {
    ProcedureScope scope(*this);
    try {
        site_.SetMousePointer(kPointerHourglass);
        site_.SetEnabled(false);
        site_.DoEvents();

        if (sstreeTaskList_.Nodes().Count() != 0) {
            SaveSetting("Group", mstrSelectedGroup);
            SaveSetting("ListItem", mstrSelectedListItem);
            SaveSetting("Task", Required(sstreeTaskList_.SelectedNode())->Key());

            const std::string key = Required(sstreeTaskList_.SelectedNode())->Key();
            const int32_t taskId = ParseInt32(navigation::TaskIdOfKey(key));

            Recordset& tasks = Tasks_();
            tasks.Filter("TaskId=" + std::to_string(taskId));
            if (tasks.RecordCount() > 0 && tasks.Fields("IsLink").Value().EqualsTrue()) {
                const std::string url = OptionalText(tasks, "TaskURL");
                const std::string parms = OptionalText(tasks, "TaskParms");
                if (url.empty())
                    throw RuntimeError(err::kControlError,
                                       "There is no URL associated with this task");
                Launching(taskId);
                if (start_task_) start_task_(taskId, url, parms);
            }
        }
        site_.SetEnabled(true);
        site_.SetMousePointer(kPointerDefault);
    } catch (...) {
        ReportError(AsRuntimeError(std::current_exception()), "sstreeTaskList_DblClick");
        site_.SetEnabled(true);
        site_.SetMousePointer(kPointerDefault);
    }
}

}  // namespace kevra
