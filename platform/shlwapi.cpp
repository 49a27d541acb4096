// shlwapi subset.
//
// PathRemoveFileSpecA on "/" paths:
//   "/tools/waveflt.exe" -> "/tools"  TRUE
//   "/tools/"            -> "/tools"  TRUE   (the empty last component is removed)
//   "/waveflt.exe"       -> "/"       TRUE   (the root keeps its slash)
//   "waveflt.exe"        -> ""        TRUE   (a bare name leaves nothing, as on Windows)
//   "/"  and  ""         -> unchanged FALSE
#include "shlwapi.h"

#include <cstring>

KV_API BOOL WINAPI PathRemoveFileSpecA(LPSTR pszPath) {
  if (!pszPath || !*pszPath) return FALSE;
  char* slash = strrchr(pszPath, '/');
  if (!slash) {
    pszPath[0] = '\0';
    return TRUE;
  }
  if (slash == pszPath) {
    if (pszPath[1] == '\0') return FALSE;
    pszPath[1] = '\0';
    return TRUE;
  }
  *slash = '\0';
  return TRUE;
}
