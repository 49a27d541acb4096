// What a MIDI source file holds before it is played: header values, title and playing time.
#pragma once
#include <QByteArray>
#include <QString>

struct MidiInfo {
  short Format = 0;   // SMF format from "MThd"
  short Track = 0;    // number of tracks
  short TCount = 0;   // division word, as its signed 16-bit value (SMPTE divisions are negative)
  QString Title;      // never empty once "MThd" was found
  int Length = 0;     // playing time in ms as the sequencer reports it
};

// Header and title of a file (no media commands). The empty record when the bytes hold no "MThd".
MidiInfo ParseMidiBytes(const QByteArray& bytes, const QString& path);
// ParseMidiBytes of the file plus its playing time measured by the sequencer (alias Midi).
// A missing file or one without "MThd" gives the empty record and sends no command.
MidiInfo ReadMidiInfo(const QString& path);
// The song's title for tags: an RMID file's LIST INFO INAM when it has one, else ReadMidiInfo's
// title without asking the sequencer; the file's title when it holds no MIDI data.
QString SongTitle(const QString& path);
// Text of legacy bytes: UTF-8 when valid, else Shift-JIS, else Latin-1.
QString DecodeLegacyText(const QByteArray& bytes);

// mm:ss (minutes with at least two digits); negative times show as 00:00.
QString TimeText(int ms);
// The file name without folders and without its last four characters (".mid").
QString FileTitleOf(const QString& path);
// Name of MIDI output device id (-1 is the mapper), up to its first NUL.
QString MidiOutDeviceName(int id);
