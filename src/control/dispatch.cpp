// Dispatch by id and by name, argument conversion, and the type library
// description.
#include "control/dispatch.h"

#include <new>

#include "platform/error.h"
#include "platform/json.h"
#include "platform/names.h"

namespace kevra::dispatch {

const char* const kLibraryId = "{6B1E3F52-9C0A-4D57-8E21-4A7C5D13B901}";
const char* const kClassId = "{6B1E3F53-9C0A-4D57-8E21-4A7C5D13B901}";
const char* const kDefaultInterfaceId = "{6B1E3F54-9C0A-4D57-8E21-4A7C5D13B901}";
const char* const kEventInterfaceId = "{6B1E3F55-9C0A-4D57-8E21-4A7C5D13B901}";

const std::vector<Member>& Members() {
    static const std::vector<Member> members = {
        {"MachineName",
         kMachineNameDispid,
         Kind::propput,
         {{"astrMachineName", ParamType::string}}},
        {"UserNumber", kUserNumberDispid, Kind::propput, {{"alngUserNumber", ParamType::int32}}},
        {"Brand", kBrandDispid, Kind::propput, {{"astrBrand", ParamType::string}}},
        {"FacilityId", kFacilityIdDispid, Kind::propput, {{"astrFacilityId", ParamType::string}}},
        {"AppId", kAppIdDispid, Kind::propput, {{"alngAppId", ParamType::int32}}},
        {"LoadData", kLoadDataDispid, Kind::method, {}},
        {"SelectTask", kSelectTaskDispid, Kind::method, {}},
    };
    return members;
}

const Member& StartTaskMember() {
    static const Member member = {"StartTask",
                                  kStartTaskDispid,
                                  Kind::method,
                                  {{"astrTaskId", ParamType::int32},
                                   {"astrTaskURL", ParamType::string},
                                   {"astrTaskParms", ParamType::string}}};
    return member;
}

namespace {

const Member* Find(DISPID dispid) {
    for (const auto& m : Members())
        if (m.dispid == dispid) return &m;
    return nullptr;
}

HRESULT ToHresult(const RuntimeError& e) {
    switch (e.Number()) {
        case err::kOverflow:
            return kOverflow;
        case err::kTypeMismatch:
        case err::kInvalidUseOfNull:
            return kTypeMismatch;
        default:
            return kUnexpected;
    }
}

}  // namespace

HRESULT GetIDOfName(std::string_view name, DISPID& dispid) {
    for (const auto& m : Members()) {
        if (SameName(m.name, name)) {
            dispid = m.dispid;
            return kOk;
        }
    }
    return kUnknownName;
}

HRESULT Invoke(ctlKevraTaskList& control, DISPID dispid, Call call,
               const std::vector<Variant>& args) {
    const Member* member = Find(dispid);
    if (!member) return kMemberNotFound;
    try {
        if (member->kind == Kind::method) {
            if (call == Call::propertyPut) return kMemberNotFound;
            if (!args.empty()) return kBadParamCount;
            if (dispid == kLoadDataDispid)
                control.LoadData();
            else
                control.SelectTask();
            return kOk;
        }
        // A write-only property: only a put is accepted.
        if (call != Call::propertyPut) return kMemberNotFound;
        if (args.size() != 1) return kBadParamCount;
        const Variant& value = args[0];
        if (value.type() == Variant::Type::Object || value.IsNull()) return kTypeMismatch;
        switch (dispid) {
            case kMachineNameDispid:
                control.MachineName(value.ToString());
                break;
            case kUserNumberDispid:
                control.UserNumber(value.ToInt32());
                break;
            case kBrandDispid:
                control.Brand(value.ToString());
                break;
            case kFacilityIdDispid:
                control.FacilityId(value.ToString());
                break;
            case kAppIdDispid:
                control.AppId(value.ToInt32());
                break;
        }
        return kOk;
    } catch (const RuntimeError& e) {
        return ToHresult(e);
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    } catch (...) {
        return kUnexpected;
    }
}

std::string TypeInfoJson() {
    using json::Quote;
    auto members = [](const std::vector<Member>& list) {
        std::string out = "[";
        for (size_t i = 0; i < list.size(); ++i) {
            const Member& m = list[i];
            if (i) out += ",";
            out += "{\"name\":" + Quote(m.name) +
                   ",\"dispid\":" + std::to_string(static_cast<uint32_t>(m.dispid)) +
                   ",\"kind\":" + Quote(m.kind == Kind::method ? "method" : "propput") +
                   ",\"params\":[";
            for (size_t p = 0; p < m.params.size(); ++p) {
                if (p) out += ",";
                out += "{\"name\":" + Quote(m.params[p].name) + ",\"type\":" +
                       Quote(m.params[p].type == ParamType::string ? "string" : "int32") + "}";
            }
            out += "]}";
        }
        return out + "]";
    };
    std::string out = "{";
    out += "\"library\":{\"name\":" + Quote(kLibraryName) +
           ",\"helpString\":" + Quote(kLibraryHelpString) + ",\"id\":" + Quote(kLibraryId) +
           ",\"version\":\"1.0\"},";
    out +=
        "\"classes\":[{\"name\":\"ctlKevraTaskList\",\"id\":" + Quote(kClassId) +
        ",\"progId\":" + Quote(kProgId) +
        ",\"defaultInterface\":\"_ctlKevraTaskList\",\"defaultEvents\":\"__ctlKevraTaskList\"}],";
    out += "\"interfaces\":[";
    out +=
        "{\"name\":\"_ctlKevraTaskList\",\"id\":" + Quote(kDefaultInterfaceId) +
        ",\"kind\":\"dual\",\"hidden\":true,\"outgoing\":false,\"members\":" + members(Members()) +
        "},";
    out += "{\"name\":\"__ctlKevraTaskList\",\"id\":" + Quote(kEventInterfaceId) +
           ",\"kind\":\"dispatch\",\"hidden\":true,\"outgoing\":true,\"members\":" +
           members({StartTaskMember()}) + "}";
    out += "]}";
    return out;
}

}  // namespace kevra::dispatch
