/*
 * kevra_tasklist.h: the C interface of libKevraTaskList, the component library
 * that holds the task list control ctlKevraTaskList.
 *
 * A host loads the library, registers it once per user (DllRegisterServer),
 * obtains the class factory (DllGetClassObject), creates an instance, sites
 * it (on callbacks of its own or on the library's headless site), sets the
 * five context properties, calls LoadData and receives StartTask when the
 * user double-clicks a task. docs/embedding.md walks through it.
 *
 * Rules that hold for every function here:
 * - No C++ exception ever crosses this interface. Every failure is a result
 *   code (KEVRA_HRESULT, negative on failure); kevra_last_error() then gives
 *   a sentence that says what went wrong and what to change.
 * - An instance belongs to the thread that created it (apartment threading):
 *   calls from another thread are rejected with KEVRA_E_WRONG_THREAD.
 * - Strings are UTF-8 and NUL-terminated; strings handed to callbacks are
 *   valid only during the callback.
 * - The control's own failures (a catalogue that cannot be loaded, a task
 *   without URL) are reported to the user in a message box, as the control
 *   always does, and the call still succeeds.
 *
 * The header is C89 and assumes a 32-bit int, as every Linux ABI has.
 */
#ifndef KEVRA_TASKLIST_H
#define KEVRA_TASKLIST_H

#include <stddef.h>

#if defined(__GNUC__)
#define KEVRA_API __attribute__((visibility("default")))
#else
#define KEVRA_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Result codes ------------------------------------------------------ */

/* A 32-bit status: 0 or positive is success, negative is failure. */
typedef int KEVRA_HRESULT;

#define KEVRA_SUCCEEDED(hr) ((KEVRA_HRESULT)(hr) >= 0)
#define KEVRA_FAILED(hr) ((KEVRA_HRESULT)(hr) < 0)

#define KEVRA_S_OK ((KEVRA_HRESULT)0)
#define KEVRA_S_FALSE ((KEVRA_HRESULT)1)
#define KEVRA_E_NOTIMPL ((KEVRA_HRESULT)0x80004001)
#define KEVRA_E_NOINTERFACE ((KEVRA_HRESULT)0x80004002)
#define KEVRA_E_POINTER ((KEVRA_HRESULT)0x80004003)
#define KEVRA_E_FAIL ((KEVRA_HRESULT)0x80004005)
#define KEVRA_E_UNEXPECTED ((KEVRA_HRESULT)0x8000FFFF)
#define KEVRA_E_ACCESSDENIED ((KEVRA_HRESULT)0x80070005)
#define KEVRA_E_OUTOFMEMORY ((KEVRA_HRESULT)0x8007000E)
#define KEVRA_E_INVALIDARG ((KEVRA_HRESULT)0x80070057)
#define KEVRA_E_WRONG_THREAD ((KEVRA_HRESULT)0x8001010E)
/* A caller's buffer is too small for the text asked for. */
#define KEVRA_E_NOT_SUFFICIENT_BUFFER ((KEVRA_HRESULT)0x8007007A)
/* Dispatch interface. */
#define KEVRA_DISP_E_MEMBERNOTFOUND ((KEVRA_HRESULT)0x80020003)
#define KEVRA_DISP_E_TYPEMISMATCH ((KEVRA_HRESULT)0x80020005)
#define KEVRA_DISP_E_UNKNOWNNAME ((KEVRA_HRESULT)0x80020006)
#define KEVRA_DISP_E_OVERFLOW ((KEVRA_HRESULT)0x8002000A)
#define KEVRA_DISP_E_BADPARAMCOUNT ((KEVRA_HRESULT)0x8002000E)
/* Class factory and component registry. */
#define KEVRA_CLASS_E_NOAGGREGATION ((KEVRA_HRESULT)0x80040110)
#define KEVRA_CLASS_E_CLASSNOTAVAILABLE ((KEVRA_HRESULT)0x80040111)
#define KEVRA_REGDB_E_READREGDB ((KEVRA_HRESULT)0x80040150)
#define KEVRA_REGDB_E_CLASSNOTREG ((KEVRA_HRESULT)0x80040154)
#define KEVRA_CO_E_CLASSSTRING ((KEVRA_HRESULT)0x800401F3)
#define KEVRA_SELFREG_E_CLASS ((KEVRA_HRESULT)0x80040201)
/* The library's own: a user action the control's surface cannot take now
 * (disabled, hidden, or no such key where the user could reach it), a call
 * that needs a sited instance, a second siting, and a call after the
 * terminate notification. */
