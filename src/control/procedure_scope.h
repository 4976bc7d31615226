// Marks the span of one of the control's own procedures (LoadData,
// SelectTask, the user-event handlers) so that events the control causes
// itself are told apart from events the user causes.
#pragma once

#include "control/ctlKevraTaskList.h"

namespace kevra {

class ProcedureScope {
  public:
    explicit ProcedureScope(ctlKevraTaskList& control) : control_(control) {
        ++control_.procedure_depth_;
    }
    ~ProcedureScope() { --control_.procedure_depth_; }
    ProcedureScope(const ProcedureScope&) = delete;
    ProcedureScope& operator=(const ProcedureScope&) = delete;

  private:
    ctlKevraTaskList& control_;
};

}  // namespace kevra
