// The library's four entry points (register, unregister, class object,
// can-unload), the class factory, the server's object and lock counts, and
// the identifier, type information and toolbox functions of the C interface.
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>

#include "abi/abi_error.h"
#include "abi/component_store.h"
#include "abi/guid.h"
#include "abi/instance.h"
#include "abi/server.h"
#include "abi/toolbox_bitmap.h"
#include "control/dispatch.h"

#ifndef KEVRA_LIBRARY_VERSION
#error "KEVRA_LIBRARY_VERSION must name the library's version"
#endif
#ifndef KEVRA_LIBRARY_SONAME
#error "KEVRA_LIBRARY_SONAME must name the library's shared object name"
#endif

namespace kevra::abi {

namespace {

std::atomic<long> live_objects{0};
std::atomic<long> server_locks{0};

// Where this library was loaded from, as an absolute path. The versioned
// name (libKevraTaskList.so.1) is preferred to the file it points at, so an
// entry stays good when a compatible update replaces that file.
std::string LibraryPath() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&DllRegisterServer), &info) == 0 || !info.dli_fname)
        throw AbiError(KEVRA_SELFREG_E_CLASS, "cannot find the path this library was loaded from");
    char resolved[PATH_MAX];
    if (!realpath(info.dli_fname, resolved))
        throw AbiError(KEVRA_SELFREG_E_CLASS, std::string("cannot resolve the library path ") +
                                                  info.dli_fname + ": " + std::strerror(errno));
    std::string path = resolved;
    const std::string versioned = path.substr(0, path.rfind('/') + 1) + KEVRA_LIBRARY_SONAME;
    char versioned_target[PATH_MAX];
    if (versioned != path && realpath(versioned.c_str(), versioned_target) &&
        path == versioned_target)
        return versioned;
    return path;
}

ClassEntry ThisClass() {
    ClassEntry entry;
    entry.clsid = FormatGuid(ClassId());
    entry.prog_id = dispatch::kProgId;
    entry.class_name = "ctlKevraTaskList";
    entry.version = KEVRA_LIBRARY_VERSION;
    entry.type_library_id = FormatGuid(LibraryId());
    entry.type_info_json = dispatch::TypeInfoJson();
    entry.toolbox_bmp = ToolboxBitmap();
    return entry;
}

// The class factory: a reference-counted object with the generic factory
// interface. Each live factory counts as a server object, so the library is
// not reported unloadable while a host still holds one.
struct Factory {
    KevraClassFactory iface;
    std::atomic<unsigned> refs{1};
};

static_assert(std::is_standard_layout_v<Factory>, "the interface must start the factory");
Factory* FactoryOf(KevraClassFactory* self) { return reinterpret_cast<Factory*>(self); }

extern "C" {

static unsigned int FactoryAddRef(KevraClassFactory* self) {
    return self ? ++FactoryOf(self)->refs : 0;
}

static unsigned int FactoryRelease(KevraClassFactory* self) {
    if (!self) return 0;
    const unsigned refs = --FactoryOf(self)->refs;
    if (refs == 0) {
        delete FactoryOf(self);
        ObjectDestroyed();
    }
    return refs;
}

static KEVRA_HRESULT FactoryQueryInterface(KevraClassFactory* self, const KEVRA_GUID* riid,
                                           void** object) {
    return Guard([&]() -> KEVRA_HRESULT {
        if (!self || !riid || !object)
            throw AbiError(KEVRA_E_POINTER, "QueryInterface needs the factory, riid and object");
        *object = nullptr;
        if (!SameGuid(*riid, KEVRA_IID_IUnknown) && !SameGuid(*riid, KEVRA_IID_IClassFactory))
            throw AbiError(KEVRA_E_NOINTERFACE,
                           "the class factory has no interface " + FormatGuid(*riid));
        FactoryAddRef(self);
        *object = self;
        return KEVRA_S_OK;
    });
}

static KEVRA_HRESULT FactoryCreateInstance(KevraClassFactory* self, void* outer,
                                           const KEVRA_GUID* riid, void** object) {
    return Guard([&]() -> KEVRA_HRESULT {
        if (!self || !riid || !object)
            throw AbiError(KEVRA_E_POINTER, "CreateInstance needs the factory, riid and object");
        *object = nullptr;
        if (outer)
            throw AbiError(KEVRA_CLASS_E_NOAGGREGATION,
                           "ctlKevraTaskList cannot be aggregated: pass NULL as the outer object");
        if (!SameGuid(*riid, KEVRA_IID_IUnknown) && !SameGuid(*riid, DefaultInterfaceId()))
            throw AbiError(KEVRA_E_NOINTERFACE,
                           "ctlKevraTaskList has no interface " + FormatGuid(*riid) +
                               " (ask for KEVRA_IID_IUnknown or KEVRA_IID__ctlKevraTaskList)");
        *object = NewInstance();
        return KEVRA_S_OK;
    });
}

static KEVRA_HRESULT FactoryLockServer(KevraClassFactory* self, int lock) {
    return Guard([&]() -> KEVRA_HRESULT {
        if (!self) throw AbiError(KEVRA_E_POINTER, "LockServer needs the factory");
        if (!ServerLock(lock != 0))
            throw AbiError(KEVRA_E_UNEXPECTED,
                           "LockServer(0) without a matching LockServer(1): the server is not "
                           "locked");
        return KEVRA_S_OK;
    });
}

}  // extern "C"

const KevraClassFactoryVtbl kFactoryVtbl = {FactoryQueryInterface, FactoryAddRef, FactoryRelease,
                                            FactoryCreateInstance, FactoryLockServer};

}  // namespace

