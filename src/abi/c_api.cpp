// The C interface over instances: creation and siting, properties and
// methods, the dispatch interface, events, container notifications, user
// actions and readers. Every function checks the instance, runs inside
// Guard() so that nothing thrown escapes, and counts itself in the
// instance's call depth (see instance.h).
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "abi/abi_error.h"
#include "abi/instance.h"
#include "abi/instance_call.h"
#include "container/user_actions.h"
#include "control/dispatch.h"

namespace kevra::abi {

namespace {

static_assert(sizeof(int) == 4, "the C interface assumes a 32-bit int");
static_assert(static_cast<int>(MsgBoxIcon::critical) == KEVRA_MB_ICON_CRITICAL &&
                  static_cast<int>(MsgBoxIcon::information) == KEVRA_MB_ICON_INFORMATION &&
                  static_cast<int>(MsgBoxButtons::retrycancel) == KEVRA_MB_RETRYCANCEL,
              "message box codes of the C interface and the site differ");
static_assert(static_cast<int>(Child::sstreeTaskList) == KEVRA_CHILD_SSTREETASKLIST,
              "child numbers of the C interface and the site differ");
static_assert(kPointerDefault == KEVRA_POINTER_DEFAULT &&
                  kPointerHourglass == KEVRA_POINTER_HOURGLASS,
              "mouse pointer codes of the C interface and the site differ");
static_assert(dispatch::kMachineNameDispid == KEVRA_DISPID_MachineName &&
                  dispatch::kUserNumberDispid == KEVRA_DISPID_UserNumber &&
                  dispatch::kBrandDispid == KEVRA_DISPID_Brand &&
                  dispatch::kFacilityIdDispid == KEVRA_DISPID_FacilityId &&
                  dispatch::kAppIdDispid == KEVRA_DISPID_AppId &&
                  dispatch::kLoadDataDispid == KEVRA_DISPID_LoadData &&
                  dispatch::kSelectTaskDispid == KEVRA_DISPID_SelectTask &&
                  dispatch::kStartTaskDispid == KEVRA_DISPID_StartTask,
              "dispatch ids of the C interface and the control differ");

std::string Text(const char* value, const char* what) {
    if (!value)
        throw AbiError(KEVRA_E_POINTER,
                       std::string("the ") + what + " is NULL (pass \"\" for an empty text)");
    return value;
}

const dispatch::Member* FindMember(int dispid) {
    for (const auto& m : dispatch::Members())
        if (m.dispid == dispid) return &m;
    return nullptr;
}

// The sentence for a rejected dispatch call.
std::string DescribeDispatchFailure(KEVRA_HRESULT hr, int dispid, dispatch::Call call,
                                    size_t arg_count) {
    const dispatch::Member* m = FindMember(dispid);
    if (!m) {
        char id[16];
        std::snprintf(id, sizeof id, "0x%08X", static_cast<unsigned>(dispid));
        return std::string("the dispatch id ") + id +
               " names no member of _ctlKevraTaskList (see kevra_type_info_json)";
    }
    const std::string name = m->name;
    const bool is_property = m->kind == dispatch::Kind::propput;
    switch (hr) {
        case KEVRA_DISP_E_MEMBERNOTFOUND:
            if (is_property)
                return name + " is a write-only property: it can be set " +
                       "(KEVRA_DISPATCH_PROPERTYPUT) but not read";
            return name + " is a method: call it with KEVRA_DISPATCH_METHOD";
        case KEVRA_DISP_E_BADPARAMCOUNT:
            return name + " takes " + std::to_string(m->params.size()) + " argument" +
                   (m->params.size() == 1 ? "" : "s") + ", not " + std::to_string(arg_count);
        case KEVRA_DISP_E_TYPEMISMATCH:
            return "the value for " + name + " cannot be converted to " +
                   (m->params.at(0).type == dispatch::ParamType::int32 ? "a 32-bit integer"
                                                                       : "text");
        case KEVRA_DISP_E_OVERFLOW:
            return "the value for " + name + " does not fit a 32-bit integer";
        default:
            (void)call;
            return name + " failed with " + HexResult(hr);
    }
}

KEVRA_HRESULT Invoke(kevra_control& c, int dispid, dispatch::Call call,
                     const std::vector<Variant>& args) {
    dispatch::HRESULT hr;
    {
        ControlCall call_scope(*c.site);
        hr = dispatch::Invoke(*c.control, dispid, call, args);
    }
    if (hr < 0) throw AbiError(hr, DescribeDispatchFailure(hr, dispid, call, args.size()));
    return KEVRA_S_OK;
}

Variant FromC(const kevra_variant& v, unsigned index) {
    switch (v.type) {
        case KEVRA_VT_EMPTY:
            return Variant();
        case KEVRA_VT_NULL:
            return Variant::Null();
        case KEVRA_VT_I4:
            return Variant(static_cast<int32_t>(v.int_value));
        case KEVRA_VT_STRING:
            if (!v.string_value)
                throw AbiError(KEVRA_E_POINTER, "argument " + std::to_string(index + 1) +
                                                    " is a string with a NULL string_value");
            return Variant(std::string(v.string_value));
        default:
            throw AbiError(KEVRA_E_INVALIDARG,
                           "argument " + std::to_string(index + 1) + " has the type " +
                               std::to_string(v.type) +
                               ", which is none of KEVRA_VT_EMPTY, _NULL, _I4, _STRING");
    }
}

void CheckSite(const kevra_site_callbacks* site) {
    if (site && site->struct_size < sizeof(unsigned int) + sizeof(void*))
        throw AbiError(KEVRA_E_INVALIDARG, "kevra_site_callbacks.struct_size is " +
                                               std::to_string(site->struct_size) +
                                               ": set it to sizeof(kevra_site_callbacks)");
}

void UseSettingsDirectory(kevra_control& c, const char* directory) {
    if (directory && !*directory)
        throw AbiError(KEVRA_E_INVALIDARG,
                       "the settings directory is empty: pass NULL for the default one");
    c.settings.UseDirectory(directory ? directory : "");
}

template <typename SiteIt>
KEVRA_HRESULT Create(kevra_control** out, const char* settings_directory, SiteIt&& site_it) {
    return Guard([&]() -> KEVRA_HRESULT {
        if (!out) throw AbiError(KEVRA_E_POINTER, "the control out-pointer is NULL");
        *out = nullptr;
        kevra_control* c = NewInstance();
        try {
            UseSettingsDirectory(*c, settings_directory);
            Entered entered(c);
            site_it(*c);
        } catch (...) {
            FreeInstance(c);
            throw;
        }
        *out = c;
        return KEVRA_S_OK;
    });
}

KEVRA_HRESULT PutText(kevra_control* c, int dispid, const char* value, const char* name) {
    return OnInstance(c, Need::sited, [&](kevra_control& i) {
        return Invoke(i, dispid, dispatch::Call::propertyPut,
                      {Variant(Text(value, (std::string("value for ") + name).c_str()))});
    });
}

KEVRA_HRESULT PutNumber(kevra_control* c, int dispid, int value) {
    return OnInstance(c, Need::sited, [&](kevra_control& i) {
        return Invoke(i, dispid, dispatch::Call::propertyPut, {Variant(int32_t{value})});
    });
}

KEVRA_HRESULT CallMethod(kevra_control* c, int dispid) {
    return OnInstance(c, Need::sited, [&](kevra_control& i) {
        return Invoke(i, dispid, dispatch::Call::method, {});
    });
}

// A user action: refused with a reason (the headless site reports it as
// kevra-host does), or handed to the widget model.
KEVRA_HRESULT OnUserAction(kevra_control* c, UserAction::Kind kind, const char* key,
                           const char* key_name) {
    return OnInstance(c, Need::sited, [&](kevra_control& i) {
        const UserAction action{kind, key_name ? Text(key, key_name) : std::string()};
        if (const auto refusal = CheckUserAction(*i.site, *i.control, action)) {
            if (i.headless_site && i.line_fn) i.headless_site->Refused(*refusal);
            std::string message = "cannot " + DescribeUserAction(action) + ": " + refusal->reason;
            if (!refusal->remedy.empty()) message += " (" + refusal->remedy + ")";
            throw AbiError(KEVRA_E_REFUSED, message);
        }
        ControlCall call(*i.site);
        kevra::TakeUserAction(*i.control, action);
        return KEVRA_S_OK;
    });
}

bool Finite(double a, double b) { return std::isfinite(a) && std::isfinite(b); }

}  // namespace

}  // namespace kevra::abi

