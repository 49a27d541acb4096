// shlwapi subset.
#pragma once
#include "wintypes.h"

// Removes the last path component in place; TRUE when something was removed.
// "/tools/waveflt.exe" -> "/tools", "/waveflt.exe" -> "/", "/" -> unchanged (FALSE).
KV_API BOOL WINAPI PathRemoveFileSpecA(LPSTR pszPath);
