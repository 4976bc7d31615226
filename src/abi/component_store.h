// The per-user component registry on disk, under
// $XDG_DATA_HOME/kevra/components/ (docs/embedding.md shows the layout):
//
//   classes/{CLSID}/class.json         what a host needs to load the class
//   classes/{CLSID}/typeinfo.json      the published type information
//   classes/{CLSID}/toolbox.bmp        the design tools' toolbox image
//   classes/{CLSID}/registration.json  the directories registering created
//   progids/PROGID                     the class id, one line
//
// Every file is replaced whole (written beside, then renamed over), so a
// reader sees an old entry or a new one, never a mixture. Unregistering
// removes those files and, once empty, the directories that registering
// created (registration.json remembers them across re-registrations), and
// nothing else.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace kevra::abi {

struct ClassEntry {
    std::string clsid;  // registry form, with braces
    std::string prog_id;
    std::string class_name;
    std::string version;
    std::string library_path;
    std::string type_library_id;
    std::string type_info_json;
    std::span<const uint8_t> toolbox_bmp;
};

// $XDG_DATA_HOME/kevra/components. XDG_DATA_HOME is used only when it is an
// absolute path; otherwise $HOME/.local/share, and without HOME the account's
// home directory. Throws AbiError(KEVRA_SELFREG_E_CLASS) when there is none.
std::string ComponentsDirectory();

// Throws AbiError(KEVRA_SELFREG_E_CLASS) naming the path and the reason when
// the registry cannot be written. A failed first registration leaves nothing.
void WriteClassEntry(const ClassEntry& entry);

// Throws AbiError(KEVRA_SELFREG_E_CLASS) when a file cannot be removed.
void RemoveClassEntry(const std::string& clsid, const std::string& prog_id);

// The class id registered under `prog_id`. Throws KEVRA_REGDB_E_CLASSNOTREG
// when none is, KEVRA_E_INVALIDARG for a ProgID that cannot name an entry,
// KEVRA_REGDB_E_READREGDB when the entry cannot be read.
std::string ClassIdOfProgId(const std::string& prog_id);

}  // namespace kevra::abi
