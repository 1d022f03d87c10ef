// The registrar: carries a registrar script out on the registry, forwards to register and
// backwards to unregister. The script comes from a module's "REGISTRY" resource or as text.
// Keys are reached in the process's own registry view, never redirected to the current user.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "framework/registry_script.h"

enum class RegistrarAction { Register, Unregister };

// The text of the module's resource of type "REGISTRY" with the given id, taken as ANSI text up
// to its first zero byte.
HRESULT LoadRegistrarScript(HMODULE module, UINT resourceId, std::string& script);

// Parses the script with the parameters and runs its register or unregister plan. A script the
// reader rejects is DISP_E_EXCEPTION and touches nothing; otherwise the first failing registry
// call ends the run and is its result, and what was written before it stays.
HRESULT RunRegistrarScript(std::string_view script, const ReplaceableParameters& parameters,
                           RegistrarAction action);

// Both of the above.
HRESULT RunRegistrarResource(HMODULE module, UINT resourceId, const ReplaceableParameters& parameters,
                             RegistrarAction action);