#define KEVRA_E_REFUSED ((KEVRA_HRESULT)0x80040A01)
#define KEVRA_E_NOT_SITED ((KEVRA_HRESULT)0x80040A02)
#define KEVRA_E_ALREADY_SITED ((KEVRA_HRESULT)0x80040A03)
#define KEVRA_E_TERMINATED ((KEVRA_HRESULT)0x80040A04)

/* The reason for the last failure on the calling thread, as one sentence;
 * "" after a call that succeeded. Valid until the next call on the thread. */
KEVRA_API const char* kevra_last_error(void);

/* ---- Identifiers ------------------------------------------------------- */

typedef struct KEVRA_GUID {
    unsigned int Data1;
    unsigned short Data2;
    unsigned short Data3;
    unsigned char Data4[8];
} KEVRA_GUID;

/* The control class, its default (dispatch) interface, its outgoing
 * interface and its type library. */
KEVRA_API extern const KEVRA_GUID KEVRA_CLSID_ctlKevraTaskList;
KEVRA_API extern const KEVRA_GUID KEVRA_IID__ctlKevraTaskList;
KEVRA_API extern const KEVRA_GUID KEVRA_IID___ctlKevraTaskList;
KEVRA_API extern const KEVRA_GUID KEVRA_LIBID_KevraTaskList;
/* The two generic interfaces of the component model: the base interface
 * and the class factory. */
KEVRA_API extern const KEVRA_GUID KEVRA_IID_IUnknown;
KEVRA_API extern const KEVRA_GUID KEVRA_IID_IClassFactory;

#define KEVRA_PROGID "KevraTaskList.ctlKevraTaskList"

/* "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" and back. `text` needs 39 bytes. */
KEVRA_API KEVRA_HRESULT kevra_guid_from_string(const char* text, KEVRA_GUID* guid);
KEVRA_API KEVRA_HRESULT kevra_guid_to_string(const KEVRA_GUID* guid, char text[39]);
KEVRA_API int kevra_guid_equal(const KEVRA_GUID* a, const KEVRA_GUID* b);

/* The class id registered under a ProgID in the per-user component registry
 * ($XDG_DATA_HOME/kevra/components/progids/PROGID). Fails with
 * KEVRA_REGDB_E_CLASSNOTREG when nothing is registered under it. */
KEVRA_API KEVRA_HRESULT kevra_clsid_from_progid(const char* progid, KEVRA_GUID* clsid);

/* ---- Entry points ------------------------------------------------------ */

/* Writes the class entry into the per-user component registry:
 * $XDG_DATA_HOME/kevra/components/classes/{CLSID}/ with class.json,
 * typeinfo.json and toolbox.bmp, and progids/KevraTaskList.ctlKevraTaskList.
 * Registering again rewrites the entry (for example with a new library
 * path). Fails with KEVRA_SELFREG_E_CLASS when the registry cannot be
 * written; nothing half-written is left behind. */
KEVRA_API KEVRA_HRESULT DllRegisterServer(void);

/* Removes what DllRegisterServer wrote, and only that: the entry's files,
 * the ProgID file while it still names this class, and the directories that
 * registering created once they are empty. Succeeds when nothing is
 * registered. */
KEVRA_API KEVRA_HRESULT DllUnregisterServer(void);

/* Hands out the class factory of `clsid` (KEVRA_CLSID_ctlKevraTaskList) as
 * the interface `riid` (KEVRA_IID_IClassFactory or KEVRA_IID_IUnknown). The
 * caller releases it. */
KEVRA_API KEVRA_HRESULT DllGetClassObject(const KEVRA_GUID* clsid, const KEVRA_GUID* riid,
                                          void** object);

/* KEVRA_S_OK when no instance, class factory or server lock is outstanding,
 * so the library may be unloaded; KEVRA_S_FALSE otherwise. */
KEVRA_API KEVRA_HRESULT DllCanUnloadNow(void);

/* ---- Class factory ----------------------------------------------------- */

typedef struct kevra_control kevra_control;
typedef struct KevraClassFactory KevraClassFactory;

