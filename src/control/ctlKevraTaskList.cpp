// The control's public surface: construction, the write-only properties,
// the instance state, and the helpers every procedure shares (the error
// report, the settings store calls).
#include "control/ctlKevraTaskList.h"

#include <new>

#include "control/procedure_scope.h"
#include "platform/faults.h"

namespace kevra {

const ChildDesign ctlKevraTaskList::kChildren[kChildCount] = {
    {Child::lblStatus, "lblStatus", 0, {true, 3960, 5280, 2790, 240}},
    {Child::sslistTaskList, "sslistTaskList", 1, {false, 120, 120, 2775, 5055}},
    {Child::sstreeTaskList, "sstreeTaskList", 2, {false, 3000, 120, 7935, 5055}},
};

const LabelDesign ctlKevraTaskList::kLabel = {
    "Loading task list . . . Please wait", "MS Sans Serif", 9.75, 400, true, true};

ctlKevraTaskList::ctlKevraTaskList(ControlSite& site, SettingsStore& settings,
                                   ComponentRegistry& registry)
    : site_(site), settings_(settings), registry_(registry) {
    // The list bar raises CurrentGroupChanged both for the user and for the
    // control's own writes of CurrentGroup and removals of groups. Inside one
    // of the control's procedures a failure of the handler belongs to that
    // procedure, which reports it; raised by the user, the handler reports
    // it itself so that nothing reaches the host.
    sslistTaskList_.OnCurrentGroupChanged([this](GroupRef newGroup, GroupRef previousGroup) {
        if (procedure_depth_ > 0) {
            sslistTaskList_CurrentGroupChanged(newGroup, previousGroup);
            return;
        }
        try {
            sslistTaskList_CurrentGroupChanged(newGroup, previousGroup);
        } catch (...) {
            ReportError(AsRuntimeError(std::current_exception()),
                        "sslistTaskList_CurrentGroupChanged");
        }
    });
    sslistTaskList_.OnListItemClick(
        [this](ListItemRef item) { sslistTaskList_ListItemClick(item); });
    sstreeTaskList_.OnDblClick([this] { sstreeTaskList_DblClick(); });
}

ctlKevraTaskList::~ctlKevraTaskList() = default;

void ctlKevraTaskList::MachineName(const std::string& astrMachineName) {
    mstrMachineName = astrMachineName;
}
void ctlKevraTaskList::UserNumber(int32_t alngUserNumber) { mlngUserNumber = alngUserNumber; }
void ctlKevraTaskList::Brand(const std::string& astrBrand) { mstrBrand = astrBrand; }
void ctlKevraTaskList::FacilityId(const std::string& astrFacilityId) {
    mstrFacilityId = astrFacilityId;
}
void ctlKevraTaskList::AppId(int32_t alngAppId) { mlngAppId = alngAppId; }

ctlKevraTaskList::Members ctlKevraTaskList::GetMembers() const {
    return Members{mstrMachineName,      mlngUserNumber,   mstrBrand,
                   mstrFacilityId,       mlngAppId,        mstrSelectedGroup,
                   mstrSelectedListItem, mstrSelectedTask, mblnSelectionRestored,
                   mblnDataLoaded};
}

void ctlKevraTaskList::ReportError(const RuntimeError& error, const char* procedure) {
    // The number is read before the description, as the report shows them.
    const std::string prompt = std::to_string(error.Number()) + " " + error.Description();
    try {
        site_.MsgBox(prompt, MsgBoxIcon::critical, MsgBoxButtons::ok,
                     std::string(kApplicationTitle) + " - " + procedure);
    } catch (...) {
        // A container that cannot show the box has nothing better to offer.
    }
}

// The hooks serve what lives beside the control; whatever goes wrong there
// must not change what the control does.
void ctlKevraTaskList::CatalogueChanged(bool loaded) noexcept {
    try {
        if (catalogue_hook_) catalogue_hook_(loaded);
    } catch (...) {
    }
}

void ctlKevraTaskList::Launching(int32_t taskId) noexcept {
    try {
        if (launch_hook_) launch_hook_(taskId);
    } catch (...) {
    }
}

std::string ctlKevraTaskList::GetSetting(const std::string& key) {
    faults::Check("GetSetting");
    return settings_.GetSetting(kApplicationTitle, "Selected Task", key, "");
}

void ctlKevraTaskList::SaveSetting(const std::string& key, const std::string& value) {
    faults::Check("SaveSetting");
    settings_.SaveSetting(kApplicationTitle, "Selected Task", key, value);
}

Recordset& ctlKevraTaskList::Tasks_() {
    if (!mrsTasks)
        throw RuntimeError(err::kObjectNotSet,
                           "Object variable not set: there is no task record set");
    return *mrsTasks;
}

RuntimeError AsRuntimeError(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const RuntimeError& e) {
        return e;
    } catch (const std::bad_alloc&) {
        return RuntimeError(err::kOutOfMemory, "Out of memory");
    } catch (const std::exception& e) {
        return RuntimeError(err::kInternal, std::string("Internal error: ") + e.what());
    } catch (...) {
        return RuntimeError(err::kInternal, "Internal error: unknown exception");
    }
}

}  // namespace kevra
