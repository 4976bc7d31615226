// The task list control: a list bar with the top two levels of the task
// catalogue, a tree with the tasks below the chosen list item, and the
// StartTask event raised when the user double-clicks a task.
//
// One class, declared here. Its procedures are defined in the folder of the
// subsystem that owns them:
//   control/     the public surface, layout, paint and teardown
//   tasks/       LoadData
//   navigation/  LoadListBar, LoadTaskTree, AddChildNodes, the list bar and
//                tree event handlers, SelectTask
//
// The control runs on its host's user-interface thread. No exception leaves
// a public method or a notification handler: LoadData, SelectTask and the
// user-event handlers report their errors in a message box; the layout,
// paint and terminate handlers swallow theirs.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "kevra/platform/control_site.h"
#include "kevra/platform/dataspace.h"
#include "kevra/platform/error.h"
#include "kevra/platform/recordset.h"
#include "kevra/platform/settings_store.h"
#include "kevra/platform/variant.h"
#include "kevra/widgets/listbar.h"
#include "kevra/widgets/tree.h"

namespace kevra {

// The library's application title: it opens the title of every error report
// and is the application name of the saved selection in the settings store.
inline constexpr const char* kApplicationTitle = "KevraTaskList";

class ctlKevraTaskList {
  public:
    using StartTaskHandler = std::function<void(int32_t astrTaskId, const std::string& astrTaskURL,
                                                const std::string& astrTaskParms)>;

    // The children as placed, in tab order, and the label's text design.
    static const ChildDesign kChildren[kChildCount];
    static const LabelDesign kLabel;

    ctlKevraTaskList(ControlSite& site, SettingsStore& settings,
                     ComponentRegistry& registry = ComponentRegistry::Instance());
    ~ctlKevraTaskList();
    ctlKevraTaskList(const ctlKevraTaskList&) = delete;
    ctlKevraTaskList& operator=(const ctlKevraTaskList&) = delete;

    // Write-only properties. They take effect at the next LoadData.
    void MachineName(const std::string& astrMachineName);
    void UserNumber(int32_t alngUserNumber);
    void Brand(const std::string& astrBrand);
    void FacilityId(const std::string& astrFacilityId);
    void AppId(int32_t alngAppId);

    // Methods. Neither ever raises: failures are reported to the user.
    void LoadData();
    void SelectTask();

    // The outgoing event. The handler runs nested inside the double-click.
    void OnStartTask(StartTaskHandler handler) { start_task_ = std::move(handler); }

    // For what follows the control's catalogue and launches beside it (the
    // search, favourites and history: search/task_finder.h). The control
    // ignores anything a hook throws; neither changes what the control
    // does or shows. The catalogue hook is called with false when LoadData
    // begins (the catalogue shown so far is no longer the one to search),
    // with true when it has succeeded. The launch hook is called with the
    // task id where StartTask is raised, just before it.
    using CatalogueHook = std::function<void(bool loaded)>;
    using LaunchHook = std::function<void(int32_t astrTaskId)>;
    void OnCatalogueChange(CatalogueHook hook) { catalogue_hook_ = std::move(hook); }
    void OnLaunch(LaunchHook hook) { launch_hook_ = std::move(hook); }

    // Shows an entry as the user reaches it. `keys` are the keys from its
    // group down: the group opens; with a list item's key, the item is
    // clicked (the tree fills); with a task's key after it, the task's node
    // is selected and its ancestors expanded. Every step is the user action
    // on the widget, so the control's handlers run (busy state, error
    // report) as for the user's own clicks, and a double-click afterwards
    // launches the entry as one after those clicks does. Returns false,
    // after the steps that could be made, when a key names nothing there
    // (the fill failed before it reached the node). The caller checks that
    // the user could act at all (enabled, visible).
    bool ShowTask(const std::vector<std::string>& keys);

    // Container notifications. None ever raises.
    void UserControl_Resize();
    void UserControl_Paint(bool after_box = false);
    void UserControl_Terminate();

    // The hosted widgets, for the container's views and user input.
    ListBar& sslistTaskList() { return sslistTaskList_; }
    Tree& sstreeTaskList() { return sstreeTaskList_; }
    const ListBar& sslistTaskList() const { return sslistTaskList_; }
    const Tree& sstreeTaskList() const { return sstreeTaskList_; }

    // A read-only view of the instance state, for hosts that display it
    // (kevra-host's dump) and for tests.
    struct Members {
        std::string mstrMachineName;
        int32_t mlngUserNumber;
        std::string mstrBrand;
        std::string mstrFacilityId;
        int32_t mlngAppId;
        std::string mstrSelectedGroup;
        std::string mstrSelectedListItem;
        std::string mstrSelectedTask;
        Bool16 mblnSelectionRestored;
        Bool16 mblnDataLoaded;
    };
    Members GetMembers() const;
    const RecordsetRef& Tasks() const { return mrsTasks; }

  private:
    // navigation/
    void LoadListBar();
    void LoadTaskTree(const ListItemRef& item);
    void AddChildNodes(std::string astrParentKey);
    void sslistTaskList_CurrentGroupChanged(const GroupRef& newGroup,
                                            const GroupRef& previousGroup);
    void sslistTaskList_ListItemClick(const ListItemRef& item);
    void sstreeTaskList_DblClick();

    // Shared helpers.
    void ReportError(const RuntimeError& error, const char* procedure);
    void CatalogueChanged(bool loaded) noexcept;
    void Launching(int32_t taskId) noexcept;
    std::string GetSetting(const std::string& key);
    void SaveSetting(const std::string& key, const std::string& value);
    Recordset& Tasks_();

    ControlSite& site_;
    SettingsStore& settings_;
    ComponentRegistry& registry_;
    ListBar sslistTaskList_;
    Tree sstreeTaskList_;
    StartTaskHandler start_task_;
    CatalogueHook catalogue_hook_;
    LaunchHook launch_hook_;
    // Depth of the control's own procedures on the stack; see the group
    // change wiring in the constructor.
    int procedure_depth_ = 0;
    friend class ProcedureScope;
    // SelectTask reported a failure since the last paint notification: the
    // repaint that follows that box must not start the restore again.
    bool restore_reported_ = false;

    std::string mstrMachineName;
    int32_t mlngUserNumber = 0;
    std::string mstrBrand;
    std::string mstrFacilityId;
    int32_t mlngAppId = 0;
    RecordsetRef mrsTasks;
    std::string mstrSelectedGroup;
    std::string mstrSelectedListItem;
    std::string mstrSelectedTask;
    Bool16 mblnSelectionRestored = kFalse;
    Bool16 mblnDataLoaded = kFalse;
};

// Turns whatever a procedure caught into the run-time error it reports:
// RuntimeError as it is, out-of-memory as 7, anything else as 51.
RuntimeError AsRuntimeError(std::exception_ptr error);

}  // namespace kevra
