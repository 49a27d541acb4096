#include "settings/Settings.h"

#include "settings/inifile_IO.h"

namespace kv {

QString SingleText(float v) { return QString::number(v, 'g', 7); }

Settings ReadSettings(const inifile_IO& ini, float width, float height, const QString& appPath) {
  Settings s;
  s.Left = ini.ReadSng("Position", "Left", 0);
  s.Top = ini.ReadSng("Position", "Top", 0);
  s.Width = ini.ReadSng("Position", "Width", width);
  s.Height = ini.ReadSng("Position", "Height", height);
  s.WaitCount = ini.ReadInt("Wait", "Count", 0);
  s.Headcut = ini.ReadStr("Normalize", "Headcut", "OK") == QStringLiteral("OK");
  s.SelSample = ini.ReadInt("Option", "SelSample", 0);
  s.EncoderDefault = ini.ReadInt("Encoder", "Default", -1);
  s.ScmpxPath = ini.ReadStr("Folder", "Scmpx", NonePath());
  s.FastEncode = ini.ReadInt("Encoder", "Fast", 0) == 1;
  s.WmaEncoder = ini.ReadInt("Encoder", "WMAEnc", -1);
  s.Wm8eutilPath = ini.ReadStr("Folder", "Wm8eutil", NonePath());
  s.Bitrate = ini.ReadInt("Encoder", "Bitrate", 128);
  s.StereoMode = ini.ReadStr("Encoder", "Stereo", "Stereo");
  s.WavePath = ini.ReadStr("Folder", "WavePath", appPath);
  s.MidiPath = ini.ReadStr("Folder", "MidiPath", appPath);
  s.WavefltPath = ini.ReadStr("Folder", "Waveflt", QString());
  s.NormaliserOn = ini.ReadInt("Normalize", "Enable", 2) == 1;
  s.DefDevice = ini.ReadInt("Option", "DefDevice", 0);
  s.DefSample = ini.ReadInt("Option", "DefSample", -1);
  s.TitleToName = ini.ReadInt("Option", "TitleToName", 0) == 1;
  s.WaitOn = ini.ReadInt("Option", "Wait", 1) == 1;
  s.Media = ini.ReadStr("OnKey", "Media", "wave");
  s.Play = ini.ReadStr("OnKey", "Play", "one");
  return s;
}

bool WriteSettings(const inifile_IO& ini, const Settings& s, bool withPosition) {
  bool saved = true;
  auto put = [&ini, &saved](const char* section, const char* key, const QString& value) {
    saved = ini.WriteStr(section, key, value) && saved;
  };
  auto flag = [](bool v) { return v ? QStringLiteral("1") : QStringLiteral("0"); };
  auto num = [](int v) { return QString::number(v); };

  put("OnKey", "Media", s.Media);
  if (withPosition) {
    put("Position", "Left", SingleText(s.Left));
    put("Position", "Top", SingleText(s.Top));
    put("Position", "Width", SingleText(s.Width));
    put("Position", "Height", SingleText(s.Height));
  }
  put("OnKey", "Play", s.Play);
  put("Folder", "WavePath", s.WavePath);
  put("Folder", "MidiPath", s.MidiPath);
  put("Option", "TitleToName", flag(s.TitleToName));
  put("Option", "DefSample", num(s.DefSample));
  put("Option", "DefDevice", num(s.DefDevice));
  for (int i = 0; i < 3; ++i)
    put("Encoder", QStringLiteral("Enable%1").arg(i).toLatin1().constData(), flag(s.EncoderAvailable[i]));
  put("Encoder", "Default", num(s.EncoderDefault));
  put("Encoder", "Bitrate", num(s.Bitrate));
  put("Encoder", "Stereo", s.StereoMode);
  put("Folder", "Scmpx", s.ScmpxPath);
  put("Encoder", "WMAEnc", num(s.WmaEncoder));
  put("Folder", "Wm8eutil", s.Wm8eutilPath);
  put("Encoder", "Fast", flag(s.FastEncode));
  put("Folder", "Waveflt", s.WavefltPath);
  put("Normalize", "Enable", s.NormaliserOn ? QStringLiteral("1") : QStringLiteral("2"));
  put("Normalize", "headcut", s.Headcut ? QStringLiteral("OK") : QStringLiteral("NG"));
  put("Option", "SelSample", num(s.SelSample));
  put("Option", "Wait", flag(s.WaitOn));
  put("Wait", "Count", num(s.WaitCount));
  return saved;
}

}  // namespace kv
