#include "components/wmacore/OwnFormats.h"

#include <cstring>

#include "components/vbwav2wma/vbwav2wma.h"
#include "components/wmacore/WmaEncode.h"

extern "C" __attribute__((visibility("default"))) int kvEncodeOwnFormat(const char* wav, const char* out, int codec,
                                                                        const char* title, KvKeepGoing keepGoing,
                                                                        void* context, char* error, int errorSize) {
  kv::wma::Settings settings;
  settings.codec = codec == 1 ? kv::wma::Codec::Flac : codec == 2 ? kv::wma::Codec::Opus : kv::wma::Codec::Wma;
  settings.tags.title = title ? title : "";
  if (codec == 3) {
    // The title as vbwav2wma.dll gets it through its settings record (trimmed, cut to the field).
    VbwwEncodeSettings record{};
    kv::FillWmaSettings(record, settings.tags.title);
    settings.tags.title = kv::WmaSettingsText(record.title, sizeof record.title);
  }
  const kv::Status made = kv::wma::EncodeWaveToWma(wav, out, settings, [&](int64_t, int64_t) {
    return !keepGoing || keepGoing(context) != 0;
  });
  if (!made && error && errorSize > 0) {
    std::strncpy(error, made.message().c_str(), size_t(errorSize) - 1);
    error[errorSize - 1] = '\0';
  }
  return made ? 1 : 0;
}
