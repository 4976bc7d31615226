// The task service KEVRA.clsKEVRA: the component the control creates through
// the data space to fetch its task catalogue.
//
// The factory takes the control's MachineName as its server string; the
// string's form picks the catalogue store (service/catalogue_location.h).
// The one member, RetrieveTasks, is called late-bound by name with five
// by-reference arguments: user number, facility id, brand, application id,
// and the record set (on entry the previous one or Empty, on return the new
// one). The returned record set owns its rows outright, so it stays readable
// after the service and any database connection are gone.
#pragma once

#include <cstdint>
#include <string>

#include "kevra/platform/dataspace.h"
#include "kevra/platform/recordset.h"

namespace kevra::service {

inline constexpr const char* kTaskServiceProgId = "KEVRA.clsKEVRA";

// Registers KEVRA.clsKEVRA in `registry`.
void RegisterTaskService(ComponentRegistry& registry = ComponentRegistry::Instance());

// Who is asking: the four context values of RetrieveTasks.
struct TaskQuery {
    int32_t user_number = 0;
    std::string facility_id;
    std::string brand;
    int32_t app_id = 0;
};

// The rows of the task record set that the catalogue named by `machine_name`
// holds for `query` (what RetrieveTasks returns, without the dispatch layer).
TableRef RetrieveTaskRows(const std::string& machine_name, const TaskQuery& query);

}  // namespace kevra::service
