#!/usr/bin/env python3
"""A Python host of the task list control, through ctypes, on the headless site.

It loads libKevraTaskList, registers it, finds the class by its ProgID in the
per-user component registry, creates the control through the class factory,
loads a catalogue, plays a user through to a task launch and receives
StartTask, then releases everything and unregisters the library. The headless
site's lines (the ones kevra-host prints) are echoed with a "site:" prefix.

    python_host.py LIBRARY CATALOGUE.json

The registry lives under $XDG_DATA_HOME and the saved selection under
$XDG_CONFIG_HOME: point both at a scratch directory to leave your own
untouched. Exits with status 1, naming the reason, when a step fails.
"""
import ctypes
import sys
from ctypes import (CFUNCTYPE, POINTER, Structure, byref, c_char, c_char_p, c_int,
                    c_ubyte, c_uint, c_ushort, c_void_p)

S_OK = 0
S_FALSE = 1
REGDB_E_CLASSNOTREG = 0x80040154
DISPATCH_PROPERTYPUT = 4
VT_STRING = 8
PROGID = b"KevraTaskList.ctlKevraTaskList"


class GUID(Structure):
    _fields_ = [("Data1", c_uint), ("Data2", c_ushort), ("Data3", c_ushort),
                ("Data4", c_ubyte * 8)]


class Variant(Structure):
    _fields_ = [("type", c_int), ("int_value", c_int), ("string_value", c_char_p)]


HRESULT = c_int
LINE_FN = CFUNCTYPE(None, c_void_p, c_char_p)
START_TASK_FN = CFUNCTYPE(None, c_void_p, c_int, c_char_p, c_char_p)


class ClassFactoryVtbl(Structure):
    _fields_ = [
        ("QueryInterface", CFUNCTYPE(HRESULT, c_void_p, POINTER(GUID), POINTER(c_void_p))),
        ("AddRef", CFUNCTYPE(c_uint, c_void_p)),
        ("Release", CFUNCTYPE(c_uint, c_void_p)),
        ("CreateInstance",
         CFUNCTYPE(HRESULT, c_void_p, c_void_p, POINTER(GUID), POINTER(c_void_p))),
        ("LockServer", CFUNCTYPE(HRESULT, c_void_p, c_int)),
    ]


class ClassFactory(Structure):
    _fields_ = [("lpVtbl", POINTER(ClassFactoryVtbl))]


class HostError(Exception):
    pass


def bind(lib):
    """Declares the C signatures this host uses."""
    signatures = {
        "DllRegisterServer": (HRESULT, []),
        "DllUnregisterServer": (HRESULT, []),
        "DllGetClassObject": (HRESULT, [POINTER(GUID), POINTER(GUID), POINTER(c_void_p)]),
        "DllCanUnloadNow": (HRESULT, []),
        "kevra_last_error": (c_char_p, []),
        "kevra_clsid_from_progid": (HRESULT, [c_char_p, POINTER(GUID)]),
        "kevra_guid_to_string": (HRESULT, [POINTER(GUID), c_char * 39]),
        "kevra_control_site_headless": (HRESULT, [c_void_p, LINE_FN, c_void_p]),
        "kevra_control_on_StartTask": (HRESULT, [c_void_p, START_TASK_FN, c_void_p]),
        "kevra_control_put_MachineName": (HRESULT, [c_void_p, c_char_p]),
        "kevra_control_put_UserNumber": (HRESULT, [c_void_p, c_int]),
        "kevra_control_put_AppId": (HRESULT, [c_void_p, c_int]),
        "kevra_dispatch_get_id_of_name": (HRESULT, [c_char_p, POINTER(c_int)]),
        "kevra_control_invoke": (HRESULT, [c_void_p, c_int, c_int, POINTER(Variant), c_uint]),
        "kevra_control_LoadData": (HRESULT, [c_void_p]),
        "kevra_control_paint": (HRESULT, [c_void_p]),
        "kevra_control_open_group": (HRESULT, [c_void_p, c_char_p]),
        "kevra_control_click_item": (HRESULT, [c_void_p, c_char_p]),
        "kevra_control_select_node": (HRESULT, [c_void_p, c_char_p]),
        "kevra_control_dblclick": (HRESULT, [c_void_p]),
        "kevra_control_release": (c_uint, [c_void_p]),
    }
    for name, (restype, argtypes) in signatures.items():
        function = getattr(lib, name)
        function.restype = restype
        function.argtypes = argtypes