typedef struct KevraClassFactoryVtbl {
    KEVRA_HRESULT (*QueryInterface)(KevraClassFactory* self, const KEVRA_GUID* riid, void** object);
    unsigned int (*AddRef)(KevraClassFactory* self);
    unsigned int (*Release)(KevraClassFactory* self);
    /* Creates an unsited instance: `outer` must be NULL (no aggregation),
     * `riid` KEVRA_IID_IUnknown or KEVRA_IID__ctlKevraTaskList. `*object`
     * receives a kevra_control*, to be sited with kevra_control_site or
     * kevra_control_site_headless and released with kevra_control_release. */
    /* clang-format off */
    KEVRA_HRESULT (*CreateInstance)(KevraClassFactory* self, void* outer,
                                    const KEVRA_GUID* riid, void** object);
    /* clang-format on */
    /* Keeps the library loaded (lock non-zero) or lets it go (zero). */
    KEVRA_HRESULT (*LockServer)(KevraClassFactory* self, int lock);
} KevraClassFactoryVtbl;

struct KevraClassFactory {
    const KevraClassFactoryVtbl* lpVtbl;
};

/* ---- Sites ------------------------------------------------------------- */

/* The control's children, as the site knows them. */
#define KEVRA_CHILD_LBLSTATUS 0
#define KEVRA_CHILD_SSLISTTASKLIST 1
#define KEVRA_CHILD_SSTREETASKLIST 2

/* A child's place in the control's inner area, in twips (1/1440 inch). */
typedef struct kevra_frame {
    int visible;
    double left, top, width, height;
} kevra_frame;

/* Message box icons and buttons. */
#define KEVRA_MB_ICON_NONE 0
#define KEVRA_MB_ICON_CRITICAL 1
#define KEVRA_MB_ICON_QUESTION 2
#define KEVRA_MB_ICON_WARNING 3
#define KEVRA_MB_ICON_INFORMATION 4
#define KEVRA_MB_OK 0
#define KEVRA_MB_OKCANCEL 1
#define KEVRA_MB_ABORTRETRYIGNORE 2
#define KEVRA_MB_YESNOCANCEL 3
#define KEVRA_MB_YESNO 4
#define KEVRA_MB_RETRYCANCEL 5

/* A site on the host's own callbacks. The library keeps the container's
 * state (sizes, borders, the children's frames, the enabled flag) and tells
 * the host of each change; the host draws. Every callback may be NULL. */
typedef struct kevra_site_callbacks {
    /* sizeof(kevra_site_callbacks): lets later versions add members. */
    unsigned int struct_size;
    /* The control enabled or disabled its surface. */
    void (*enabled_changed)(void* user, int enabled);
    /* The control set its outer size (twips). */
    void (*size_changed)(void* user, double width, double height);
    /* A child was shown, hidden or moved. */
    void (*child_changed)(void* user, int child, const kevra_frame* frame);
    /* The status label's caption changed; return its width in twips, or a
     * negative number to let the library measure it. */
    double (*label_caption_changed)(void* user, const char* caption);
    /* The screen-wide mouse pointer: KEVRA_POINTER_HOURGLASS (11) or
     * KEVRA_POINTER_DEFAULT (0). */
    void (*mouse_pointer)(void* user, int pointer);
    /* One turn of the host's message loop. */
    void (*do_events)(void* user);
    /* A modal message box; return the button pressed (1 = OK). NULL answers
     * OK at once. */
    int (*message_box)(void* user, const char* prompt, int icon, int buttons, const char* title);
} kevra_site_callbacks;

/* Receives each line the headless site records (the lines of kevra-host:
 * "enabled false", "pointer 11", "msgbox ...", "event StartTask ...", ...). */
typedef void (*kevra_line_fn)(void* user, const char* line);

/* ---- Instances --------------------------------------------------------- */

/* Creates an instance sited on `site` (callbacks of the host; NULL for the
 * headless site, whose lines go nowhere). Registers the task service in the
 * process on first use. `settings_directory` is where the per-user settings
 * store keeps its files; NULL means $XDG_CONFIG_HOME/kevra. The instance is
 * sized and laid out before this returns. */
KEVRA_API KEVRA_HRESULT kevra_control_create(const kevra_site_callbacks* site, void* site_user,
                                             const char* settings_directory,
                                             kevra_control** control);

/* Creates an instance on the headless site; `on_line` (may be NULL) receives
 * the site's lines. */
