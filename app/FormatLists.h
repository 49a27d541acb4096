// The window's lists of recording formats (cboSample) and MIDI output devices (cboDevice).
#pragma once

class QComboBox;

// Fills cboSample (item data = template number 101..124), hiding the 8-bit, 16000 Hz and
// 24000 Hz formats when SelSample is 1; selects the stored position DefSample (out of range:
// the last entry) and applies it through cboSample_Click. Returns the number of entries.
short FillSampleList(QComboBox* cboSample, short DefSample);
// Sets SampleRate and SampleBits from the selected entry's template number.
void cboSample_Click(QComboBox* cboSample);
// cboDevice: the mapper (-1) and every MIDI output device; selects the stored entry DefDevice (out of range: the mapper).
void FillDeviceList(QComboBox* cboDevice, short DefDevice);

