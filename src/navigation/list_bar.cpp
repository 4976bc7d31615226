// LoadListBar: the top two levels of the task record set become the list
// bar's groups and list items; then the saved selection is read into the
// instance for SelectTask.
//
// One clone serves every group: the outer walk moves mrsTasks itself over
// the top-level rows, the clone is refiltered once per group for its items.
// On a failure the clone is released and the error passed on unchanged;
// nothing done before it is undone.
#include "control/ctlKevraTaskList.h"
#include "navigation/task_text.h"

namespace kevra {

using navigation::CaptionText;
using navigation::JoinText;
using navigation::KeyText;
using navigation::kKeyPrefix;
using navigation::ReplaceAmpersands;

void ctlKevraTaskList::LoadListBar() {
    Recordset& tasks = Tasks_();
    RecordsetRef itemCursor = tasks.Clone();

    // A second load in the same instance starts again from the single
    // placeholder group, so that the list bar holds exactly the new
    // catalogue (the build below relies on finding only that group). Only
    // once the record set has answered: the reset opens the placeholder,
    // whose group change empties the tree, and a reload that fails at its
    // first record-set call must leave the user what was on screen.
    sslistTaskList_.ResetToDesign();

    sstreeTaskList_.DisplayFlag = false;
    sstreeTaskList_.DisplayStyle = 2;
    sstreeTaskList_.DisplayMode = 1;

    sslistTaskList_.OLEDragMode = 0;
    sslistTaskList_.OLEDropMode = 0;
    sslistTaskList_.Groups().Item(1)->Caption("Tasks");
    sslistTaskList_.Groups().Item(1)->Key("Tasks");
    sslistTaskList_.CurrentGroup("Tasks");
    sslistTaskList_.ListStyle = 2;
    sslistTaskList_.GroupFont().Size = 10;
    sslistTaskList_.GroupFont().Bold = true;
    sslistTaskList_.Font().Size = 10;
    sslistTaskList_.Font().Bold = true;
    sslistTaskList_.BackColor = 0x80000002;
    sslistTaskList_.ForeColor = 0x80000009;

    tasks.Filter("TaskParent=0");
    while (!tasks.Eof()) {
        const std::string groupKey = KeyText(tasks, "TaskId");
        const std::string groupCaption = ReplaceAmpersands(CaptionText(tasks, "TaskDescription"));
        sslistTaskList_.Groups().Add(groupKey, groupCaption);

        itemCursor->Filter(navigation::ChildrenFilter(JoinText(tasks, "TaskId")));
        while (!itemCursor->Eof()) {
            const std::string itemKey = KeyText(*itemCursor, "TaskId");
            const std::string itemText =
                ReplaceAmpersands(CaptionText(*itemCursor, "TaskDescription"));
            sslistTaskList_.Groups().Item(groupKey)->ListItems().Add(itemKey, itemText);
            itemCursor->MoveNext();
        }
        tasks.MoveNext();
    }

    if (sslistTaskList_.Groups().Count() > 1) sslistTaskList_.Groups().Remove(1);
    itemCursor.reset();
    tasks.Filter("");

    mstrSelectedGroup = Trim(GetSetting("Group"));
    mstrSelectedListItem = Trim(GetSetting("ListItem"));
    mstrSelectedTask = Trim(GetSetting("Task"));
}

}  // namespace kevra