KEVRA_API KEVRA_HRESULT kevra_control_create_headless(kevra_line_fn on_line, void* line_user,
                                                      const char* settings_directory,
                                                      kevra_control** control);

/* Sites an instance made by the class factory, once. */
KEVRA_API KEVRA_HRESULT kevra_control_site(kevra_control* control, const kevra_site_callbacks* site,
                                           void* site_user);
KEVRA_API KEVRA_HRESULT kevra_control_site_headless(kevra_control* control, kevra_line_fn on_line,
                                                    void* line_user);

/* Where the settings store keeps its files from now on (NULL: the default). */
KEVRA_API KEVRA_HRESULT kevra_control_set_settings_directory(kevra_control* control,
                                                             const char* directory);

/* Reference counting. The last release sends the terminate notification if
 * the host has not, and frees the instance; released from inside one of its
 * own callbacks, the instance is freed when that call has returned. Both
 * return the new count (0 for a NULL or foreign-thread call). */
KEVRA_API unsigned int kevra_control_add_ref(kevra_control* control);
KEVRA_API unsigned int kevra_control_release(kevra_control* control);

/* ---- Properties and methods -------------------------------------------- */

/* The write-only properties; they take effect at the next LoadData. */
KEVRA_API KEVRA_HRESULT kevra_control_put_MachineName(kevra_control* control, const char* value);
KEVRA_API KEVRA_HRESULT kevra_control_put_UserNumber(kevra_control* control, int value);
KEVRA_API KEVRA_HRESULT kevra_control_put_Brand(kevra_control* control, const char* value);
KEVRA_API KEVRA_HRESULT kevra_control_put_FacilityId(kevra_control* control, const char* value);
KEVRA_API KEVRA_HRESULT kevra_control_put_AppId(kevra_control* control, int value);
/* The methods. The control reports its own failures to the user. */
KEVRA_API KEVRA_HRESULT kevra_control_LoadData(kevra_control* control);
KEVRA_API KEVRA_HRESULT kevra_control_SelectTask(kevra_control* control);

/* ---- Dispatch interface ------------------------------------------------ */

/* Dispatch ids of the default interface _ctlKevraTaskList and of the
 * outgoing interface __ctlKevraTaskList. */
#define KEVRA_DISPID_MachineName 0x68030027
#define KEVRA_DISPID_UserNumber 0x68030026
#define KEVRA_DISPID_Brand 0x68030025
#define KEVRA_DISPID_FacilityId 0x68030024
#define KEVRA_DISPID_AppId 0x68030023
#define KEVRA_DISPID_LoadData 0x60030028
#define KEVRA_DISPID_SelectTask 0x60030032
#define KEVRA_DISPID_StartTask 1

/* Mouse pointers the control asks for (the mouse_pointer callback). */
#define KEVRA_POINTER_DEFAULT 0
#define KEVRA_POINTER_HOURGLASS 11

/* What an invoke asks of a member. */
#define KEVRA_DISPATCH_METHOD 1
#define KEVRA_DISPATCH_PROPERTYGET 2
#define KEVRA_DISPATCH_PROPERTYPUT 4

/* Argument and event values. */
#define KEVRA_VT_EMPTY 0
#define KEVRA_VT_NULL 1
#define KEVRA_VT_I4 3
#define KEVRA_VT_STRING 8

typedef struct kevra_variant {
    int type;                 /* KEVRA_VT_... */
    int int_value;            /* KEVRA_VT_I4 */
    const char* string_value; /* KEVRA_VT_STRING (UTF-8) */
} kevra_variant;

/* The dispatch id of a member name (letter case ignored), or
 * KEVRA_DISP_E_UNKNOWNNAME. */
KEVRA_API KEVRA_HRESULT kevra_dispatch_get_id_of_name(const char* name, int* dispid);

/* Calls a member by dispatch id. A property takes one argument with
 * KEVRA_DISPATCH_PROPERTYPUT; a read is rejected with
 * KEVRA_DISP_E_MEMBERNOTFOUND, as is an unknown id. Values are converted as
 * a dispatch interface converts them (text holding a decimal number becomes
 * an integer; an integer becomes its decimal text). */
KEVRA_API KEVRA_HRESULT kevra_control_invoke(kevra_control* control, int dispid, int flags,
                                             const kevra_variant* args, unsigned int arg_count);

/* The published type information as one JSON object (static storage). */
KEVRA_API const char* kevra_type_info_json(void);