void ObjectCreated() noexcept { ++live_objects; }
void ObjectDestroyed() noexcept { --live_objects; }

bool ServerLock(bool lock) noexcept {
    if (lock) {
        ++server_locks;
        return true;
    }
    long held = server_locks.load();
    while (held > 0)
        if (server_locks.compare_exchange_weak(held, held - 1)) return true;
    return false;
}

bool CanUnload() noexcept { return live_objects.load() == 0 && server_locks.load() == 0; }

}  // namespace kevra::abi

using kevra::abi::AbiError;
using kevra::abi::Guard;

extern "C" {

const KEVRA_GUID KEVRA_CLSID_ctlKevraTaskList = kevra::abi::ClassId();
const KEVRA_GUID KEVRA_IID__ctlKevraTaskList = kevra::abi::DefaultInterfaceId();
const KEVRA_GUID KEVRA_IID___ctlKevraTaskList = kevra::abi::EventInterfaceId();
const KEVRA_GUID KEVRA_LIBID_KevraTaskList = kevra::abi::LibraryId();
const KEVRA_GUID KEVRA_IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const KEVRA_GUID KEVRA_IID_IClassFactory = {
    0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

KEVRA_API KEVRA_HRESULT DllRegisterServer(void) {
    return Guard([]() -> KEVRA_HRESULT {
        kevra::abi::ClassEntry entry = kevra::abi::ThisClass();
        entry.library_path = kevra::abi::LibraryPath();
        kevra::abi::WriteClassEntry(entry);
        return KEVRA_S_OK;
    });
}

KEVRA_API KEVRA_HRESULT DllUnregisterServer(void) {
    return Guard([]() -> KEVRA_HRESULT {
        kevra::abi::RemoveClassEntry(kevra::abi::FormatGuid(kevra::abi::ClassId()),
                                     kevra::dispatch::kProgId);
        return KEVRA_S_OK;
    });
}

KEVRA_API KEVRA_HRESULT DllGetClassObject(const KEVRA_GUID* clsid, const KEVRA_GUID* riid,
                                          void** object) {
    return Guard([&]() -> KEVRA_HRESULT {
        if (!clsid || !riid || !object)
            throw AbiError(KEVRA_E_POINTER, "DllGetClassObject needs clsid, riid and object");
        *object = nullptr;
        if (!kevra::abi::SameGuid(*clsid, kevra::abi::ClassId()))
            throw AbiError(KEVRA_CLASS_E_CLASSNOTAVAILABLE,
                           "this library serves the class " +
                               kevra::abi::FormatGuid(kevra::abi::ClassId()) +
                               " (ctlKevraTaskList), not " + kevra::abi::FormatGuid(*clsid));
        if (!kevra::abi::SameGuid(*riid, KEVRA_IID_IClassFactory) &&
            !kevra::abi::SameGuid(*riid, KEVRA_IID_IUnknown))
            throw AbiError(KEVRA_E_NOINTERFACE, "the class object has no interface " +
                                                    kevra::abi::FormatGuid(*riid) +
                                                    " (ask for KEVRA_IID_IClassFactory)");
        auto factory = std::make_unique<kevra::abi::Factory>();
        factory->iface.lpVtbl = &kevra::abi::kFactoryVtbl;
        kevra::abi::ObjectCreated();
        *object = &factory.release()->iface;
        return KEVRA_S_OK;
    });
}

KEVRA_API KEVRA_HRESULT DllCanUnloadNow(void) {
    return kevra::abi::CanUnload() ? KEVRA_S_OK : KEVRA_S_FALSE;
}

KEVRA_API KEVRA_HRESULT kevra_guid_from_string(const char* text, KEVRA_GUID* guid) {
    return Guard([&]() -> KEVRA_HRESULT {
        if (!text || !guid) throw AbiError(KEVRA_E_POINTER, "the text or guid pointer is NULL");
        if (!kevra::abi::ParseGuid(text, *guid))
            throw AbiError(KEVRA_CO_E_CLASSSTRING, "\"" + std::string(text) +
                                                       "\" is not an identifier of the form "
                                                       "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}");
        return KEVRA_S_OK;
    });
}

KEVRA_API KEVRA_HRESULT kevra_guid_to_string(const KEVRA_GUID* guid, char text[39]) {
    return Guard([&]() -> KEVRA_HRESULT {
        if (!text || !guid) throw AbiError(KEVRA_E_POINTER, "the text or guid pointer is NULL");
        const std::string formatted = kevra::abi::FormatGuid(*guid);
        std::memcpy(text, formatted.c_str(), formatted.size() + 1);
        return KEVRA_S_OK;
    });
}

KEVRA_API int kevra_guid_equal(const KEVRA_GUID* a, const KEVRA_GUID* b) {
    return a && b && kevra::abi::SameGuid(*a, *b);
}

KEVRA_API KEVRA_HRESULT kevra_clsid_from_progid(const char* progid, KEVRA_GUID* clsid) {
    return Guard([&]() -> KEVRA_HRESULT {
        if (!progid || !clsid)
            throw AbiError(KEVRA_E_POINTER, "the ProgID or clsid pointer is NULL");
        kevra::abi::ParseGuid(kevra::abi::ClassIdOfProgId(progid), *clsid);
        return KEVRA_S_OK;
    });
}

KEVRA_API const char* kevra_type_info_json(void) {
    static const std::string json = kevra::dispatch::TypeInfoJson();
    return json.c_str();
}

KEVRA_API size_t kevra_toolbox_bitmap(const unsigned char** bmp) {
    const auto bytes = kevra::abi::ToolboxBitmap();
    if (bmp) *bmp = bytes.data();
    return bytes.size();
}

}  // extern "C"
