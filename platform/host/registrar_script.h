// The registrar's script: parsed whole, replacements included, before anything
// is applied, so a script that is wrong anywhere changes nothing.
//
//   script := { root '{' { item } '}' }          root: HKLM, HKEY_LOCAL_MACHINE, ...
//   item   := 'val' name '=' value
//           | [ 'NoRemove' | 'ForceRemove' | 'Delete' ] name [ '=' value ] [ '{' { item } '}' ]
//   value  := ( 's' | 'd' ) text                 d: decimal, or hexadecimal after 0x
//
// Names and texts are bare words or quoted with ' ('' stands for one quote);
// %NAME% anywhere in them is replaced, %% stands for %.
//
// Registering: ForceRemove deletes the key first, Delete deletes it and skips
// its block, every other key is opened or created, and the values are set.
// Unregistering: ForceRemove keys go with all below them; otherwise the values
// named are deleted and the keys below are unregistered; a NoRemove key then
// stays, any other key goes if nothing is left in it. Delete does nothing.
#pragma once

#include <map>
#include <string>

#include "base.h"

namespace host::detail {

// Replacement names are found without regard to case. Failures: DISP_E_EXCEPTION
// for a malformed script or an unknown replacement, or the registry's own error.
HRESULT RunRegistrarScript(const std::string& script, const std::map<std::string, std::string>& replacements,
                           bool registering);

} // namespace host::detail
