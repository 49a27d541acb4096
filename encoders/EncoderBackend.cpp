#include "encoders/EncoderBackend.h"

#include <dlfcn.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <thread>

#include "components/mp3core/Mp3Encoder.h"
#include "components/vbmp3/l3codec.h"
#include "components/wmacore/OwnFormats.h"
#include "encoders/CommandLineEncoders.h"
#include "encoders/GogoLibrary.h"
#include "encoders/VBMP3.h"
#include "encoders/VBWAV2WMA.h"
#include "winmm.h"
#include "postproc/cShellX.h"
#include "shell/Dir.h"
#include "shell/FileName.h"
#include "shell/MsgStyle.h"

namespace kv {

QString PercentText(float percent) { return QString::number(percent, 'f', 2) + QStringLiteral(" %"); }

QString PercentTextNoLeadingZero(float percent) {
  QString t = QString::number(percent, 'f', 2);
  if (t.startsWith(QStringLiteral("0."))) t.remove(0, 1);
  return t + QStringLiteral(" %");
}

int BarValue(float percent) { return std::clamp(static_cast<int>(percent), 0, 100); }

const SharedLibrary* LoadLibraryIn(const QString& folder, const QString& name) {
  // Kept loaded: the libraries run encoder threads of their own. Engines on several threads
  // load the codec each for itself.
  static std::map<QString, std::unique_ptr<SharedLibrary>> loaded;
  static std::mutex mu;
  const QString listed = Dir(folder + "/" + name);
  if (folder.isEmpty() || listed.isEmpty()) return nullptr;
  const QString path = folder + "/" + listed;
  std::lock_guard lock(mu);
  auto& lib = loaded[path];
  if (!lib || !lib->loaded()) lib = std::make_unique<SharedLibrary>(QFile::encodeName(path).toStdString());
  return lib->loaded() ? lib.get() : nullptr;
}

const Vbmp3Api* LoadVbmp3(const QString& appPath) {
  const SharedLibrary* lib = LoadLibraryIn(appPath, QStringLiteral("VBMP3.DLL"));
  if (!lib) return nullptr;
  static Vbmp3Api api;
  const bool ok = lib->Bind(api.vbmp3_init, "vbmp3_init") && lib->Bind(api.vbmp3_encodeOpen, "vbmp3_encodeOpen") &&
                  lib->Bind(api.vbmp3_encodeStart, "vbmp3_encodeStart") &&
                  lib->Bind(api.vbmp3_getEncodeState, "vbmp3_getEncodeState") && lib->Bind(api.vbmp3_free, "vbmp3_free");
  return ok ? &api : nullptr;
}

void EncoderBackend::Finish(bool made) {
  m_made = made;
  // Never from inside Start: the caller sees the end from the event loop.
  QTimer::singleShot(0, this, [this] {
    m_running = false;
    emit finished(m_made);
  });
}

namespace {

// GoGo's messages for a configuration it cannot use and for a frame that failed.
QString GogoDetectError(int32_t code) {
  static constexpr int32_t kInputCannotOpen = 13;
  return code == kInputCannotOpen ? QStringLiteral("入力ファイルを開けませんでした") : QStringLiteral("解析エラーが発生しました");
}
QString GogoFrameError(int32_t code) { return QStringLiteral("エラーが発生しました errcode = ") + QString::number(code); }

float Percent(int32_t done, int32_t total) { return static_cast<float>(done) / static_cast<float>(total) * 100.0f; }

// The shared libraries encode with the program's folder as the current folder (the window
// runs one of them at a time; engines side by side use the encoders' own-state forms).
class InAppFolder {
 public:
  explicit InAppFolder(const QString& folder) : m_folder(folder) {}
  void Enter() {
    m_previous = CurrentFolder();
    SetCurrentFolder(m_folder);
  }
  void Leave() { SetCurrentFolder(m_previous); }

