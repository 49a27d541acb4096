#include "kernel32.h"

namespace {
thread_local DWORD g_lastError = 0;
}

KV_API DWORD WINAPI GetLastError(void) { return g_lastError; }
KV_API void WINAPI SetLastError(DWORD dwErrCode) { g_lastError = dwErrCode; }