def check(lib, hr, what):
    if hr < 0:
        raise HostError("%s failed (0x%08X): %s"
                        % (what, hr & 0xFFFFFFFF, lib.kevra_last_error().decode()))


def main(argv):
    if len(argv) != 3:
        print("usage: python_host.py LIBRARY CATALOGUE.json", file=sys.stderr)
        return 2
    lib = ctypes.CDLL(argv[1])
    bind(lib)

    # 1. Register the library for this user.
    check(lib, lib.DllRegisterServer(), "DllRegisterServer")
    print("registered")

    # 2. Find the class by its ProgID, as any host of the component would.
    clsid = GUID()
    check(lib, lib.kevra_clsid_from_progid(PROGID, byref(clsid)), "kevra_clsid_from_progid")
    text = (c_char * 39)()
    check(lib, lib.kevra_guid_to_string(byref(clsid), text), "kevra_guid_to_string")
    print("class %s: %s" % (PROGID.decode(), text.value.decode()))

    # 3. The class factory makes an instance, which the host sites on the
    #    headless site.
    factory_pointer = c_void_p()
    check(lib, lib.DllGetClassObject(byref(clsid),
                                     GUID.in_dll(lib, "KEVRA_IID_IClassFactory"),
                                     byref(factory_pointer)), "DllGetClassObject")
    factory = ctypes.cast(factory_pointer, POINTER(ClassFactory))
    vtbl = factory.contents.lpVtbl.contents
    control = c_void_p()
    check(lib, vtbl.CreateInstance(factory_pointer, None,
                                   GUID.in_dll(lib, "KEVRA_IID_IUnknown"), byref(control)),
          "CreateInstance")
    vtbl.Release(factory_pointer)

    # The callbacks must outlive the control: keep them referenced.
    on_line = LINE_FN(lambda user, line: print("site:", line.decode()))
    started = []
    on_start_task = START_TASK_FN(
        lambda user, task_id, url, parms: started.append((task_id, url.decode(), parms.decode())))
    check(lib, lib.kevra_control_site_headless(control, on_line, None), "siting")
    check(lib, lib.kevra_control_on_StartTask(control, on_start_task, None), "StartTask handler")
    print("created and sited")

    # 4. The context, typed and through the dispatch interface by name.
    check(lib, lib.kevra_control_put_MachineName(control, argv[2].encode()), "MachineName")
    check(lib, lib.kevra_control_put_UserNumber(control, 42), "UserNumber")
    check(lib, lib.kevra_control_put_AppId(control, 1), "AppId")
    dispid = c_int()
    check(lib, lib.kevra_dispatch_get_id_of_name(b"Brand", byref(dispid)), "Brand's dispatch id")
    value = Variant(VT_STRING, 0, b"Example")
    check(lib, lib.kevra_control_invoke(control, dispid, DISPATCH_PROPERTYPUT, byref(value), 1),
          "Brand")

    # 5. Load, and let the first paint restore the saved selection.
    check(lib, lib.kevra_control_LoadData(control), "LoadData")
    check(lib, lib.kevra_control_paint(control), "paint")

    # 6. The user: open a group, click a list item, pick a task, double-click.
    check(lib, lib.kevra_control_open_group(control, b"X7"), "open group X7")
    check(lib, lib.kevra_control_click_item(control, b"X8"), "click item X8")
    check(lib, lib.kevra_control_select_node(control, b"X9"), "select node X9")
    check(lib, lib.kevra_control_dblclick(control), "double-click")
    if started != [(9, "app://audit/run", "date=today")]:
        raise HostError("StartTask was not raised once for task 9: %r" % (started,))
    print("StartTask received: %r" % (started[0],))

    # 7. Release: with nothing outstanding the library may be unloaded.
    lib.kevra_control_release(control)
    print("can unload:", "yes" if lib.DllCanUnloadNow() == S_OK else "no")

    # 8. Unregister: the ProgID is gone again.
    check(lib, lib.DllUnregisterServer(), "DllUnregisterServer")
    hr = lib.kevra_clsid_from_progid(PROGID, byref(clsid)) & 0xFFFFFFFF
    print("unregistered:", "yes" if hr == REGDB_E_CLASSNOTREG else "no")
    return 0 if hr == REGDB_E_CLASSNOTREG else 1


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv))
    except HostError as error:
        print("python-host:", error, file=sys.stderr)
        sys.exit(1)