 private:
  const QString m_folder;
  QString m_previous;
};

// gogo.dll, frame by frame: as many frames as fit in 16 ms per turn of the event loop, so the
// view repaints and takes its close box at 60 Hz while the encoder keeps its own speed.
class GogoEncoder : public EncoderBackend {
 public:
  explicit GogoEncoder(const EncoderChoice& c) : m_choice(c), m_folder(c.programFolder) {}
  QString ViewCaption() const override { return QStringLiteral("GOGO"); }
  void Start(const QString& wave) override {
    static constexpr int32_t kInputFile = 1, kOutputFile = 2, kChannelMode = 3, kBitrate = 4, kInputRate = 6,
                             kTotalFrames = 15;
    const EncoderChoice& g = m_choice;
    Begin();
    m_folder.Enter();
    m_api = LoadGogo(FindGogo(g.programFolder, g.systemFolder, g.windowsFolder));
    if (!m_api || m_api->MPGE_initializeWorkVB() != 0) return End(false);
    int32_t states = 0;
    m_api->MPGE_getUnitStatesVB(&states);
    const QByteArray in = PathBytes(wave), out = PathBytes(WithLastThree(wave, QStringLiteral("mp3")));
    m_api->MPGE_setConfigureVB(kInputFile, 0, in.constData());
    m_api->MPGE_setConfigureVB(kOutputFile, 0, out.constData());
    m_api->MPGE_setConfigureVB(kInputRate, g.inputRate, nullptr);
    m_api->MPGE_setConfigureVB(kChannelMode, g.jointStereo ? 2 : 1, nullptr);
    m_api->MPGE_setConfigureVB(kBitrate, g.bitrate, nullptr);
    const int32_t r = m_api->MPGE_detectConfigureVB();
    if (r != 0) {
      emit message(GogoDetectError(r), vbExclamation);
      return Close(false);
    }
    m_api->MPGE_getConfigureVB(kTotalFrames, &m_total);
    m_tick.callOnTimeout(this, &GogoEncoder::Frames);
    m_tick.start(0);
  }
  void Cancel() override { m_stop = true; }

 private:
  void Frames() {
    QElapsedTimer turn;
    turn.start();
    int32_t r = 0;
    do {
      r = m_api->MPGE_processFrameVB();
      ++m_frames;
    } while (r == 0 && !m_stop && turn.elapsed() < 16);
    // Without a total there is no percentage: the view keeps what it shows.
    if (m_total > 0) emit progress(BarValue(Percent(m_frames, m_total)), PercentText(Percent(m_frames, m_total)));
    if (r == 0 && !m_stop) return;
    m_tick.stop();
    if (r != 1) emit message(GogoFrameError(r), vbExclamation);
    Close(r == 1);
  }
  void Close(bool made) {
    m_api->MPGE_closeCoderVB();
    m_api->MPGE_endCoderVB();
    End(made);
  }
  void End(bool made) {
    m_folder.Leave();
    Finish(made);
  }
  const EncoderChoice m_choice;
  const GogoApi* m_api = nullptr;
  InAppFolder m_folder;
  QTimer m_tick;
  int32_t m_total = 0, m_frames = 0;
  bool m_stop = false;
};

// VBMP3.dll encodes on its own thread; its state is read every 500 ms.
class AcmEncoder : public EncoderBackend {
 public:
  explicit AcmEncoder(const QString& programFolder) : m_programFolder(programFolder) {}
  QString ViewCaption() const override { return QStringLiteral("ACM"); }
  void Start(const QString& wave) override {
    Begin();
    m_api = LoadVbmp3(m_programFolder);
    if (!m_api) return Finish(false);
    // No result is checked: a failed open or start shows up as an encode that ends at once.
    m_api->vbmp3_init();
    int32_t info[4] = {0, 0, 0, 0};
    m_api->vbmp3_encodeOpen(PathBytes(wave).constData(), info);
    m_total = info[3];
    m_api->vbmp3_encodeStart(PathBytes(WithLastThree(wave, QStringLiteral("mp3"))).constData());
    m_tmr1.callOnTimeout(this, &AcmEncoder::tmr1_Timer);
    m_tmr1.start(500);
  }
  // Stops waiting at once; the library is released whether or not it finished.
  void Cancel() override {
    if (m_tmr1.isActive()) End();
  }

