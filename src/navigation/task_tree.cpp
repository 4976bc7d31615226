// LoadTaskTree and AddChildNodes: the tree for one list item. The list bar's
// open group becomes the root, the list item its child, and every task below
// the item follows, depth first, each subtree complete before its next
// sibling.
//
// Each node below the root costs one clone of mrsTasks and one filter on
// it. The walk keeps its own stack of pending cursors instead of recursing,
// so a catalogue a million levels deep fills without exhausting the thread's
// stack; the order of every call is the one the recursive walk makes.
//
// On any failure the cursors held are released and the error passed on
// unchanged; the nodes added so far stay.
#include <vector>

#include "control/ctlKevraTaskList.h"
#include "navigation/task_text.h"

namespace kevra {

using navigation::CaptionView;
using navigation::KeyText;
using navigation::kKeyPrefix;
using navigation::TaskIdOfKey;

void ctlKevraTaskList::LoadTaskTree(const ListItemRef& item) {
    sstreeTaskList_.Clear();

    sstreeTaskList_.Font().Size = 12;
    sstreeTaskList_.Font().Bold = true;
    const GroupRef group = sslistTaskList_.CurrentGroup();
    if (!group)
        throw RuntimeError(err::kObjectNotSet,
                           "Object variable not set: the list bar has no open group");
    sstreeTaskList_.Nodes().Add(group->Key(), group->Caption());
    sstreeTaskList_.Nodes().Item(group->Key())->Expanded(true);

    sstreeTaskList_.Font().Size = 10;
    sstreeTaskList_.Font().Bold = true;
    sstreeTaskList_.Nodes().Add(group->Key(), NodeCollection::kChild, item->Key(), item->Text());
    sstreeTaskList_.Nodes().Item(item->Key())->Expanded(true);

    AddChildNodes(item->Key());
}

void ctlKevraTaskList::AddChildNodes(std::string astrParentKey) {
    // One frame per active call of the recursive walk: the node whose
    // children it lists and the clone that lists them.
    struct Frame {
        std::string parentKey;
        RecordsetRef children;
        bool movePending = false;
    };
    std::vector<Frame> calls;
    // The children filter of every call is formed in this one buffer, and
    // captions that are not text in the rows in that one.
    std::string filter;
    std::string converted;

    auto enter = [&](std::string parentKey) {
        // The clone is filtered where it was made, and only then moved to
        // its frame: moved at once, it would be read back before the writes
        // that made it had settled.
        RecordsetRef children = Tasks_().Clone();
        navigation::ChildrenFilter(TaskIdOfKey(parentKey), filter);
        children->Filter(filter);
        calls.push_back(Frame{std::move(parentKey), std::move(children), false});
    };

    enter(std::move(astrParentKey));
    while (!calls.empty()) {
        Frame& call = calls.back();
        if (call.movePending) {
            // Back from the subtree of the current row.
            call.movePending = false;
            call.children->MoveNext();
        }
        Recordset& row = *call.children;
        if (row.Eof()) {
            calls.pop_back();  // releases the clone
            continue;
        }

        std::string childKey = KeyText(row, "TaskId");
        const std::string_view text = CaptionView(row, "TaskDescription", converted);
        if (row.Fields("IsLink").EqualsTrue()) {
            sstreeTaskList_.Font().Underline = true;
            sstreeTaskList_.Font().Bold = false;
        }
        sstreeTaskList_.Nodes().Add(call.parentKey, NodeCollection::kChild, childKey, text);
        sstreeTaskList_.Font().Underline = false;
        sstreeTaskList_.Font().Bold = true;

        call.movePending = true;
        enter(std::move(childKey));  // `call` may dangle from here on
    }
}

}  // namespace kevra