/* ---- Events ------------------------------------------------------------ */

/* StartTask(astrTaskId, astrTaskURL, astrTaskParms). Runs nested inside the
 * user's double-click, while the control is disabled. */
typedef void (*kevra_start_task_fn)(void* user, int astrTaskId, const char* astrTaskURL,
                                    const char* astrTaskParms);
KEVRA_API KEVRA_HRESULT kevra_control_on_StartTask(kevra_control* control,
                                                   kevra_start_task_fn handler, void* user);

/* The outgoing interface by dispatch id: every event, with its arguments in
 * order (StartTask: id 1; KEVRA_VT_I4, KEVRA_VT_STRING, KEVRA_VT_STRING).
 * One sink per instance; NULL removes it. */
typedef void (*kevra_event_fn)(void* user, int dispid, const kevra_variant* args,
                               unsigned int arg_count);
KEVRA_API KEVRA_HRESULT kevra_control_advise(kevra_control* control, kevra_event_fn sink,
                                             void* user);

/* ---- Container notifications ------------------------------------------- */

/* The host sets the control's outer size (twips); a resize notification
 * follows, and the control's layout pass replaces the size with its own. */
KEVRA_API KEVRA_HRESULT kevra_control_resize(kevra_control* control, double width, double height);
/* Border allowances (outer minus inner size, twips), used from the next
 * resize on. */
KEVRA_API KEVRA_HRESULT kevra_control_set_borders(kevra_control* control, double horizontal,
                                                  double vertical);
KEVRA_API KEVRA_HRESULT kevra_control_paint(kevra_control* control);
/* After it, only kevra_control_release and the readers are accepted. */
KEVRA_API KEVRA_HRESULT kevra_control_terminate(kevra_control* control);

/* ---- User actions ------------------------------------------------------ */

/* What the user does in the list bar and the tree. Each fails with
 * KEVRA_E_REFUSED, doing nothing, when the surface is disabled, the widget
 * hidden, or the key names nothing the user could reach (a group that does
 * not exist, an item outside the open group, a node not in the tree). */
KEVRA_API KEVRA_HRESULT kevra_control_open_group(kevra_control* control, const char* key);
KEVRA_API KEVRA_HRESULT kevra_control_click_item(kevra_control* control, const char* key);
KEVRA_API KEVRA_HRESULT kevra_control_select_node(kevra_control* control, const char* key);
KEVRA_API KEVRA_HRESULT kevra_control_dblclick(kevra_control* control);

/* ---- Readers ----------------------------------------------------------- */

KEVRA_API KEVRA_HRESULT kevra_control_get_frame(kevra_control* control, int child,
                                                kevra_frame* frame);
KEVRA_API KEVRA_HRESULT kevra_control_get_size(kevra_control* control, double* width,
                                               double* height);
/* The whole state as one line of JSON, as kevra-host's dump prints it
 * (headless site only). Free the text with kevra_free. */
KEVRA_API KEVRA_HRESULT kevra_control_dump_json(kevra_control* control, char** json);
KEVRA_API void kevra_free(void* memory);

/* ---- Finding tasks, favourites and history ----------------------------- */

/* A search over the loaded catalogue, showing an entry as the user would
 * reach it, and the user's favourites and launch history, as kevra-host's
 * find, show-task, pin, unpin, favourites and recent commands offer them
 * (docs/search.md says what matches and in which order). Every StartTask
 * the control raises is counted in the history.
 *
 * Before a successful LoadData, and after a failed one, a search finds
 * nothing and the lists are empty. Task ids are 32-bit, as StartTask's;
 * an entry whose id does not fit is left out of the results. */

/* Where an instance keeps favourites and history: files (the default), one
 * per user number and application in `directory`, NULL meaning
 * $XDG_STATE_HOME/kevra (~/.local/state/kevra) looked up at each use; or
 * memory, for the instance's life only (`directory` must be NULL). Takes
 * effect at the next read or write; what a memory store held is dropped
 * when the instance moves to another store. */
#define KEVRA_HISTORY_FILES 0
#define KEVRA_HISTORY_MEMORY 1
KEVRA_API KEVRA_HRESULT kevra_control_set_history_store(kevra_control* control, int store,
                                                        const char* directory);