 private:
  void tmr1_Timer() {
    int32_t done = 0, other = 0;
    if (m_api->vbmp3_getEncodeState(&done, &other) != 1) return End();
    if (m_total > 0) emit progress(BarValue(Percent(done, m_total)), PercentTextNoLeadingZero(Percent(done, m_total)));
  }
  void End() {
    m_tmr1.stop();
    m_api->vbmp3_free();
    Finish(true);
  }
  const QString m_programFolder;
  const Vbmp3Api* m_api = nullptr;
  QTimer m_tmr1;
  int32_t m_total = 0;
};

// VBWAV2WMA.dll: 64 kbit/s, 44100 Hz, stereo, the file's name as title; its state is read
// every 300 ms; it cannot be stopped. The WAVE goes once the WMA is made.
class WmaLibraryEncoder : public EncoderBackend {
 public:
  explicit WmaLibraryEncoder(const QString& programFolder) : m_programFolder(programFolder), m_folder(programFolder) {}
  QString ViewCaption() const override { return QStringLiteral("VBWAV2WMA"); }
  void Start(const QString& wave) override {
    Begin();
    m_wave = wave;
    m_folder.Enter();
    WmaEncodeSettings settings = DefaultWmaSettings(WmaTitleFor(wave));
    int32_t info[4] = {0, 0, 0, 0};
    if (!OpenWmaEncode(m_programFolder, wave, WithLastThree(wave, QStringLiteral("wma")), info, settings)) {
      emit message(QStringLiteral("エンコード失敗"), vbOKOnly);
      if (const VbwwApi* api = LoadVbww(m_programFolder)) api->vbww_debug();
      m_folder.Leave();
      return Finish(false);
    }
    m_api = LoadVbww(m_programFolder);
    m_api->vbww_encodeStart();
    m_total = info[3];
    emit progress(0, QStringLiteral("0 %"));
    m_timer1.callOnTimeout(this, &WmaLibraryEncoder::Timer1_Timer);
    m_timer1.start(300);
  }

 private:
  void Timer1_Timer() {
    int32_t done = 0;
    const int32_t state = m_api->vbww_getEncodeState(&done);
    if (state == 0) {
      m_timer1.stop();
      RemoveFile(m_wave);
      m_folder.Leave();
      Finish(true);
    } else if (state == 1 && m_total > 0) {
      emit progress(BarValue(Percent(done, m_total)), PercentText(Percent(done, m_total)));
    }
  }
  const QString m_programFolder;
  const VbwwApi* m_api = nullptr;
  InAppFolder m_folder;
  QTimer m_timer1;
  QString m_wave;
  int32_t m_total = 0;
};

void ReportFailure(EncoderBackend* e, const QString& why) {
  emit e->message(QStringLiteral("エンコードに失敗しました。\r\n") + why, vbInformation);
}

// Why a program could not be started: it is gone, or it is there but does not run.
QString NotStarted(const QString& program) {
  return program + (FileExists(program) ? QStringLiteral(" を起動できません。") : QStringLiteral(" が見つかりません。"));
}

// Why a program that ran made nothing: its exit code when it reported an error.
QString MadeNothing(const QString& program, long exitCode, const QString& what) {
  if (exitCode > 0) return program + QStringLiteral(" がエラーで終了しました (終了コード %1)。").arg(exitCode);
  return program + QStringLiteral(" は ") + what + QStringLiteral(" を作りませんでした。");
}

// SCMPX: the WAVE goes once the MP3 is made; a run that ends in an error or without the MP3
// keeps it.
class ScmpxEncoder : public EncoderBackend {
 public:
  explicit ScmpxEncoder(const EncoderChoice& c) : m_choice(c) {}
  void Start(const QString& wave) override {
    const EncoderChoice& g = m_choice;
    Begin();
    const QString program = g.scmpxPath, mp3 = WithLastThree(wave, QStringLiteral("mp3"));
    const bool started = m_run.Start(ScmpxCommandLine(program, g.bitrate, g.fastEncode, wave), [this, wave, mp3, program] {
      const long code = m_run.ExitCode();
      if (code <= 0 && FileExists(mp3)) {
        RemoveFile(wave);
        return Finish(true);
      }
      ReportFailure(this, MadeNothing(program, code, QFileInfo(mp3).fileName()));
      Finish(false);
    });
    if (started) return;
    ReportFailure(this, NotStarted(program));
    Finish(false);
  }

