// The control's dispatch interface: the write-only properties and the two
// methods by dispatch id and by name, the outgoing StartTask, and the
// published type information.
//
// Invoke converts arguments as a dispatch interface does (text holding a
// decimal number becomes an integer; an integer becomes its decimal text)
// and answers with an HRESULT; it never raises.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "kevra/control/ctlKevraTaskList.h"
#include "kevra/platform/variant.h"

namespace kevra::dispatch {

using DISPID = int32_t;
using HRESULT = int32_t;

constexpr HRESULT kOk = 0;
constexpr HRESULT kMemberNotFound = static_cast<HRESULT>(0x80020003);
constexpr HRESULT kTypeMismatch = static_cast<HRESULT>(0x80020005);
constexpr HRESULT kUnknownName = static_cast<HRESULT>(0x80020006);
constexpr HRESULT kOverflow = static_cast<HRESULT>(0x8002000A);
constexpr HRESULT kBadParamCount = static_cast<HRESULT>(0x8002000E);
constexpr HRESULT kOutOfMemory = static_cast<HRESULT>(0x8007000E);
constexpr HRESULT kUnexpected = static_cast<HRESULT>(0x8000FFFF);

enum class Kind { method, propput };
enum class ParamType { string, int32 };

struct Param {
    const char* name;
    ParamType type;
};

struct Member {
    const char* name;
    DISPID dispid;
    Kind kind;
    std::vector<Param> params;
};

// What a caller asks of a member.
enum class Call { method, propertyGet, propertyPut };

// The default interface's members in their published order.
const std::vector<Member>& Members();
// The outgoing interface's one member.
const Member& StartTaskMember();

// The members' dispatch ids, fixed by the published type library. The C
// header repeats them as KEVRA_DISPID_*; the C library checks at compile
// time that the two agree.
constexpr DISPID kMachineNameDispid = 0x68030027;
constexpr DISPID kUserNumberDispid = 0x68030026;
constexpr DISPID kBrandDispid = 0x68030025;
constexpr DISPID kFacilityIdDispid = 0x68030024;
constexpr DISPID kAppIdDispid = 0x68030023;
constexpr DISPID kLoadDataDispid = 0x60030028;
constexpr DISPID kSelectTaskDispid = 0x60030032;
constexpr DISPID kStartTaskDispid = 1;

// The dispatch id of a member name (letter case ignored), or kUnknownName.
HRESULT GetIDOfName(std::string_view name, DISPID& dispid);

// Calls a member. A property read is rejected (the properties are
// write-only) with kMemberNotFound, as is an unknown id.
HRESULT Invoke(ctlKevraTaskList& control, DISPID dispid, Call call,
               const std::vector<Variant>& args);

// Identifiers of the library, the class and its interfaces.
extern const char* const kLibraryId;
extern const char* const kClassId;
extern const char* const kDefaultInterfaceId;
extern const char* const kEventInterfaceId;
constexpr const char* kLibraryName = "KevraTaskList";
constexpr const char* kLibraryHelpString = "KEVRA Task List Control";
constexpr const char* kProgId = "KevraTaskList.ctlKevraTaskList";

// The published type information as one JSON object.
std::string TypeInfoJson();

}  // namespace kevra::dispatch
