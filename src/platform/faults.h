// Fault injection for tests and for kevra-host's `fault` command.
//
// The control's calls into its platform (record set, widgets, settings store,
// data space, task service) each pass a named checkpoint. A test arms a fault
// on a checkpoint: the N-th call from now raises a RuntimeError with the given
// number and description, once. Several faults may be armed at once; each
// counts from its own arming; when two come due on the same call, the one
// armed first raises and the other raises at the next call. When nothing is
// armed a checkpoint costs one test of a flag (the control is single-threaded,
// and so are the faults).
//
// Checkpoint names: CreateObject, RetrieveTasks, Clone, Filter, MoveNext,
// Fields, GetSetting, SaveSetting, Groups.Add, Groups.Remove, ListItems.Add,
// CurrentGroup, Nodes.Add, Nodes.Item, Clear, SelectedNode.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kevra::faults {

// True when `name` is one of the checkpoint names above.
bool IsKnownOperation(std::string_view name);

// Arms a fault: the n-th call (n >= 1) of `operation` from now raises
// RuntimeError(number, description).
void Arm(std::string_view operation, int64_t n, int32_t number, std::string description);

// Disarms everything.
void Reset();

namespace detail {
extern bool g_any_armed;
void Hit(std::string_view operation);
}  // namespace detail

// The checkpoint itself.
inline void Check(std::string_view operation) {
    if (detail::g_any_armed) detail::Hit(operation);
}

// While one lives, checkpoints count nothing and raise nothing: the calls
// made then are not the control's (a host reading the rows for its search)
// and must not use up or trip the faults a test aimed at the control.
class Suspended {
  public:
    Suspended();
    ~Suspended();
    Suspended(const Suspended&) = delete;
    Suspended& operator=(const Suspended&) = delete;
};

}  // namespace kevra::faults