 private:
  const EncoderChoice m_choice;
  ProgramRun m_run;
};

// wm8eutil works on tmp.wav and tmp.wma in the output folder, its working folder; files of the
// user's with those names (any letter case) wait under other names meanwhile.
class Wm8eutilEncoder : public EncoderBackend {
 public:
  explicit Wm8eutilEncoder(const QString& program) : m_program(program) {}
  void Start(const QString& wave) override {
    Begin();
    m_wave = wave;
    const QString listed = Dir(wave);
    const QString title = listed.left(listed.size() - 4);
    // The output folder is the WAVE's own.
    m_folder = wave.left(wave.lastIndexOf(u'/'));
    const QString folder = m_folder.isEmpty() ? QStringLiteral("/") : m_folder;
    if (!FolderExists(folder)) return Fail(false, QStringLiteral("保存先フォルダ ") + folder + QStringLiteral(" に移れません。"));
    m_standingWav = std::make_unique<SetAside>(Listed(kTmpWav()));
    m_standingWma = std::make_unique<SetAside>(Listed(kTmpWma()));
    if (!m_standingWav->ok() || !m_standingWma->ok())
      return Fail(false, folder + QStringLiteral(" の tmp.wav / tmp.wma をよけておけません。"));
    if (!RenameFile(wave, Here(kTmpWav()))) return Fail(false, listed + QStringLiteral(" を tmp.wav に名前を変えられません。"));
    const QString line = Wm8eutilCommandLine(Wm8eutilProgram(m_program, m_folder), title);
    if (!m_run.Start(line, [this] { Ended(); }, folder)) Fail(true, NotStarted(m_program));
  }

 private:
  static QString kTmpWav() { return QStringLiteral("tmp.wav"); }
  static QString kTmpWma() { return QStringLiteral("tmp.wma"); }
  QString Here(const QString& name) const { return m_folder + "/" + name; }
  // The path of the file a directory lookup lists for name in the output folder (letter case
  // ignored); empty when there is none.
  QString Listed(const QString& name) const {
    const QString listed = Dir(Here(name));
    return listed.isEmpty() ? QString() : Here(listed);
  }
  void Ended() {
    const QString made = Listed(kTmpWma());
    const QString wma = m_wave.left(m_wave.size() - 4) + QStringLiteral(".wma");
    if (made.isEmpty()) return Fail(true, MadeNothing(m_program, m_run.ExitCode(), kTmpWma()));
    if (FileExists(wma)) RemoveFile(wma);
    if (!RenameFile(made, wma)) return Fail(true, QFileInfo(made).fileName() + QStringLiteral(" を ") + QFileInfo(wma).fileName() + QStringLiteral(" に名前を変えられません。"));
    RemoveFile(Here(kTmpWav()));
    Done(true);
  }
  // The WAVE is back under its name when it had been renamed.
  void Fail(bool renamed, const QString& why) {
    ReportFailure(this, why);
    if (renamed) RenameFile(Here(kTmpWav()), m_wave);
    Done(false);
  }
  void Done(bool made) {
    m_standingWav.reset();
    m_standingWma.reset();
    Finish(made);
  }
  const QString m_program;
  ProgramRun m_run;
  QString m_wave, m_folder;
  std::unique_ptr<SetAside> m_standingWav, m_standingWma;
};

// An encode on a thread of its own, with encoder state of its own: the event loop goes on
// meanwhile, and encodes of engines side by side share nothing.
class ThreadEncoder : public EncoderBackend {
 public:
  ~ThreadEncoder() override {
    m_cancel = true;
    if (m_thread.joinable()) m_thread.join();
  }
  void Cancel() override { m_cancel = true; }

 protected:
  // work runs on the thread (true: made; else *why may say why); ended then runs on the event loop.
  void Run(std::function<bool(const std::atomic<bool>& cancel, QString* why)> work,
           std::function<void(bool made, const QString& why)> ended) {
    m_thread = std::thread([this, work = std::move(work), ended = std::move(ended)] {
      QString why;
      const bool made = work(m_cancel, &why);
      QMetaObject::invokeMethod(this, [this, made, why, ended] {
        m_thread.join();
        ended(made, why);
      }, Qt::QueuedConnection);
    });
  }

 private:
  std::atomic<bool> m_cancel = false;
  std::thread m_thread;
};

// The encoder library beside the media layer's library (build/lib). Named by its full path: a
// bare name would be looked up from the caller of dlopen, which a sanitizer's interceptor is.
std::string OwnFormatsPath() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&mciSendStringA), &info) && info.dli_fname)
    return QFileInfo(QString::fromLocal8Bit(info.dli_fname)).absolutePath().toStdString() + "/" KV_OWN_FORMATS_LIBRARY;
  return KV_OWN_FORMATS_LIBRARY;
}

