// The recording formats of cboSample: 24 PCM formats, each with a 60-byte header-only WAVE
// template. The recorder records in the format of the file it is opened on, so choosing a
// format means writing its template under the output name.
#pragma once
#include <QByteArray>


// The sample rate and bits of template number (101..124).
int TemplateRate(int number);
int TemplateBits(int number);
// Writes template number (101..124, others are brought into that range) to path; false when it
// cannot be written.
bool WriteWaveTemplate(int number, const QString& path);
// The 60-byte template number 101..124 (empty for any other number).
QByteArray WaveTemplate(int number);
