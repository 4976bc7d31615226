// LoadData: fetches the task catalogue from the task service and builds the
// list bar from it, behind the busy state. Every failure is reported to the
// user and on the status label; the host always sees the call succeed.
#include "control/ctlKevraTaskList.h"
#include "control/procedure_scope.h"
#include "platform/faults.h"

namespace kevra {

namespace {

constexpr const char* kTaskServiceProgId = "KEVRA.clsKEVRA";
constexpr const char* kRetrieveTasks = "RetrieveTasks";
constexpr const char* kLoadFailedCaption =
    "An error has occurred - The task list could not be loaded";

}  // namespace

void ctlKevraTaskList::LoadData() {
    ProcedureScope scope(*this);
    std::shared_ptr<DataSpace> dataSpace;
    ObjectRef service;
    try {
        site_.SetMousePointer(11);
        site_.SetEnabled(false);
        site_.DoEvents();

        dataSpace = std::make_shared<DataSpace>(registry_);
        service = dataSpace->CreateObject(kTaskServiceProgId, mstrMachineName);

        auto* dispatch = dynamic_cast<Dispatchable*>(service.get());
        if (!dispatch)
            throw RuntimeError(err::kNoSuchMember,
                               "Object doesn't support this property or method: the task "
                               "service has no member RetrieveTasks");

        // Arguments 1 to 4 are the members themselves: what the service
        // writes back replaces the stored context value.
        Variant userNumber(mlngUserNumber);
        Variant facilityId(mstrFacilityId);
        Variant brand(mstrBrand);
        Variant appId(mlngAppId);
        Variant tasks{ObjectRef(mrsTasks)};
        faults::Check("RetrieveTasks");
        dispatch->InvokeByName(kRetrieveTasks, {&userNumber, &facilityId, &brand, &appId, &tasks});
        mlngUserNumber = userNumber.ToInt32();
        mstrFacilityId = facilityId.ToString();
        mstrBrand = brand.ToString();
        mlngAppId = appId.ToInt32();

        // Keep what came back as the record set. An empty reference is kept
        // as empty (the build then fails on its first record-set call); any
        // other kind of value fails the conversion and leaves mrsTasks as it
        // was.
        if (tasks.IsEmpty() || (tasks.type() == Variant::Type::Object && !tasks.ObjectValue())) {
            mrsTasks.reset();
        } else {
            RecordsetRef rs;
            if (tasks.type() == Variant::Type::Object)
                rs = std::dynamic_pointer_cast<Recordset>(tasks.ObjectValue());
            if (!rs)
                throw RuntimeError(err::kTypeMismatch,
                                   "Type mismatch: the task service returned " + tasks.Describe() +
                                       " where a record set was expected");
            mrsTasks = std::move(rs);
        }

        LoadListBar();

        service.reset();
        dataSpace.reset();
        site_.SetVisible(Child::lblStatus, false);
        site_.SetVisible(Child::sslistTaskList, true);
        site_.SetVisible(Child::sstreeTaskList, true);
        site_.SetEnabled(true);
        mblnDataLoaded = kTrue;
        site_.SetMousePointer(0);
    } catch (...) {
        const RuntimeError error = AsRuntimeError(std::current_exception());
        service.reset();
        dataSpace.reset();
        ReportError(error, "LoadData");
        site_.SetLabelCaption(kLoadFailedCaption);
        site_.RefreshLabel();
        site_.SetEnabled(true);
        site_.SetMousePointer(0);
    }
}

}  // namespace kevra
