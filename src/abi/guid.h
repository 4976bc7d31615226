// Class and interface identifiers: the registry form
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" and the binary KEVRA_GUID.
#pragma once

#include <string>
#include <string_view>

#include "abi/kevra_tasklist.h"

namespace kevra::abi {

// False for text that is not exactly the registry form (hex digits in either
// letter case).
bool ParseGuid(std::string_view text, KEVRA_GUID& guid);
// Upper-case hex digits, with braces.
std::string FormatGuid(const KEVRA_GUID& guid);
bool SameGuid(const KEVRA_GUID& a, const KEVRA_GUID& b);

// The identifiers the control's type information publishes, as GUIDs.
const KEVRA_GUID& ClassId();
const KEVRA_GUID& DefaultInterfaceId();
const KEVRA_GUID& EventInterfaceId();
const KEVRA_GUID& LibraryId();

}  // namespace kevra::abi
