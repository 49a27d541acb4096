// The recording formats of cboSample: 24 PCM formats, each with a 60-byte header-only WAVE
// template. The recorder records in the format of the file it is opened on, so choosing a
// format means writing its template under the output name.
#pragma once
#include <QByteArray>

class QComboBox;
class inifile_IO;

// Fills cboSample (item data = template number 101..124), hiding the 8-bit, 16000 Hz and
// 24000 Hz formats when SelSample is 1; selects Option/DefSample (default and out of range:
// the last entry) and applies it through cboSample_Click. Returns the number of entries.
short FillSampleList(QComboBox* cboSample, const inifile_IO& settings);
// Sets SampleRate and SampleBits from the selected entry's template number.
void cboSample_Click(QComboBox* cboSample);
// Writes template number (101..124, others are brought into that range) to path; false when it
// cannot be written.
bool WriteWaveTemplate(int number, const QString& path);
// The 60-byte template number 101..124 (empty for any other number).
QByteArray WaveTemplate(int number);
