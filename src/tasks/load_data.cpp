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

}  // namespace

void ctlKevraTaskList::LoadData() {
    ProcedureScope scope(*this);
    std::shared_ptr<DataSpace> dataSpace;
    ObjectRef service;
    CatalogueChanged(false);
    try {
        site_.SetMousePointer(kPointerHourglass);
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
        // writes back replaces the stored context value, even when the
        // service raises afterwards (a write made before an error stays).
        Variant userNumber(mlngUserNumber);
        Variant facilityId(mstrFacilityId);
        Variant brand(mstrBrand);
        Variant appId(mlngAppId);
        Variant tasks{ObjectRef(mrsTasks)};
        faults::Check("RetrieveTasks");
        std::exception_ptr failure;
        try {
            dispatch->InvokeByName(kRetrieveTasks,
                                   {&userNumber, &facilityId, &brand, &appId, &tasks});
        } catch (...) {
            failure = std::current_exception();
        }
        // A value that does not fit its member leaves that member as it was
        // and fails the load, unless the service's own error came first; it
        // costs the other members nothing.
        const auto writeBack = [&failure](auto& member, const Variant& value, auto convert) {
            try {
                member = convert(value);
            } catch (...) {
                if (!failure) failure = std::current_exception();
            }
        };
        const auto asInt32 = [](const Variant& v) { return v.ToInt32(); };
        const auto asString = [](const Variant& v) { return v.ToString(); };
        writeBack(mlngUserNumber, userNumber, asInt32);
        writeBack(mstrFacilityId, facilityId, asString);
        writeBack(mstrBrand, brand, asString);
        writeBack(mlngAppId, appId, asInt32);
        if (failure) std::rethrow_exception(failure);

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
                throw RuntimeError(err::kTypeMismatch, "Type mismatch: the task service returned " +
                                                           tasks.Describe() +
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
        CatalogueChanged(true);
        site_.SetMousePointer(kPointerDefault);
    } catch (...) {
        const RuntimeError error = AsRuntimeError(std::current_exception());
        service.reset();
        dataSpace.reset();
        ReportError(error, "LoadData");
        site_.SetLabelCaption(kLoadFailedCaption);
        site_.RefreshLabel();
        site_.SetEnabled(true);
        site_.SetMousePointer(kPointerDefault);
    }
}

}  // namespace kevra
