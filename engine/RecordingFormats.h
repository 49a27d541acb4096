// The recording formats of cboSample: 24 PCM formats, each with a 60-byte header-only WAVE
// template. The recorder records in the format of the file it is opened on, so choosing a
// format means writing its template under the output name.
#pragma once
#include <QByteArray>

class QComboBox;

// Fills cboSample (item data = template number 101..124), hiding the 8-bit, 16000 Hz and
// 24000 Hz formats when SelSample is 1; selects the stored position DefSample (out of range:
// the last entry) and applies it through cboSample_Click. Returns the number of entries.
short FillSampleList(QComboBox* cboSample, short DefSample);
// Sets SampleRate and SampleBits from the selected entry's template number.
void cboSample_Click(QComboBox* cboSample);
// Writes the selected entry's template to WaveFileName; false when it cannot be written.
bool WriteWaveTemplate(QComboBox* cboSample);
// The 60-byte template number 101..124 (empty for any other number).
QByteArray WaveTemplate(int number);
