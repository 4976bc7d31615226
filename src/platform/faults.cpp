// Armed faults, counted per arming. Single-threaded like the control.
#include "platform/faults.h"

#include <vector>

#include "platform/error.h"

namespace kevra::faults {

namespace detail {
bool g_any_armed = false;
}

namespace {

struct Armed {
    std::string operation;
    int64_t remaining;
    int32_t number;
    std::string description;
};

int g_suspended = 0;  // Suspended objects alive

std::vector<Armed>& Table() {
    static std::vector<Armed> table;
    return table;
}

constexpr std::string_view kOperations[] = {
    "CreateObject", "RetrieveTasks", "Clone",      "Filter",        "MoveNext",      "Fields",
    "GetSetting",   "SaveSetting",   "Groups.Add", "Groups.Remove", "ListItems.Add", "CurrentGroup",
    "Nodes.Add",    "Nodes.Item",    "Clear",      "SelectedNode"};

}  // namespace

bool IsKnownOperation(std::string_view name) {
    for (auto op : kOperations)
        if (op == name) return true;
    return false;
}

void Arm(std::string_view operation, int64_t n, int32_t number, std::string description) {
    Table().push_back(Armed{std::string(operation), n, number, std::move(description)});
    detail::g_any_armed = g_suspended == 0;
}

void Reset() {
    Table().clear();
    detail::g_any_armed = false;
}

Suspended::Suspended() {
    ++g_suspended;
    detail::g_any_armed = false;
}

// Whatever was armed before, or meanwhile, counts again once the last one
// goes.
Suspended::~Suspended() { detail::g_any_armed = --g_suspended == 0 && !Table().empty(); }

void detail::Hit(std::string_view operation) {
    auto& table = Table();
    // Every armed fault on this operation counts the call; the first that
    // reaches its call raises. The others keep counting.
    bool fire = false;
    Armed fired;
    for (auto it = table.begin(); it != table.end();) {
        if (it->operation == operation && --it->remaining <= 0) {
            if (!fire) {
                fire = true;
                fired = std::move(*it);
                it = table.erase(it);
                continue;
            }
        }
        ++it;
    }
    g_any_armed = !table.empty();
    if (fire) throw RuntimeError(fired.number, fired.description);
}

}  // namespace kevra::faults
