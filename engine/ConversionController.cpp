#include "engine/ConversionController.h"

#include <QFileInfo>
#include <cmath>

#include "encoders/CommandLineEncoders.h"
#include <unistd.h>

#include "engine/MediaCommands.h"
#include "engine/RecordingEncoder.h"
#include "engine/RecordingFormats.h"
#include "midi/MIDInfo.h"
#include "midi/SourceList.h"
#include "shell/Dir.h"
#include "shell/FileName.h"
#include "shell/MsgStyle.h"
#include "wave_file.h"

namespace kv {

namespace {
// True when the saved recording holds no sample although the song lasts: the recorder never
// got the song (a song without notes and without length legitimately records nothing).
bool RecordedNothing(const QString& wave, const QString& midi) {
  media::WaveFormat fmt;
  if (!media::ReadWaveHeader(PathBytes(wave).toStdString(), fmt) || fmt.dataBytes > 0) return false;
  return ReadMidiInfo(midi).Length > 0;
}
// A folder the run can work in: it exists and may be entered (its files opened by path).
bool UsableFolder(const QString& folder) {
  return FolderExists(folder) && ::access(PathBytes(folder).constData(), X_OK) == 0;
}
}  // namespace

ConversionController::ConversionController(QObject* parent) : QObject(parent) {
  m_tmr1.setInterval(10);
  m_tmrPlay.setInterval(100);
  m_tmrWait.setInterval(100);
  m_tmrWait.setTimerType(Qt::PreciseTimer);  // its ticks become silence in the recording: no 5% slack
  connect(&m_tmr1, &QTimer::timeout, this, &ConversionController::tmr1_Timer);
  connect(&m_tmrPlay, &QTimer::timeout, this, &ConversionController::tmrPlay_Timer);
  connect(&m_tmrWait, &QTimer::timeout, this, &ConversionController::tmrWait_Timer);
}

ConversionController::~ConversionController() {
  // The recorder must not hand blocks to an encoder that goes.
  if (m_recordingEncoder) MciSend(QStringLiteral("close RecMedia"), false);
}

QString ConversionController::OutputFolder() const {
  return m_job.outputFolder.isEmpty() ? QStringLiteral("/") : m_job.outputFolder;
}

void ConversionController::Select(int row) {
  m_row = row;
  emit entrySelected(row);
}

void ConversionController::Refuse(const QString& text, int style) {
  m_step = Step::Idle;
  emit message(text, style);
  emit finished();
}

void ConversionController::StartConversion(const ConversionJob& job) {
  m_job = job;
  m_row = job.entry;
  Rec();
}

void ConversionController::Rec() {
  const ConversionJob& j = m_job;
  const int type = j.encoder.outputType;
  if (type == 1 && j.sampleBits == 8)
    return Refuse(QStringLiteral("MP3変換は16ビット形式のみです。"), vbInformation | vbOKOnly);
  if (m_row < 0 || m_row >= j.sources.size()) {
    m_step = Step::Idle;
    emit finished();
    return;
  }
  if ((j.sampleRate == 16000 || j.sampleRate == 24000) && j.normalise)
    return Refuse(QStringLiteral("ノーマライズ機能は、16000Hz/24000Hzには対応していません。"), vbInformation);
  if ((j.sampleRate == 24000 || j.sampleBits == 8) && type == 2 && j.encoder.wma == 0)
    return Refuse(QStringLiteral("wm8eutilは、24000Hzおよび8ビットには対応していません。"), vbInformation);
  m_midi = j.sources[m_row];
  m_wave = SourceList::OutputName(m_midi, j.titleToName, j.outputFolder, nullptr);

  // The output folder must exist; every step names its files by their full paths, so nothing
  // changes the process's current folder (engines side by side share it).
  const QString folder = OutputFolder();
  if (!UsableFolder(folder))
    return Refuse(QStringLiteral("保存先フォルダ ") + folder + QStringLiteral(" が見つかりません。"), vbExclamation);
  // Delete an older output; one that cannot be deleted stops the start.
  const QString own = m_wave.mid(j.outputFolder.size() + 1);
  if (!own.isEmpty() && Dir(m_wave) == own) {
    if (WriteProtected(m_wave) || !RemoveFile(m_wave)) {
      if (WriteProtected(m_wave) || FileExists(m_wave))
        return Refuse(m_wave + QStringLiteral("が他のソフトで開かれています。"), vbInformation);
      m_step = Step::Idle;
      emit finished();
      return;
    }
  }
  // A recording left by a run that was killed is ours and goes.
  RemoveFile(m_wave + QStringLiteral(".~rec"));
  if (!WriteWaveTemplate(j.sampleTemplate, m_wave))
    // A folder that takes no file (read-only, full) would fail every item: nothing starts.
    return Refuse(QStringLiteral("保存先フォルダ ") + folder + QStringLiteral(" に書き込めません。"), vbExclamation);
  emit itemStarted(m_row, m_midi, m_wave);
  // The delay's tenths are waited one tick more: 0.5 s waits 0.6 s before and after.
  const int delayMs = j.delay ? (j.delayTenths + 1) * 100 : 0;
  m_recordingEncoder.reset();
  if (EncodesWhileRecording()) {
    const QByteArray header = WaveTemplate(j.sampleTemplate);
    m_recordingEncoder = std::make_unique<RecordingEncoder>(WithLastThree(m_wave, QStringLiteral("mp3")), j.sampleRate,
                                                            header.size() > 22 ? header[22] : 2, j.encoder.bitrate,
                                                            j.encoder.jointStereo);
    if (!m_recordingEncoder->ok()) m_recordingEncoder.reset();
  }
  const bool tapped = StartRecording(m_wave, delayMs, m_recordingEncoder ? &RecordingEncoder::Tap : nullptr,
                                     m_recordingEncoder.get());
  if (!tapped) m_recordingEncoder.reset();  // then GoGo encodes the WAVE afterwards, as the window does
  m_fastTake = RecordingIsFast();
  Delay([this] {
    StartPlayback(m_midi, m_job.port);
    emit locked(true);
    m_step = Step::Recording;
    m_tmr1.start();
  });
}

void ConversionController::Delay(std::function<void()> then) {
  // A fast take puts the delay's silence into the recording itself, counted in frames.
  if (!m_job.delay || m_fastTake) return then();
  m_step = Step::Delay;
  m_afterDelay = std::move(then);
  m_tmrWait.start();
}

void ConversionController::tmrWait_Timer() {
  if (m_waitTicks < m_job.delayTenths) {
    ++m_waitTicks;
    return;
  }
  m_waitTicks = 0;
  m_tmrWait.stop();
  if (auto then = std::exchange(m_afterDelay, {})) then();
}

bool ConversionController::PollSequencer(const QString& prefix) {
  if (!StatusMode().startsWith(QStringLiteral("playing"))) return false;
  const long pos = ReplyNumber(StatusPosition());
  const long len = StatusLength();
  emit status(prefix + TimeText(pos) + "/" + TimeText(len));
  return true;
}

void ConversionController::tmr1_Timer() {
  if (PollSequencer(QStringLiteral("REC. "))) return;
  m_tmr1.stop();
  StopPlayback();
  Delay([this] { AfterRecording(); });
}

void ConversionController::AfterRecording() {
  StopRecording();
  // A recording that is no result takes its MP3 along.
  std::unique_ptr<RecordingEncoder> recordingEncoder = std::move(m_recordingEncoder);
  auto next = [this] { NextEntry(&ConversionController::Rec); };
  const int last = int(m_job.sources.size()) - 1;
  // Only this item's own devices count: a file the selection display could not open meanwhile
  // has nothing to do with this recording.
  QString mediaError = DeviceError(QStringLiteral("RecMedia"));
  if (mediaError.isEmpty()) mediaError = DeviceError(QStringLiteral("PlayMedia"));
  if (!mediaError.isEmpty()) {
    // The song could not be played or recorded: the recording holds no music and goes. A
    // file that cannot be read ends only its own item; anything else (no SoundFont, no
    // recording device) would fail every item, so the batch ends.
    RemoveFile(m_wave);
    emit message(QFileInfo(m_midi).fileName() + QStringLiteral(" を変換できませんでした。\r\n") + mediaError, vbExclamation);
    if (!mediaError.contains(m_midi)) Select(last);
  } else if (FileSize(m_wave) < 58) {
    emit message(QStringLiteral("標準の録音デバイスでは、正常に録音できません。\r\n録音デバイスを変更してください。"),
                 vbExclamation);
    Select(last);
  } else if (RecordedNothing(m_wave, m_midi)) {
    // A header without the song is no result: it must not stand as a converted file.
    RemoveFile(m_wave);
    emit message(QFileInfo(m_midi).fileName() + QStringLiteral(" を録音できませんでした。"), vbExclamation);
  } else if (recordingEncoder) {
    m_recordingEncoder = std::move(recordingEncoder);
    return FinishRecordingEncoder(next);
  } else {
    if (m_job.normalise) return RunWaveFilter([this, next] { RunEncoder(next); });
    return RunEncoder(next);
  }
  next();
}

QString ConversionController::WaveFilterCommandLine() const {
  const QString level = m_job.loudness ? QStringLiteral("-loudness %1 ").arg(*m_job.loudness) : QStringLiteral("-normal 0.9 ");
  QString options = (m_job.headCut ? QStringLiteral(" -autoofs -headcut 1 ") : QStringLiteral(" ")) + level;
  if (!m_job.filterPlan.isEmpty())
    options += (m_job.useFilterPlan ? QStringLiteral("-useplan ") : QStringLiteral("-saveplan ")) + Quoted(m_job.filterPlan) + " ";
  return m_job.waveFilter + options + Quoted(FilterInput()) + " " + Quoted(m_wave);
}

QString ConversionController::FilterInput() const {
  return m_job.outputFolder + "/normal.wav";
}

void ConversionController::RunWaveFilter(std::function<void()> then) {
  const QString normal = FilterInput();
  const auto failed = [this] {
    emit message(QStringLiteral("ノーマライズでエラーが発生しました。"), vbInformation);
  };
  // A "normal.wav" already there may be the user's own: it waits under another name meanwhile.
  m_standingNormal = std::make_unique<SetAside>(normal);
  if ((m_standingNormal && !m_standingNormal->ok()) || !RenameFile(m_wave, normal)) {
    m_standingNormal.reset();
    failed();
    return then();
  }
  auto done = [this, normal, failed, then](bool started) {
    if (FileExists(m_wave) && started) {
      RemoveFile(normal);
    } else {
      RemoveFile(m_wave);
      RenameFile(normal, m_wave);
      failed();
    }
    m_standingNormal.reset();
    then();
  };
  m_step = Step::Filtering;
  if (!m_filter.Start(WaveFilterCommandLine(), [done] { done(true); })) done(false);
}

void ConversionController::RunEncoder(std::function<void()> then) {
  m_encoder = MakeEncoder(m_job.encoder, SongTitle(m_midi));
  if (!m_encoder) return then();
  emit status(QStringLiteral("Encoding..."));
  m_step = Step::Encoding;
  connect(m_encoder.get(), &EncoderBackend::message, this, &ConversionController::message);
  connect(m_encoder.get(), &EncoderBackend::finished, this, [this, then] {
    // The encoder is the sender: it goes once its signal has returned.
    m_encoder.release()->deleteLater();
    then();
  });
  emit encoderStarted(m_encoder.get(), m_wave);
  m_encoder->Start(m_wave);
}

bool ConversionController::EncodesWhileRecording() const {
  const ConversionJob& j = m_job;
  const EncoderChoice& e = j.encoder;
  return j.encodeWhileRecording && e.outputType == 1 && e.mp3 == 1 && e.mp3Available[1] && !j.normalise &&
         j.sampleBits == 16;
}

void ConversionController::FinishRecordingEncoder(std::function<void()> then) {
  emit status(QStringLiteral("Encoding..."));
  m_step = Step::Encoding;
  m_recordingEncoder->Finish(this, [this, then](bool made, int code) {
    m_recordingEncoder.reset();
    // As after GoGo: the WAVE goes whatever the result.
    RemoveFile(m_wave);
    if (!made) emit message(QStringLiteral("エラーが発生しました errcode = ") + QString::number(code), vbExclamation);
    then();
  });
}

void ConversionController::NextEntry(void (ConversionController::*command)()) {
  m_step = Step::Idle;
  emit unlocked();
  if (m_job.batch && m_row < int(m_job.sources.size()) - 1) {
    Select(m_row + 1);
    (this->*command)();
  } else {
    emit entrySelected(m_row);
    emit finished();
  }
}

void ConversionController::PlayCommand(const ConversionJob& job) {
  m_job = job;
  m_row = job.entry;
  Play();
}

void ConversionController::Play() {
  if (m_row < 0 || m_row >= m_job.sources.size()) {
    emit finished();
    return;
  }
  m_midi = m_job.sources[m_row];
  emit itemStarted(m_row, m_midi, QString());
  StartPlayback(m_midi, m_job.port);
  emit locked(false);
  m_step = Step::Playing;
  m_tmrPlay.start();
}

void ConversionController::tmrPlay_Timer() {
  if (PollSequencer(QStringLiteral("Play "))) return;
  m_tmrPlay.stop();
  StopPlayback();
  NextEntry(&ConversionController::Play);
}

void ConversionController::StopRun() {
  m_row = int(m_job.sources.size()) - 1;
  StopCommand();
}

DelayAnswer ParseDelayAnswer(const QString& answer) {
  // Visual Basic's IsNumeric / CSng: "nan" and "inf" are no numbers.
  bool ok = false;
  float v = answer.trimmed().toFloat(&ok);
  if (!ok || !std::isfinite(v)) v = 0;
  v = std::fabs(v);
  // The count is a 16-bit number of tenths: larger answers are clamped to its range.
  if (v * 10.0f > 32767.0f) v = 3276.7f;
  const float tenths = v * 10.0f;  // in single precision, as the answer was read
  return {v, static_cast<short>(std::floor(tenths))};
}

}  // namespace kv
