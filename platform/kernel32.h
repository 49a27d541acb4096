// kernel32 subset: private profiles, folders, paths, disk space, processes, file search.
#pragma once
#include "wintypes.h"

typedef struct _OSVERSIONINFOA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  CHAR szCSDVersion[128];
} OSVERSIONINFOA, *LPOSVERSIONINFOA;
#define VER_PLATFORM_WIN32s 0
#define VER_PLATFORM_WIN32_WINDOWS 1
#define VER_PLATFORM_WIN32_NT 2

typedef struct _FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
} FILETIME;

typedef struct _WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  CHAR cFileName[MAX_PATH];
  CHAR cAlternateFileName[14];
} WIN32_FIND_DATAA, *LPWIN32_FIND_DATAA;

#define FILE_ATTRIBUTE_READONLY 0x01
#define FILE_ATTRIBUTE_HIDDEN 0x02
#define FILE_ATTRIBUTE_DIRECTORY 0x10
#define FILE_ATTRIBUTE_ARCHIVE 0x20
#define FILE_ATTRIBUTE_NORMAL 0x80

#define STILL_ACTIVE 259
#define PROCESS_QUERY_INFORMATION 0x0400
#define SYNCHRONIZE 0x00100000L

#define ERROR_SUCCESS 0
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_PATH_NOT_FOUND 3
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_INVALID_PARAMETER 87
#define ERROR_INSUFFICIENT_BUFFER 122
#define ERROR_NO_MORE_FILES 18
#define ERROR_MORE_DATA 234

// Private profiles. Names are matched without regard to letter case; blanks around names
// and values and one pair of enclosing quotes (" or ') are dropped on reading. Text is UTF-8;
// a legacy file in CP932 (else Latin-1) is read as such and rewritten as UTF-8 when a write
// changes it. Lines starting with ';' or '#', lines without '=' and blank lines are kept as
// they are; a new key goes after the last key of its section, a new section at the end of
// the file, with the line ending the file already uses ("\n" for a new file). The file is
// replaced through a temporary file in its folder, keeping its permissions; a write that
// fails returns FALSE and leaves the old file. A bare file name lives in the Windows folder.
// Files holding NUL bytes or larger than 64 MiB are not settings files: reads give the
// default, writes fail. Values and defaults are cut at a character boundary to fit.
KV_API DWORD WINAPI GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                                             LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName);
KV_API BOOL WINAPI WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString,
                                              LPCSTR lpFileName);

// Folders: the "Windows folder" and "system folder" live beside the executable
// (bin/windows, bin/system); KORVESSA_WINDOWS_DIR / KORVESSA_SYSTEM_DIR override them.
KV_API UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize);
KV_API UINT WINAPI GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize);
// The short form of an existing path is the path itself; 0 when it does not exist.
KV_API DWORD WINAPI GetShortPathNameA(LPCSTR lpszLongPath, LPSTR lpszShortPath, DWORD cchBuffer);
KV_API BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA lpVersionInformation);
KV_API BOOL WINAPI GetDiskFreeSpaceExA(LPCSTR lpDirectoryName, PULARGE_INTEGER lpFreeBytesAvailableToCaller,
                                       PULARGE_INTEGER lpTotalNumberOfBytes, PULARGE_INTEGER lpTotalNumberOfFreeBytes);
// SearchPathA with lpPath NULL: a name with a '/' as given, else beside the executable, the
// current folder, then PATH; the exact name first, then one differing in letter case.
// Folders are not found. lpPath may list folders separated by ':' or ';'.
KV_API DWORD WINAPI SearchPathA(LPCSTR lpPath, LPCSTR lpFileName, LPCSTR lpExtension, DWORD nBufferLength,
                                LPSTR lpBuffer, LPSTR* lpFilePart);

// Directory search: the pattern's last component may hold * and ?; names match without
// regard to letter case, as on Windows. A path without wildcards finds that file or folder
// itself (a folder's own entry, e.g. "music" for "/home/u/music"); "/", "" and paths
// ending in "/" find nothing. Entries come sorted by name.
KV_API HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData);
KV_API BOOL WINAPI FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData);
KV_API BOOL WINAPI FindClose(HANDLE hFindFile);

// Processes.
KV_API HANDLE WINAPI OpenProcess(DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwProcessId);
KV_API BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode);
KV_API BOOL WINAPI CloseHandle(HANDLE hObject);
KV_API void WINAPI Sleep(DWORD dwMilliseconds);
KV_API DWORD WINAPI GetLastError(void);
KV_API void WINAPI SetLastError(DWORD dwErrCode);

// Not Win32: starts a command line unchanged as a new process (first word = program, looked
// up on PATH; blanks separate words, double quotes group them); its process id, 0 on failure.
KV_API DWORD WINAPI kvStartProcess(LPCSTR commandLine);

// Linux process starts (no Win32 counterpart). Both return the new process id, 0 on failure;
// the process is a child whose exit code OpenProcess/GetExitCodeProcess report, and it is
// reaped by them. Parameters are split like a Windows command line: blanks separate,
// double quotes group, a backslash before a quote makes it literal. stdin is /dev/null.
// kvStartProcess: the whole command line; its first word is the program, looked up beside
// the executable, in the current folder, then on PATH. kvStartProcessIn: the same in
// `directory` (looked up there instead of the current folder; the current folder when NULL or
// empty), so a caller never changes the process's current folder for a child.
KV_API DWORD WINAPI kvStartProcess(LPCSTR commandLine);
KV_API DWORD WINAPI kvStartProcessIn(LPCSTR commandLine, LPCSTR directory);
// kvSpawnProgram: `program` (a path, or a name looked up on PATH) with `parameters`, in
// `directory` (the current folder when NULL or empty). A script without the execute bit
// is run by the interpreter named on its "#!" line.
KV_API DWORD WINAPI kvSpawnProgram(LPCSTR program, LPCSTR parameters, LPCSTR directory);