/* What an entry is. */
#define KEVRA_ENTRY_GROUP 0 /* a list-bar group */
#define KEVRA_ENTRY_ITEM 1  /* a list item of a group */
#define KEVRA_ENTRY_TASK 2  /* a tree task that cannot be started */
#define KEVRA_ENTRY_LINK 3  /* a tree task that a double-click starts */

/* A list of entries: search results, favourites or recent tasks. It holds
 * copies and outlives the instance; free it with kevra_results_free. It
 * may be read from any thread. */
typedef struct kevra_results kevra_results;

typedef struct kevra_entry {
    /* sizeof(kevra_entry), set by the caller: lets later versions add
     * members. */
    unsigned int struct_size;
    int id;                  /* the task id */
    int kind;                /* KEVRA_ENTRY_... */
    int count;               /* launches (kevra_control_recent only), else 0 */
    unsigned int depth;      /* the number of captions in `path` */
    const char* const* path; /* captions, group first, as the list bar and
                                tree show them; valid until the list is
                                freed */
} kevra_entry;

/* The entries that match `text` (UTF-8), best first, at most `limit`. */
KEVRA_API KEVRA_HRESULT kevra_control_find(kevra_control* control, const char* text,
                                           unsigned int limit, kevra_results** results);
/* The pinned entries still in the loaded catalogue, in the order pinned. */
KEVRA_API KEVRA_HRESULT kevra_control_favourites(kevra_control* control, kevra_results** results);
/* The launched entries still in the loaded catalogue, most recent first,
 * at most `limit`, each with its count of launches. */
KEVRA_API KEVRA_HRESULT kevra_control_recent(kevra_control* control, unsigned int limit,
                                             kevra_results** results);
/* Both lists fail with KEVRA_E_FAIL when the history cannot be read (a
 * damaged file: kevra_last_error names it and its line; it is never
 * replaced). */

KEVRA_API KEVRA_HRESULT kevra_results_count(const kevra_results* results, unsigned int* count);
/* Entry `index` (from 0); KEVRA_E_INVALIDARG past the end. */
KEVRA_API KEVRA_HRESULT kevra_results_entry(const kevra_results* results, unsigned int index,
                                            kevra_entry* entry);
/* Entry `index`'s captions joined by `separator` (NULL: " > "), as UTF-8
 * into `buffer` of `size` bytes with the NUL. `*length` (may be NULL)
 * receives the length without the NUL. A NULL `buffer` with `size` 0 only
 * measures; a buffer too small fails with KEVRA_E_NOT_SUFFICIENT_BUFFER and
 * holds "". */
KEVRA_API KEVRA_HRESULT kevra_results_path_text(const kevra_results* results, unsigned int index,
                                                const char* separator, char* buffer, size_t size,
                                                size_t* length);
/* NULL is ignored. */
KEVRA_API void kevra_results_free(kevra_results* results);

/* Shows entry `id` as the user would reach it, through the same user
 * actions and events: a group is opened; a list item's group is opened and
 * the item clicked (the tree fills); a task's item too, then its node is
 * selected and its ancestors expanded. Fails with KEVRA_E_REFUSED, doing
 * nothing, when the user could not act (disabled, hidden) or `id` is no
 * entry of the loaded catalogue. */
KEVRA_API KEVRA_HRESULT kevra_control_show_task(kevra_control* control, int id);

/* Adds entry `id` to the favourites, or takes it off; twice changes
 * nothing. KEVRA_E_REFUSED when nothing is loaded or `id` is no entry;
 * KEVRA_E_FAIL when the history cannot be read or kept. */
KEVRA_API KEVRA_HRESULT kevra_control_pin(kevra_control* control, int id);
KEVRA_API KEVRA_HRESULT kevra_control_unpin(kevra_control* control, int id);

/* A launch the history could not keep (a double-click has no way to say
 * so; the launch is kept and written with the next change that can be):
 * KEVRA_S_OK and the sentence in `*message`, to be freed with kevra_free;
 * KEVRA_S_FALSE and NULL when there was none since the last call. */
KEVRA_API KEVRA_HRESULT kevra_control_take_history_error(kevra_control* control, char** message);

/* The 16 x 15, 16-colour toolbox image as a complete BMP file (static
 * storage); returns its size in bytes. */
KEVRA_API size_t kevra_toolbox_bitmap(const unsigned char** bmp);

#ifdef __cplusplus
}
#endif

#endif /* KEVRA_TASKLIST_H */