using kevra::Child;
using kevra::Variant;
using kevra::abi::AbiError;
using kevra::abi::Need;
using kevra::abi::OnInstance;

extern "C" {

KEVRA_API KEVRA_HRESULT kevra_control_create(const kevra_site_callbacks* site, void* site_user,
                                             const char* settings_directory,
                                             kevra_control** control) {
    return kevra::abi::Create(control, settings_directory, [&](kevra_control& c) {
        kevra::abi::CheckSite(site);
        if (site)
            c.SiteOnCallbacks(*site, site_user);
        else
            c.SiteHeadless(nullptr, nullptr);
    });
}

KEVRA_API KEVRA_HRESULT kevra_control_create_headless(kevra_line_fn on_line, void* line_user,
                                                      const char* settings_directory,
                                                      kevra_control** control) {
    return kevra::abi::Create(control, settings_directory,
                              [&](kevra_control& c) { c.SiteHeadless(on_line, line_user); });
}

KEVRA_API KEVRA_HRESULT kevra_control_site(kevra_control* control, const kevra_site_callbacks* site,
                                           void* site_user) {
    return OnInstance(control, Need::unsited, [&](kevra_control& c) {
        if (!site)
            throw AbiError(KEVRA_E_POINTER,
                           "the site callbacks are NULL (use kevra_control_site_headless for "
                           "the headless site)");
        kevra::abi::CheckSite(site);
        c.SiteOnCallbacks(*site, site_user);
        return KEVRA_S_OK;
    });
}

KEVRA_API KEVRA_HRESULT kevra_control_site_headless(kevra_control* control, kevra_line_fn on_line,
                                                    void* line_user) {
    return OnInstance(control, Need::unsited, [&](kevra_control& c) {
        c.SiteHeadless(on_line, line_user);
        return KEVRA_S_OK;
    });
}

KEVRA_API KEVRA_HRESULT kevra_control_set_settings_directory(kevra_control* control,
                                                             const char* directory) {
    return OnInstance(control, Need::live, [&](kevra_control& c) {
        kevra::abi::UseSettingsDirectory(c, directory);
        return KEVRA_S_OK;
    });
}

KEVRA_API unsigned int kevra_control_add_ref(kevra_control* control) {
    unsigned int refs = 0;
    OnInstance(control, Need::live, [&](kevra_control& c) {
        refs = ++c.refs;
        return KEVRA_S_OK;
    });
    return refs;
}

KEVRA_API unsigned int kevra_control_release(kevra_control* control) {
    unsigned int refs = 0;
    // When the count reaches 0 the instance is marked released, and leaving
    // the outermost call into it (this one, or the one whose callback is
    // releasing it) frees it.
    OnInstance(control, Need::live, [&](kevra_control& c) {
        refs = --c.refs;
        if (refs == 0) c.released = true;
        return KEVRA_S_OK;
    });
    return refs;
}

KEVRA_API KEVRA_HRESULT kevra_control_put_MachineName(kevra_control* control, const char* value) {
    return kevra::abi::PutText(control, KEVRA_DISPID_MachineName, value, "MachineName");
}
KEVRA_API KEVRA_HRESULT kevra_control_put_UserNumber(kevra_control* control, int value) {
    return kevra::abi::PutNumber(control, KEVRA_DISPID_UserNumber, value);
}
KEVRA_API KEVRA_HRESULT kevra_control_put_Brand(kevra_control* control, const char* value) {
    return kevra::abi::PutText(control, KEVRA_DISPID_Brand, value, "Brand");
}
KEVRA_API KEVRA_HRESULT kevra_control_put_FacilityId(kevra_control* control, const char* value) {
    return kevra::abi::PutText(control, KEVRA_DISPID_FacilityId, value, "FacilityId");
}
KEVRA_API KEVRA_HRESULT kevra_control_put_AppId(kevra_control* control, int value) {
    return kevra::abi::PutNumber(control, KEVRA_DISPID_AppId, value);
}
KEVRA_API KEVRA_HRESULT kevra_control_LoadData(kevra_control* control) {
    return kevra::abi::CallMethod(control, KEVRA_DISPID_LoadData);
}
KEVRA_API KEVRA_HRESULT kevra_control_SelectTask(kevra_control* control) {
    return kevra::abi::CallMethod(control, KEVRA_DISPID_SelectTask);
}

KEVRA_API KEVRA_HRESULT kevra_dispatch_get_id_of_name(const char* name, int* dispid) {
    return kevra::abi::Guard([&]() -> KEVRA_HRESULT {
        if (!name || !dispid)
            throw AbiError(KEVRA_E_POINTER, "the name or the dispid pointer is NULL");
        kevra::dispatch::DISPID id = 0;
        if (kevra::dispatch::GetIDOfName(name, id) != kevra::dispatch::kOk)
            throw AbiError(KEVRA_DISP_E_UNKNOWNNAME,
                           "\"" + std::string(name) +
                               "\" is no member of _ctlKevraTaskList (its members: MachineName, "
                               "UserNumber, Brand, FacilityId, AppId, LoadData, SelectTask)");
        *dispid = id;
        return KEVRA_S_OK;
    });
}

KEVRA_API KEVRA_HRESULT kevra_control_invoke(kevra_control* control, int dispid, int flags,
                                             const kevra_variant* args, unsigned int arg_count) {
    return OnInstance(control, Need::sited, [&](kevra_control& c) {
        using kevra::dispatch::Call;
        Call call;
        if (flags & KEVRA_DISPATCH_PROPERTYPUT)
            call = Call::propertyPut;
        else if (flags & KEVRA_DISPATCH_METHOD)
            call = Call::method;
        else if (flags & KEVRA_DISPATCH_PROPERTYGET)
            call = Call::propertyGet;
        else
            throw AbiError(KEVRA_E_INVALIDARG,
                           "the invoke flags " + std::to_string(flags) +
                               " ask for nothing: use KEVRA_DISPATCH_METHOD, _PROPERTYGET or "
                               "_PROPERTYPUT");
        if (arg_count > 0 && !args) throw AbiError(KEVRA_E_POINTER, "the argument array is NULL");
        std::vector<Variant> values;
        for (unsigned i = 0; i < arg_count; ++i) values.push_back(kevra::abi::FromC(args[i], i));
        return kevra::abi::Invoke(c, dispid, call, values);
    });
}

KEVRA_API KEVRA_HRESULT kevra_control_on_StartTask(kevra_control* control,
                                                   kevra_start_task_fn handler, void* user) {
    return OnInstance(control, Need::live, [&](kevra_control& c) {
        c.start_task_fn = handler;
        c.start_task_user = user;
        return KEVRA_S_OK;
    });
}

KEVRA_API KEVRA_HRESULT kevra_control_advise(kevra_control* control, kevra_event_fn sink,
                                             void* user) {
    return OnInstance(control, Need::live, [&](kevra_control& c) {
        c.event_fn = sink;
        c.event_user = user;
        return KEVRA_S_OK;
    });
}

KEVRA_API KEVRA_HRESULT kevra_control_resize(kevra_control* control, double width, double height) {
    return OnInstance(control, Need::sited, [&](kevra_control& c) {
        if (!kevra::abi::Finite(width, height))
            throw AbiError(KEVRA_E_INVALIDARG, "the width and height must be finite (twips)");
        c.site->Resize(width, height);
        return KEVRA_S_OK;
    });
}

KEVRA_API KEVRA_HRESULT kevra_control_set_borders(kevra_control* control, double horizontal,
                                                  double vertical) {
    return OnInstance(control, Need::sited, [&](kevra_control& c) {
        if (!kevra::abi::Finite(horizontal, vertical))
            throw AbiError(KEVRA_E_INVALIDARG, "the border allowances must be finite (twips)");
        c.site->SetBorders(horizontal, vertical);
        return KEVRA_S_OK;
    });
}

KEVRA_API KEVRA_HRESULT kevra_control_paint(kevra_control* control) {
    return OnInstance(control, Need::sited, [&](kevra_control& c) {
        c.site->Paint();
        return KEVRA_S_OK;
    });
}

KEVRA_API KEVRA_HRESULT kevra_control_terminate(kevra_control* control) {
    return OnInstance(control, Need::sited, [&](kevra_control& c) {
        c.site->Terminate();
        return KEVRA_S_OK;
    });
}

KEVRA_API KEVRA_HRESULT kevra_control_open_group(kevra_control* control, const char* key) {
    return kevra::abi::OnUserAction(control, kevra::UserAction::Kind::open_group, key, "group key");
}

KEVRA_API KEVRA_HRESULT kevra_control_click_item(kevra_control* control, const char* key) {
    return kevra::abi::OnUserAction(control, kevra::UserAction::Kind::click_item, key,
                                    "list item key");
}

KEVRA_API KEVRA_HRESULT kevra_control_select_node(kevra_control* control, const char* key) {
    return kevra::abi::OnUserAction(control, kevra::UserAction::Kind::select_node, key, "node key");
}

KEVRA_API KEVRA_HRESULT kevra_control_dblclick(kevra_control* control) {
    return kevra::abi::OnUserAction(control, kevra::UserAction::Kind::dblclick, nullptr, nullptr);
}

KEVRA_API KEVRA_HRESULT kevra_control_get_frame(kevra_control* control, int child,
                                                kevra_frame* frame) {
    return OnInstance(control, Need::live, [&](kevra_control& c) {
        if (!frame) throw AbiError(KEVRA_E_POINTER, "the frame pointer is NULL");
        if (child < KEVRA_CHILD_LBLSTATUS || child > KEVRA_CHILD_SSTREETASKLIST)
            throw AbiError(KEVRA_E_INVALIDARG,
                           "there is no child " + std::to_string(child) +
                               " (use KEVRA_CHILD_LBLSTATUS, _SSLISTTASKLIST or _SSTREETASKLIST)");
        if (!c.Sited()) throw AbiError(KEVRA_E_NOT_SITED, "the control instance has no site yet");
        const kevra::ChildFrame f = c.site->Frame(static_cast<Child>(child));
        *frame = {f.visible ? 1 : 0, f.left, f.top, f.width, f.height};
        return KEVRA_S_OK;
    });
}

KEVRA_API KEVRA_HRESULT kevra_control_get_size(kevra_control* control, double* width,
                                               double* height) {
    return OnInstance(control, Need::live, [&](kevra_control& c) {
        if (!width || !height)
            throw AbiError(KEVRA_E_POINTER, "the width or height pointer is NULL");
        if (!c.Sited()) throw AbiError(KEVRA_E_NOT_SITED, "the control instance has no site yet");
        *width = c.site->Width();
        *height = c.site->Height();
        return KEVRA_S_OK;
    });
}

KEVRA_API KEVRA_HRESULT kevra_control_dump_json(kevra_control* control, char** json) {
    return OnInstance(control, Need::live, [&](kevra_control& c) {
        if (!json) throw AbiError(KEVRA_E_POINTER, "the json out-pointer is NULL");
        *json = nullptr;
        if (!c.Sited()) throw AbiError(KEVRA_E_NOT_SITED, "the control instance has no site yet");
        if (!c.headless)
            throw AbiError(KEVRA_E_NOTIMPL,
                           "the state dump is kept by the headless site only; a host site "
                           "hears every change through its callbacks");
        const std::string text = c.headless->DumpJson();
        char* copy = static_cast<char*>(std::malloc(text.size() + 1));
        if (!copy) throw std::bad_alloc();
        std::memcpy(copy, text.c_str(), text.size() + 1);
        *json = copy;
        return KEVRA_S_OK;
    });
}

KEVRA_API void kevra_free(void* memory) { std::free(memory); }

}  // extern "C"
