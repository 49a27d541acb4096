// The window's lists of recording formats and MIDI output devices.
#include "app/FormatLists.h"

#include <QComboBox>

#include "app/Globals.h"
#include "engine/MediaCommands.h"
#include "engine/RecordingFormats.h"
#include "midi/MIDInfo.h"

namespace {

struct SampleEntry {
  const char* text;  // UTF-8, shown as it stands
  int number;        // template number
  bool hiddenCommon; // hidden when only the rates common to all encoders are shown
};

// Ideographic spaces between the fields; the figures are part of the texts.
const SampleEntry kSamples[24] = {
    {"16.000kHz　 8ビット　Mono  　：　16KB/sec", 101, true},
    {"22.050kHz　 8ビット　Mono  　：　22KB/sec", 105, true},
    {"24.000kHz　 8ビット　Mono  　：　23KB/sec", 109, true},
    {"32.000kHz　 8ビット　Mono  　：　31KB/sec", 113, true},
    {"44.100kHz　 8ビット　Mono  　：　43KB/sec", 117, true},
    {"48.000kHz　 8ビット　Mono  　：　47KB/sec", 121, true},
    {"16,000kHz　16ビット　Mono  　：　31KB/sec", 103, true},
    {"24.000kHz　16ビット　Mono  　：　47KB/sec", 111, true},
    {"22.050kHz　16ビット　Mono  　：　43KB/sec", 107, false},
    {"32.000kHz　16ビット　Mono  　：　63KB/sec", 115, false},
    {"44.100kHz　16ビット　Mono  　：　86KB/sec", 119, false},
    {"48.000kHz　16ビット　Mono  　：　94KB/sec", 123, false},
    {"16.000kHz　 8ビット　Stereo　：　31KB/sec", 102, true},
    {"22.050kHz　 8ビット　Stereo　：　43KB/sec", 106, true},
    {"24.000kHz　 8ビット　Stereo　：　47kB/sec", 110, true},
    {"32.000kHz　 8ビット　Stereo　：　63KB/sec", 114, true},
    {"44.100kHz　 8ビット　Stereo　：　86KB/sec", 118, true},
    {"48.000kHz　 8ビット　Stereo　：　94KB/sec", 122, true},
    {"16.000kHz　16ビット　Stereo　：　63KB/sec", 104, true},
    {"24.000kHz　16ビット　Stereo　：　94KB/sec", 112, true},
    {"22.050kHz　16ビット　Stereo　：　86KB/sec", 108, false},
    {"32.000kHz　16ビット　Stereo　： 125kB/sec", 116, false},
    {"44.100kHz　16ビット　Stereo　： 172kB/sec", 120, false},
    {"48.000kHz　16ビット　Stereo　： 188kB/sec", 124, false},
};

}  // namespace

short FillSampleList(QComboBox* cboSample, short DefSample) {
  const bool common = kv::G().SelSample == 1;
  cboSample->blockSignals(true);
  cboSample->clear();
  for (const SampleEntry& e : kSamples) {
    if (common && e.hiddenCommon) continue;
    cboSample->addItem(QString::fromUtf8(e.text), e.number);
  }
  const int count = cboSample->count();
  const int d = DefSample;
  cboSample->setCurrentIndex(d >= 0 && d < count ? d : count - 1);
  cboSample->blockSignals(false);
  cboSample_Click(cboSample);
  return short(count);
}

void cboSample_Click(QComboBox* cboSample) {
  const int i = cboSample->currentIndex();
  if (i < 0) return;
  const int t = cboSample->itemData(i).toInt();
  kv::G().SampleRate = TemplateRate(t);
  kv::G().SampleBits = short(TemplateBits(t));
}

void FillDeviceList(QComboBox* cboDevice, short DefDevice) {
  const MediaLayer& l = CurrentMediaLayer();
  const int n = l.midiOutNumDevs ? int(l.midiOutNumDevs()) : 0;
  cboDevice->clear();
  for (int id = -1; id <= n - 1; ++id) cboDevice->addItem(MidiOutDeviceName(id));
  cboDevice->setCurrentIndex(DefDevice >= 0 && DefDevice < cboDevice->count() ? DefDevice : 0);
}