// FLAC (codec 1), Ogg Opus (codec 2) and, in VBWAV2WMA's own-state form, WMA (codec 3) through
// the program's own encoder library (FFmpeg), loaded on first use. The WAVE goes once the file
// is made; a failed encode keeps it and says why.
class OwnFormatEncoder : public ThreadEncoder {
 public:
  OwnFormatEncoder(int codec, const QString& title) : m_codec(codec), m_title(title.toStdString()) {}
  void Start(const QString& wave) override {
    Begin();
    static const SharedLibrary library(OwnFormatsPath());
    KvEncodeOwnFormatFn encode = nullptr;
    if (!library.Bind(encode, "kvEncodeOwnFormat")) {
      emit message(Failed(QStringLiteral(KV_OWN_FORMATS_LIBRARY " cannot be loaded")), Style());
      return Finish(false);
    }
    const QString ext = m_codec == 1 ? QStringLiteral("flac") : m_codec == 2 ? QStringLiteral("opus") : QStringLiteral("wma");
    if (m_codec == 3) m_title = PathBytes(WmaTitleFor(wave)).toStdString();  // the bytes the library is given
    const std::string in = PathBytes(wave).toStdString(), out = PathBytes(WithLastThree(wave, ext)).toStdString();
    Run([=, this](const std::atomic<bool>& cancel, QString* why) {
          char reason[512] = {};
          const auto keepGoing = [](void* flag) { return static_cast<const std::atomic<bool>*>(flag)->load() ? 0 : 1; };
          const bool made = encode(in.c_str(), out.c_str(), m_codec, m_title.c_str(), keepGoing,
                                   const_cast<std::atomic<bool>*>(&cancel), reason, sizeof reason) != 0;
          *why = QString::fromUtf8(reason);
          return made;
        },
        [this, wave](bool made, const QString& why) {
          if (made) RemoveFile(wave);
          else emit message(Failed(why), Style());
          Finish(made);
        });
  }

 private:
  // The WMA library's failure message for WMA; the program's own for its formats.
  QString Failed(const QString& why) const {
    return m_codec == 3 ? QStringLiteral("エンコード失敗") : QStringLiteral("エンコードに失敗しました。\r\n") + why;
  }
  int Style() const { return m_codec == 3 ? vbOKOnly : vbInformation; }
  const int m_codec;
  std::string m_title;
};

// GoGo's own-state form: the same LAME encoder as gogo.dll with the same settings (quality 5).
class GogoOwnEncoder : public ThreadEncoder {
 public:
  explicit GogoOwnEncoder(const EncoderChoice& c) : m_choice(c) {}
  void Start(const QString& wave) override {
    Begin();
    mp3::EncodeOptions opt;
    opt.bitrateKbps = m_choice.bitrate;
    opt.mode = m_choice.jointStereo ? mp3::ChannelMode::JointStereo : mp3::ChannelMode::Stereo;
    opt.quality = 5;
    opt.inputRate = m_choice.inputRate;
    const std::string in = PathBytes(wave).toStdString(), out = PathBytes(WithLastThree(wave, QStringLiteral("mp3"))).toStdString();
    Run([in, out, opt](const std::atomic<bool>& cancel, QString* why) {
          mp3::Mp3Encoder encoder;
          Status s = encoder.openInput(in, opt);
          if (s) s = encoder.openOutput(out);
          if (!s) {
            *why = GogoDetectError(s.code());
            return false;
          }
          while (!cancel && !encoder.finished()) {
            s = encoder.step();
            if (!s) {
              *why = GogoFrameError(s.code());
              return false;
            }
          }
          return encoder.finished();
        },
        [this](bool made, const QString& why) {
          if (!why.isEmpty()) emit message(why, vbExclamation);
          Finish(made);
        });
  }

 private:
  const EncoderChoice m_choice;
};

// ACM's own-state form: a stream of its own on the system's MP3 codec, which VBMP3.dll drives.
class AcmOwnEncoder : public ThreadEncoder {
 public:
  explicit AcmOwnEncoder(const EncoderChoice& c) : m_choice(c) {}
  void Start(const QString& wave) override {
    Begin();
    const SharedLibrary* codec = nullptr;
    for (const QString& dir : {m_choice.systemFolder, m_choice.programFolder + QStringLiteral("/system")})
      if (!codec) codec = LoadLibraryIn(dir, QStringLiteral("L3CODECP.ACM"));
    l3codec_open_fn open = nullptr;
    l3codec_start_fn start = nullptr;
    l3codec_encode_fn encode = nullptr;
    l3codec_close_fn close = nullptr;
    if (!codec || !codec->Bind(open, "l3codec_open") || !codec->Bind(start, "l3codec_start") ||
        !codec->Bind(encode, "l3codec_encode") || !codec->Bind(close, "l3codec_close"))
      return Finish(false);
    const std::string in = PathBytes(wave).toStdString(), out = PathBytes(WithLastThree(wave, QStringLiteral("mp3"))).toStdString();
    // As through the library, nothing is reported: a failed encode ends without an MP3.
    Run([=](const std::atomic<bool>& cancel, QString*) {
          std::unique_ptr<L3CODEC_STREAM, l3codec_close_fn> stream(open(in.c_str(), nullptr), close);
          if (!stream || start(stream.get(), out.c_str()) != 0) return false;
          int32_t r = L3CODEC_MORE;
          while (!cancel && (r = encode(stream.get(), nullptr)) == L3CODEC_MORE) {
          }
          return r == L3CODEC_DONE;
        },
        [this](bool, const QString&) { Finish(true); });
  }

