// The C interface over instances: a launch on the headless site and on the
// host's callbacks, the dispatch interface's rules, the guards against
// misuse (unsited, terminated, released, foreign thread, NULL), and a
// release from inside the instance's own event.
#include <cmath>
#include <thread>
#include <vector>

#include "abi_test_util.h"

namespace kevra::abi::test {
namespace {

struct Recorder {
    std::vector<std::string> lines;
    static void Line(void* user, const char* line) {
        static_cast<Recorder*>(user)->lines.push_back(line);
    }
    bool Has(const std::string& line) const {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
};

struct Started {
    int count = 0, id = 0;
    std::string url, parms;
    std::vector<int> event_types;
    static void Typed(void* user, int id, const char* url, const char* parms) {
        auto* s = static_cast<Started*>(user);
        ++s->count;
        s->id = id;
        s->url = url;
        s->parms = parms;
    }
    static void Generic(void* user, int dispid, const kevra_variant* args, unsigned n) {
        auto* s = static_cast<Started*>(user);
        if (dispid != KEVRA_DISPID_StartTask) return;
        for (unsigned i = 0; i < n; ++i) s->event_types.push_back(args[i].type);
    }
};

class ControlTest : public ScratchTest {
  protected:
    void TearDown() override {
        if (control_) kevra_control_release(control_);
    }
    void CreateHeadless() {
        ASSERT_EQ(kevra_control_create_headless(Recorder::Line, &recorder_, nullptr, &control_),
                  KEVRA_S_OK)
            << kevra_last_error();
    }
    void Load() {
        ASSERT_EQ(kevra_control_put_MachineName(control_, WriteCatalogue().c_str()), KEVRA_S_OK);
        ASSERT_EQ(kevra_control_LoadData(control_), KEVRA_S_OK);
    }
    void Launch() {
        ASSERT_EQ(kevra_control_open_group(control_, "X1"), KEVRA_S_OK) << kevra_last_error();
        ASSERT_EQ(kevra_control_click_item(control_, "X2"), KEVRA_S_OK) << kevra_last_error();
        ASSERT_EQ(kevra_control_select_node(control_, "X3"), KEVRA_S_OK) << kevra_last_error();
        ASSERT_EQ(kevra_control_dblclick(control_), KEVRA_S_OK) << kevra_last_error();
    }
    std::string Dump() {
        char* json = nullptr;
        EXPECT_EQ(kevra_control_dump_json(control_, &json), KEVRA_S_OK) << kevra_last_error();
        std::string text = json ? json : "";
        kevra_free(json);
        return text;
    }
    KEVRA_HRESULT Invoke(int dispid, int flags, std::vector<kevra_variant> args) {
        return kevra_control_invoke(control_, dispid, flags, args.data(),
                                    static_cast<unsigned>(args.size()));
    }
    static kevra_variant Text(const char* s) { return {KEVRA_VT_STRING, 0, s}; }
    static kevra_variant Int(int i) { return {KEVRA_VT_I4, i, nullptr}; }

