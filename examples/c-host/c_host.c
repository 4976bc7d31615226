/*
 * A C host of the task list control, on a site of its own callbacks.
 *
 * It registers the component library, finds the class by its ProgID in the
 * per-user component registry, creates the control through the class
 * factory, loads a catalogue, plays a user through to a task launch and
 * receives StartTask, then releases everything and unregisters the library.
 * Each step prints one line; any failure prints the library's reason and
 * ends the program with status 1.
 *
 *     c-host CATALOGUE.json
 *
 * The registry lives under $XDG_DATA_HOME and the saved selection under
 * $XDG_CONFIG_HOME: point both at a scratch directory to leave your own
 * untouched.
 */
#include <stdio.h>
#include <string.h>

#include "kevra/abi/kevra_tasklist.h"

/* What the host's callbacks saw. */
struct host_state {
    int started;
    int task_id;
    char url[256];
    char parms[256];
    int boxes;
};

static int check(KEVRA_HRESULT hr, const char* what) {
    if (KEVRA_SUCCEEDED(hr)) return 1;
    fprintf(stderr, "c-host: %s failed (0x%08X): %s\n", what, (unsigned)hr, kevra_last_error());
    return 0;
}

#define CHECK(call)                          \
    do {                                     \
        if (!check((call), #call)) return 1; \
    } while (0)

static void on_enabled(void* user, int enabled) {
    (void)user;
    printf("site: enabled %d\n", enabled);
}

static void on_pointer(void* user, int pointer) {
    (void)user;
    printf("site: pointer %d\n", pointer);
}

static void on_do_events(void* user) {
    (void)user;
    printf("site: yield\n");
}

static int on_message_box(void* user, const char* prompt, int icon, int buttons,
                          const char* title) {
    struct host_state* state = (struct host_state*)user;
    state->boxes++;
    printf("site: message box (icon %d, buttons %d) %s: %s\n", icon, buttons, title, prompt);
    return 1; /* OK */
}

static void on_start_task(void* user, int task_id, const char* url, const char* parms) {
    struct host_state* state = (struct host_state*)user;
    state->started++;
    state->task_id = task_id;
    strncpy(state->url, url, sizeof state->url - 1);
    strncpy(state->parms, parms, sizeof state->parms - 1);
    printf("event: StartTask %d \"%s\" \"%s\"\n", task_id, url, parms);
}

/* The steps below print their lines and return 0, or say what failed and
 * return 1, the program's status (CHECK returns it). */

/* 1 to 3: an instance of the control, made as any host of the component
 * makes one. */
static int create_control(kevra_control** control) {
    KEVRA_GUID clsid;
    char clsid_text[39];
    KevraClassFactory* factory = NULL;
    void* object = NULL;

    /* 1. Register the library for this user. */
    CHECK(DllRegisterServer());
    printf("registered\n");

    /* 2. Find the class by its ProgID, as any host of the component would. */
    CHECK(kevra_clsid_from_progid(KEVRA_PROGID, &clsid));
    CHECK(kevra_guid_to_string(&clsid, clsid_text));
    printf("class %s: %s\n", KEVRA_PROGID, clsid_text);

    /* 3. The class factory makes an instance; the host then sites it. */
    CHECK(DllGetClassObject(&clsid, &KEVRA_IID_IClassFactory, (void**)&factory));
    CHECK(factory->lpVtbl->CreateInstance(factory, NULL, &KEVRA_IID_IUnknown, &object));
    factory->lpVtbl->Release(factory);
    *control = (kevra_control*)object;
    return 0;
}

static void set_site_callbacks(kevra_site_callbacks* site) {
    memset(site, 0, sizeof *site);
    site->struct_size = sizeof *site;
    site->enabled_changed = on_enabled;
    site->mouse_pointer = on_pointer;
    site->do_events = on_do_events;
    site->message_box = on_message_box;
}

/* 4. The context, through the typed calls and through the dispatch
 *    interface by name. */
static int set_context(kevra_control* control, const char* catalogue) {
    int dispid = 0;
    kevra_variant value;
    KEVRA_HRESULT hr;

    CHECK(kevra_control_put_MachineName(control, catalogue));
    CHECK(kevra_control_put_Brand(control, "Example"));
    CHECK(kevra_control_put_FacilityId(control, "HQ"));
    CHECK(kevra_control_put_AppId(control, 1));
    CHECK(kevra_dispatch_get_id_of_name("UserNumber", &dispid));
    value.type = KEVRA_VT_I4;
    value.int_value = 42;
    value.string_value = NULL;
    CHECK(kevra_control_invoke(control, dispid, KEVRA_DISPATCH_PROPERTYPUT, &value, 1));
    /* The properties are write-only: a read is rejected. */
    hr = kevra_control_invoke(control, dispid, KEVRA_DISPATCH_PROPERTYGET, NULL, 0);
    printf("reading UserNumber: 0x%08X (%s)\n", (unsigned)hr, kevra_last_error());
    return 0;
}

/* 5. Load, and let the first paint restore the saved selection. */
static int load(kevra_control* control) {
    CHECK(kevra_control_LoadData(control));
    CHECK(kevra_control_paint(control));
    printf("loaded\n");
    return 0;
}

/* 6. The user: open a group, click a list item, pick a task, double-click. */
static int start_task(kevra_control* control, const struct host_state* state) {
    CHECK(kevra_control_open_group(control, "X1"));
    CHECK(kevra_control_click_item(control, "X2"));
    CHECK(kevra_control_select_node(control, "X3"));
    CHECK(kevra_control_dblclick(control));
    if (state->started != 1 || state->task_id != 3 ||
        strcmp(state->url, "app://reservations/new")) {
        fprintf(stderr, "c-host: StartTask was not raised for task 3\n");
        return 1;
    }
    if (state->boxes != 0) {
        fprintf(stderr, "c-host: the control reported %d error(s)\n", state->boxes);
        return 1;
    }
    return 0;
}

/* 7 and 8: the instance released, the library unregistered. */
static int release_and_unregister(kevra_control* control) {
    KEVRA_GUID clsid;
    KEVRA_HRESULT hr;

    /* 7. Release: with nothing outstanding the library may be unloaded. */
    kevra_control_release(control);
    printf("can unload: %s\n", DllCanUnloadNow() == KEVRA_S_OK ? "yes" : "no");

    /* 8. Unregister: the ProgID is gone again. */
    CHECK(DllUnregisterServer());
    hr = kevra_clsid_from_progid(KEVRA_PROGID, &clsid);
    printf("unregistered: %s\n", hr == KEVRA_REGDB_E_CLASSNOTREG ? "yes" : "no");
    return hr == KEVRA_REGDB_E_CLASSNOTREG ? 0 : 1;
}

int main(int argc, char** argv) {
    struct host_state state;
    kevra_site_callbacks site;
    kevra_control* control = NULL;

    if (argc != 2) {
        fprintf(stderr, "usage: c-host CATALOGUE.json\n");
        return 2;
    }
    memset(&state, 0, sizeof state);

    if (create_control(&control)) return 1;
    /* 3, continued: the site, and the handler of the one event. */
    set_site_callbacks(&site);
    CHECK(kevra_control_site(control, &site, &state));
    CHECK(kevra_control_on_StartTask(control, on_start_task, &state));
    printf("created and sited\n");

    if (set_context(control, argv[1]) || load(control) || start_task(control, &state)) return 1;
    return release_and_unregister(control);
}