 private:
  const EncoderChoice m_choice;
};

// GoGo and ACM leave the WAVE to the conversion, which deletes it whatever the result.
class WaveGoesAfter : public EncoderBackend {
 public:
  explicit WaveGoesAfter(std::unique_ptr<EncoderBackend> inner) : m_inner(std::move(inner)) {
    connect(m_inner.get(), &EncoderBackend::progress, this, &EncoderBackend::progress);
    connect(m_inner.get(), &EncoderBackend::message, this, &EncoderBackend::message);
    connect(m_inner.get(), &EncoderBackend::finished, this, [this](bool made) {
      RemoveFile(m_wave);
      Finish(made);
    });
  }
  QString ViewCaption() const override { return m_inner->ViewCaption(); }
  void Start(const QString& wave) override {
    Begin();
    m_wave = wave;
    m_inner->Start(wave);
  }
  void Cancel() override { m_inner->Cancel(); }

 private:
  std::unique_ptr<EncoderBackend> m_inner;
  QString m_wave;
};

}  // namespace

std::unique_ptr<EncoderBackend> MakeEncoder(const EncoderChoice& c, const QString& songTitle) {
  if (c.outputType == 1) {
    if (c.mp3Available[0] && c.mp3 == 0) return std::make_unique<ScmpxEncoder>(c);
    if (c.mp3Available[1] && c.mp3 == 1)
      return std::make_unique<WaveGoesAfter>(c.ownState ? std::unique_ptr<EncoderBackend>(std::make_unique<GogoOwnEncoder>(c))
                                                        : std::make_unique<GogoEncoder>(c));
    if (c.mp3Available[2] && c.mp3 == 2)
      return std::make_unique<WaveGoesAfter>(c.ownState ? std::unique_ptr<EncoderBackend>(std::make_unique<AcmOwnEncoder>(c))
                                                        : std::make_unique<AcmEncoder>(c.programFolder));
  } else if (c.outputType == 2) {
    if (c.wmaAvailable[0] && c.wma == 0) return std::make_unique<Wm8eutilEncoder>(c.wm8eutilPath);
    if (c.wmaAvailable[1] && c.wma == 1) {
      if (c.ownState) return std::make_unique<OwnFormatEncoder>(3, QString());
      return std::make_unique<WmaLibraryEncoder>(c.programFolder);
    }
  } else if (c.outputType == 3 || c.outputType == 4) {
    return std::make_unique<OwnFormatEncoder>(c.outputType == 3 ? 1 : 2, songTitle);
  }
  return nullptr;
}

EncoderChoice ChooseEncoder(const Settings& s, int outputType, const QString& programFolder,
                            const QString& systemFolder, const QString& windowsFolder) {
  EncoderChoice c;
  c.outputType = outputType;
  c.mp3 = s.EncoderDefault;
  c.wma = s.WmaEncoder;
  std::copy(std::begin(s.EncoderAvailable), std::end(s.EncoderAvailable), c.mp3Available);
  std::copy(std::begin(s.WmaAvailable), std::end(s.WmaAvailable), c.wmaAvailable);
  c.programFolder = programFolder;
  c.systemFolder = systemFolder;
  c.windowsFolder = windowsFolder;
  c.scmpxPath = s.ScmpxPath;
  c.wm8eutilPath = s.Wm8eutilPath;
  c.bitrate = s.Bitrate;
  c.jointStereo = s.StereoMode == QStringLiteral("Joint Stereo");
  c.fastEncode = s.FastEncode;
  return c;
}

}  // namespace kv