    Recorder recorder_;
    kevra_control* control_ = nullptr;
};

TEST_F(ControlTest, AHeadlessLaunchRaisesStartTaskToEveryListener) {
    CreateHeadless();
    Started started;
    ASSERT_EQ(kevra_control_on_StartTask(control_, Started::Typed, &started), KEVRA_S_OK);
    ASSERT_EQ(kevra_control_advise(control_, Started::Generic, &started), KEVRA_S_OK);
    Load();
    Launch();

    EXPECT_EQ(started.count, 1);
    EXPECT_EQ(started.id, 3);
    EXPECT_EQ(started.url, "app://new");  // trimmed of its spaces
    EXPECT_EQ(started.parms, "q=1");
    EXPECT_EQ(started.event_types,
              (std::vector<int>{KEVRA_VT_I4, KEVRA_VT_STRING, KEVRA_VT_STRING}));
    EXPECT_TRUE(recorder_.Has("event StartTask 3 \"app://new\" \"q=1\""));
    EXPECT_TRUE(recorder_.Has("setting-write \"KevraTaskList\" \"Selected Task\" \"Task\" \"X3\""));
    // The control is usable again after the launch.
    EXPECT_EQ(recorder_.lines.back(), "pointer 0");
    EXPECT_NE(Dump().find("\"mblnDataLoaded\":-1"), std::string::npos);
}

TEST_F(ControlTest, TheSettingsDirectoryIsTheHostsChoice) {
    const std::string dir = (root_ / "settings").string();
    ASSERT_EQ(kevra_control_create_headless(nullptr, nullptr, dir.c_str(), &control_), KEVRA_S_OK);
    Load();
    Launch();
    EXPECT_NE(ReadFile(root_ / "settings" / "KevraTaskList.ini").find("Task=X3"),
              std::string::npos);
    EXPECT_FALSE(fs::exists(config_home_ / "kevra" / "KevraTaskList.ini"));

    kevra_control* other = nullptr;
    EXPECT_EQ(kevra_control_create_headless(nullptr, nullptr, "", &other), KEVRA_E_INVALIDARG);
    EXPECT_EQ(other, nullptr);
    EXPECT_NE(std::string(kevra_last_error()).find("NULL for the default"), std::string::npos);
}

TEST_F(ControlTest, UserActionsTheSurfaceCannotTakeAreRefusedWithAReason) {
    CreateHeadless();
    EXPECT_EQ(kevra_control_open_group(control_, "X1"), KEVRA_E_REFUSED);
    EXPECT_NE(std::string(kevra_last_error()).find("list bar is hidden"), std::string::npos);
    EXPECT_EQ(kevra_control_dblclick(control_), KEVRA_E_REFUSED);
    EXPECT_NE(std::string(kevra_last_error()).find("tree is hidden (nothing is loaded)"),
              std::string::npos)
        << kevra_last_error();
    EXPECT_TRUE(recorder_.Has("refused \"the tree is hidden\"")) << "as kevra-host prints it";

    Load();
    EXPECT_EQ(kevra_control_open_group(control_, "X2"), KEVRA_E_REFUSED) << "X2 is a list item";
    ASSERT_EQ(kevra_control_open_group(control_, "X1"), KEVRA_S_OK);
    EXPECT_EQ(kevra_control_click_item(control_, "X3"), KEVRA_E_REFUSED) << "X3 is in the tree";
    EXPECT_EQ(kevra_control_select_node(control_, "X3"), KEVRA_E_REFUSED) << "the tree is empty";
    EXPECT_EQ(kevra_control_open_group(control_, nullptr), KEVRA_E_POINTER);
}

TEST_F(ControlTest, TheDispatchInterfaceTakesPutsAndRejectsReads) {
    CreateHeadless();
    int id = 0;
    ASSERT_EQ(kevra_dispatch_get_id_of_name("usernumber", &id), KEVRA_S_OK);
    EXPECT_EQ(id, KEVRA_DISPID_UserNumber);
    EXPECT_EQ(kevra_dispatch_get_id_of_name("StartTask", &id), KEVRA_DISP_E_UNKNOWNNAME)
        << "the event is not a member of the default interface";

    // Puts convert as a dispatch interface does.
    EXPECT_EQ(Invoke(KEVRA_DISPID_UserNumber, KEVRA_DISPATCH_PROPERTYPUT, {Text("42")}),
              KEVRA_S_OK);
    EXPECT_EQ(Invoke(KEVRA_DISPID_Brand, KEVRA_DISPATCH_PROPERTYPUT, {Int(7)}), KEVRA_S_OK);
    const std::string dump = Dump();
    EXPECT_NE(dump.find("\"mlngUserNumber\":42"), std::string::npos) << dump;
    EXPECT_NE(dump.find("\"mstrBrand\":\"7\""), std::string::npos) << dump;

    struct Case {
        int dispid, flags;
        std::vector<kevra_variant> args;
        KEVRA_HRESULT expected;
        const char* reason;
    };
    const Case cases[] = {
        {KEVRA_DISPID_Brand,
         KEVRA_DISPATCH_PROPERTYGET,
         {},
         KEVRA_DISP_E_MEMBERNOTFOUND,
         "write-only"},
        {KEVRA_DISPID_Brand,
         KEVRA_DISPATCH_METHOD | KEVRA_DISPATCH_PROPERTYGET,
         {},
         KEVRA_DISP_E_MEMBERNOTFOUND,
         "write-only"},
        {KEVRA_DISPID_LoadData,
         KEVRA_DISPATCH_PROPERTYPUT,
         {Int(1)},
         KEVRA_DISP_E_MEMBERNOTFOUND,
         "is a method"},
        {KEVRA_DISPID_StartTask,
         KEVRA_DISPATCH_METHOD,
         {},
         KEVRA_DISP_E_MEMBERNOTFOUND,
         "names no member"},
        {KEVRA_DISPID_AppId,
         KEVRA_DISPATCH_PROPERTYPUT,
         {Text("abc")},
         KEVRA_DISP_E_TYPEMISMATCH,
         "32-bit integer"},
        {KEVRA_DISPID_AppId,
         KEVRA_DISPATCH_PROPERTYPUT,
         {Text("99999999999")},
         KEVRA_DISP_E_OVERFLOW,
         "does not fit"},
        {KEVRA_DISPID_Brand,
         KEVRA_DISPATCH_PROPERTYPUT,
         {{KEVRA_VT_NULL, 0, nullptr}},
         KEVRA_DISP_E_TYPEMISMATCH,
         "Brand"},
        {KEVRA_DISPID_Brand,
         KEVRA_DISPATCH_PROPERTYPUT,
         {},
         KEVRA_DISP_E_BADPARAMCOUNT,
         "takes 1 argument, not 0"},
        {KEVRA_DISPID_LoadData,
         KEVRA_DISPATCH_METHOD,
         {Int(1)},
         KEVRA_DISP_E_BADPARAMCOUNT,
         "takes 0 arguments"},
        {KEVRA_DISPID_Brand,
         KEVRA_DISPATCH_PROPERTYPUT,
         {{99, 0, nullptr}},
         KEVRA_E_INVALIDARG,
         "type 99"},
        {KEVRA_DISPID_Brand,
         KEVRA_DISPATCH_PROPERTYPUT,
         {{KEVRA_VT_STRING, 0, nullptr}},
         KEVRA_E_POINTER,
         "NULL"},
        {KEVRA_DISPID_Brand, 0, {Text("x")}, KEVRA_E_INVALIDARG, "ask for nothing"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Invoke(c.dispid, c.flags, c.args), c.expected) << c.reason;
        EXPECT_NE(std::string(kevra_last_error()).find(c.reason), std::string::npos)
            << kevra_last_error();
    }
    // Nothing rejected reached the members.
    EXPECT_EQ(Dump(), dump);
}

TEST_F(ControlTest, AnInstanceIsCheckedBeforeEveryCall) {
    void* object = nullptr;
    KevraClassFactory* factory = nullptr;
    ASSERT_EQ(DllGetClassObject(&KEVRA_CLSID_ctlKevraTaskList, &KEVRA_IID_IClassFactory,
                                reinterpret_cast<void**>(&factory)),
              KEVRA_S_OK);
    ASSERT_EQ(factory->lpVtbl->CreateInstance(factory, nullptr, &KEVRA_IID_IUnknown, &object),
              KEVRA_S_OK);
    factory->lpVtbl->Release(factory);
    control_ = static_cast<kevra_control*>(object);

    EXPECT_EQ(kevra_control_put_Brand(control_, "b"), KEVRA_E_NOT_SITED);
    EXPECT_NE(std::string(kevra_last_error()).find("kevra_control_site"), std::string::npos);
    EXPECT_EQ(kevra_control_site(control_, nullptr, nullptr), KEVRA_E_POINTER);
    kevra_site_callbacks short_site{};
    EXPECT_EQ(kevra_control_site(control_, &short_site, nullptr), KEVRA_E_INVALIDARG)
        << "struct_size left 0";
    ASSERT_EQ(kevra_control_site_headless(control_, nullptr, nullptr), KEVRA_S_OK);
    EXPECT_EQ(kevra_control_site_headless(control_, nullptr, nullptr), KEVRA_E_ALREADY_SITED);
    EXPECT_EQ(kevra_control_put_Brand(control_, nullptr), KEVRA_E_POINTER);
    EXPECT_NE(std::string(kevra_last_error()).find("Brand"), std::string::npos);

    // Another thread may not touch the instance, not even to release it.
    KEVRA_HRESULT from_thread = 0;
    unsigned refs_from_thread = 99;
    std::thread([&] {
        from_thread = kevra_control_put_Brand(control_, "b");
        refs_from_thread = kevra_control_release(control_);
    }).join();
    EXPECT_EQ(from_thread, KEVRA_E_WRONG_THREAD);
    EXPECT_EQ(refs_from_thread, 0u);

    ASSERT_EQ(kevra_control_terminate(control_), KEVRA_S_OK);
    EXPECT_EQ(kevra_control_LoadData(control_), KEVRA_E_TERMINATED);
    double w = 0, h = 0;
    EXPECT_EQ(kevra_control_get_size(control_, &w, &h), KEVRA_S_OK) << "readers still work";

    EXPECT_EQ(kevra_control_add_ref(control_), 2u);
    EXPECT_EQ(kevra_control_release(control_), 1u);
    EXPECT_EQ(kevra_control_release(control_), 0u);
    EXPECT_EQ(kevra_control_put_Brand(control_, "b"), KEVRA_E_POINTER) << "released";
    EXPECT_EQ(kevra_control_release(control_), 0u);
    control_ = nullptr;
    EXPECT_EQ(kevra_control_LoadData(nullptr), KEVRA_E_POINTER);
    EXPECT_EQ(DllCanUnloadNow(), KEVRA_S_OK);
}

// The host lets go of the control from inside its StartTask handler, which
// runs nested in the control's double-click handler. The instance must live
// until that handler has finished (AddressSanitizer catches the alternative).
struct ReleasingHost {
    kevra_control* control = nullptr;
    int events = 0;
    static void OnStart(void* user, int, const char*, const char*) {
        auto* host = static_cast<ReleasingHost*>(user);
        ++host->events;
        EXPECT_EQ(kevra_control_release(host->control), 0u);
        EXPECT_EQ(kevra_control_paint(host->control), KEVRA_E_UNEXPECTED)
            << "released: no more calls";
    }
};

TEST_F(ControlTest, ReleasingFromInsideStartTaskWaitsForTheDoubleClickToFinish) {
    CreateHeadless();
    ReleasingHost host{control_};
    ASSERT_EQ(kevra_control_on_StartTask(control_, ReleasingHost::OnStart, &host), KEVRA_S_OK);
    Load();
    kevra_control* control = control_;
    control_ = nullptr;  // the handler releases it
    ASSERT_EQ(kevra_control_open_group(control, "X1"), KEVRA_S_OK);
    ASSERT_EQ(kevra_control_click_item(control, "X2"), KEVRA_S_OK);
    ASSERT_EQ(kevra_control_select_node(control, "X3"), KEVRA_S_OK);
    EXPECT_EQ(kevra_control_dblclick(control), KEVRA_S_OK);
    EXPECT_EQ(host.events, 1);
    // The double-click finished its work after the event...
    EXPECT_EQ(recorder_.lines.back(), "pointer 0");
    // ...and the instance is gone now.
    EXPECT_EQ(kevra_control_paint(control), KEVRA_E_POINTER);
    EXPECT_EQ(DllCanUnloadNow(), KEVRA_S_OK);
}

// A host site that records what the library tells it.
struct HostSite {
    std::vector<std::string> calls;
    double width = 0, height = 0;
    kevra_frame frames[3] = {};
    std::string box_title, box_prompt;
    int box_icon = -1;

