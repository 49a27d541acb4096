// Typed access to the settings file through the private-profile routines.
#pragma once
#include <QString>

class inifile_IO {
 public:
  float ReadSng(const QString& section, const QString& Key, float Def = 0.0f) const;
  bool WriteStr(const QString& section, const QString& Key, const QString& sData) const;
  short ReadInt(const QString& section, const QString& Key, short Def = 0) const;
  QString ReadStr(const QString& section, const QString& Key, const QString& Def = QString()) const;
  void setFileName(const QString& vData) { m_fileName = vData; }
  QString FileName() const { return m_fileName; }

 private:
  QString m_fileName;
};
