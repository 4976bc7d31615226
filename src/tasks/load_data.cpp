// LoadData: fetches the task catalogue from the task service and builds the
// list bar from it, behind the busy state. Every failure is reported to the
// user and on the status label; the host always sees the call succeed.
#include <exception>

#include "control/ctlKevraTaskList.h"
#include "control/procedure_scope.h"
#include "platform/faults.h"

namespace kevra {

namespace {

constexpr const char* kTaskServiceProgId = "KEVRA.clsKEVRA";
constexpr const char* kRetrieveTasks = "RetrieveTasks";
constexpr const char* kLoadFailedCaption =
    "An error has occurred - The task list could not be loaded";

// The members the task service reads and writes back: the user's context
// and the record set that receives the catalogue.
struct TaskServiceMembers {
    int32_t& userNumber;
    std::string& facilityId;
    std::string& brand;
    int32_t& appId;
    RecordsetRef& tasks;
};

void EnterBusyState(ControlSite& site) {
    site.SetMousePointer(kPointerHourglass);
    site.SetEnabled(false);
    site.DoEvents();
}

Dispatchable& TaskServiceDispatch(const ObjectRef& service) {
    auto* dispatch = dynamic_cast<Dispatchable*>(service.get());
    if (!dispatch)
        throw RuntimeError(err::kNoSuchMember,
                           "Object doesn't support this property or method: the task "
                           "service has no member RetrieveTasks");
    return *dispatch;
}

// A value that does not fit its member leaves that member as it was and
// fails the load, unless the service's own error came first; it costs the
// other members nothing.
template <typename Member, typename Convert>
void WriteBack(Member& member, const Variant& value, Convert convert, std::exception_ptr& failure) {
    try {
        member = convert(value);
    } catch (...) {
        if (!failure) failure = std::current_exception();
    }
}

// Keeps what came back as the record set. An empty reference is kept as
// empty (the build then fails on its first record-set call); any other kind
// of value fails the conversion and leaves the record set as it was.
void KeepReturnedTasks(const Variant& tasks, RecordsetRef& member) {
    if (tasks.IsEmpty() || (tasks.type() == Variant::Type::Object && !tasks.ObjectValue())) {
        member.reset();
        return;
    }
    RecordsetRef rs;
    if (tasks.type() == Variant::Type::Object)
        rs = std::dynamic_pointer_cast<Recordset>(tasks.ObjectValue());
    if (!rs)
        throw RuntimeError(err::kTypeMismatch, "Type mismatch: the task service returned " +
                                                   tasks.Describe() +
                                                   " where a record set was expected");
    member = std::move(rs);
}

// Arguments 1 to 4 are the members themselves: what the service writes back
// replaces the stored context value, even when the service raises afterwards
// (a write made before an error stays).
void RetrieveTasks(Dispatchable& service, const TaskServiceMembers& members) {
    Variant userNumber(members.userNumber);
    Variant facilityId(members.facilityId);
    Variant brand(members.brand);
    Variant appId(members.appId);
    Variant tasks{ObjectRef(members.tasks)};
    faults::Check("RetrieveTasks");
    std::exception_ptr failure;
    try {
        service.InvokeByName(kRetrieveTasks, {&userNumber, &facilityId, &brand, &appId, &tasks});
    } catch (...) {
        failure = std::current_exception();
    }
    const auto asInt32 = [](const Variant& v) { return v.ToInt32(); };
    const auto asString = [](const Variant& v) { return v.ToString(); };
    WriteBack(members.userNumber, userNumber, asInt32, failure);
    WriteBack(members.facilityId, facilityId, asString, failure);
    WriteBack(members.brand, brand, asString, failure);
    WriteBack(members.appId, appId, asInt32, failure);
    if (failure) std::rethrow_exception(failure);
    KeepReturnedTasks(tasks, members.tasks);
}

void ShowLoadedCatalogue(ControlSite& site) {
    site.SetVisible(Child::lblStatus, false);
    site.SetVisible(Child::sslistTaskList, true);
    site.SetVisible(Child::sstreeTaskList, true);
    site.SetEnabled(true);
}

// Runs after the error report, so the label and the pointer change once the
// user has closed the box.
void ShowLoadFailure(ControlSite& site) {
    site.SetLabelCaption(kLoadFailedCaption);
    site.RefreshLabel();
    site.SetEnabled(true);
    site.SetMousePointer(kPointerDefault);
}

}  // namespace

void ctlKevraTaskList::LoadData() {
    ProcedureScope scope(*this);
    std::shared_ptr<DataSpace> dataSpace;
    ObjectRef service;
    CatalogueChanged(false);
    try {
        EnterBusyState(site_);

        dataSpace = std::make_shared<DataSpace>(registry_);
        service = dataSpace->CreateObject(kTaskServiceProgId, mstrMachineName);
        RetrieveTasks(TaskServiceDispatch(service),
                      {mlngUserNumber, mstrFacilityId, mstrBrand, mlngAppId, mrsTasks});

        LoadListBar();

        service.reset();
        dataSpace.reset();
        ShowLoadedCatalogue(site_);
        mblnDataLoaded = kTrue;
        CatalogueChanged(true);
        site_.SetMousePointer(kPointerDefault);
    } catch (...) {
        const RuntimeError error = AsRuntimeError(std::current_exception());
        service.reset();
        dataSpace.reset();
        ReportError(error, "LoadData");
        ShowLoadFailure(site_);
    }
}

}  // namespace kevra