    kevra_site_callbacks Callbacks() {
        kevra_site_callbacks cb{};
        cb.struct_size = sizeof cb;
        cb.enabled_changed = [](void* u, int e) {
            Self(u)->calls.push_back("enabled " + std::to_string(e));
        };
        cb.size_changed = [](void* u, double w, double h) {
            Self(u)->width = w;
            Self(u)->height = h;
        };
        cb.child_changed = [](void* u, int child, const kevra_frame* f) {
            Self(u)->frames[child] = *f;
        };
        cb.label_caption_changed = [](void*, const char*) { return 3000.0; };
        cb.mouse_pointer = [](void* u, int p) {
            Self(u)->calls.push_back("pointer " + std::to_string(p));
        };
        cb.do_events = [](void* u) { Self(u)->calls.push_back("yield"); };
        cb.message_box = [](void* u, const char* prompt, int icon, int, const char* title) {
            Self(u)->box_prompt = prompt;
            Self(u)->box_title = title;
            Self(u)->box_icon = icon;
            return 1;
        };
        return cb;
    }
    static HostSite* Self(void* u) { return static_cast<HostSite*>(u); }
};

TEST_F(ControlTest, AHostSiteHearsTheLayoutAndTheBusyState) {
    HostSite host;
    const kevra_site_callbacks cb = host.Callbacks();
    ASSERT_EQ(kevra_control_create(&cb, &host, nullptr, &control_), KEVRA_S_OK)
        << kevra_last_error();

    // Sited and laid out: the control's one size, the label centred by the
    // host's own measure of its caption.
    EXPECT_EQ(host.width, 11070);
    EXPECT_EQ(host.height, 5295);
    EXPECT_EQ(host.frames[KEVRA_CHILD_LBLSTATUS].visible, 1);
    EXPECT_EQ(host.frames[KEVRA_CHILD_LBLSTATUS].width, 3000);
    EXPECT_EQ(host.frames[KEVRA_CHILD_LBLSTATUS].left, (11070 - 3000) / 2.0);
    EXPECT_EQ(host.frames[KEVRA_CHILD_SSTREETASKLIST].left, 3015);
    EXPECT_EQ(host.frames[KEVRA_CHILD_SSLISTTASKLIST].visible, 0);

    Load();
    EXPECT_EQ(host.calls, (std::vector<std::string>{"pointer 11", "enabled 0", "yield", "enabled 1",
                                                    "pointer 0"}));
    EXPECT_EQ(host.frames[KEVRA_CHILD_LBLSTATUS].visible, 0);
    EXPECT_EQ(host.frames[KEVRA_CHILD_SSLISTTASKLIST].visible, 1);
    EXPECT_EQ(host.frames[KEVRA_CHILD_SSTREETASKLIST].visible, 1);

    // The host's resize is answered with the control's own size.
    ASSERT_EQ(kevra_control_resize(control_, 100, 100), KEVRA_S_OK);
    EXPECT_EQ(host.width, 11070);
    EXPECT_EQ(host.height, 5295);
    EXPECT_EQ(kevra_control_resize(control_, NAN, 100), KEVRA_E_INVALIDARG);
    EXPECT_EQ(kevra_control_dump_json(control_, nullptr), KEVRA_E_POINTER);
    char* json = nullptr;
    EXPECT_EQ(kevra_control_dump_json(control_, &json), KEVRA_E_NOTIMPL);
}

TEST_F(ControlTest, TheControlsOwnFailuresGoToTheHostsMessageBoxNotToTheCaller) {
    HostSite host;
    const kevra_site_callbacks cb = host.Callbacks();
    ASSERT_EQ(kevra_control_create(&cb, &host, nullptr, &control_), KEVRA_S_OK);
    ASSERT_EQ(kevra_control_put_MachineName(control_, (root_ / "missing.json").c_str()),
              KEVRA_S_OK);
    EXPECT_EQ(kevra_control_LoadData(control_), KEVRA_S_OK);
    EXPECT_EQ(host.box_title, "KevraTaskList - LoadData");
    EXPECT_EQ(host.box_icon, KEVRA_MB_ICON_CRITICAL);
    EXPECT_NE(host.box_prompt.find("missing.json"), std::string::npos) << host.box_prompt;
}

}  // namespace
}  // namespace kevra::abi::test
