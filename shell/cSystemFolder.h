// Paths of the Windows folder, the system folder and some shell special folders.
// Every query returns an empty string when it fails.
#pragma once
#include <QString>

class cSystemFolder {
 public:
  // The Windows folder (bin/windows here, KORVESSA_WINDOWS_DIR overrides), no trailing "/".
  QString Windows() const;
  // The system folder (bin/system here, KORVESSA_SYSTEM_DIR overrides), no trailing "/".
  QString System() const;
  QString Recent() const;   // special folder 8
  QString Startup() const;  // special folder 7
  QString Program() const;  // special folder 2, the programs menu
  QString Desktop() const;  // special folder 0
  // The file-system path of the shell special folder with this CSIDL number.
  QString GetSpecialFold(long lngFolderType) const;
};
