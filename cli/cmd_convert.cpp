// korvessa convert: converts MIDI files with the program's own conversion engine, no window.
// It starts from Dorvanti.ini beside the program and never writes it.
#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <csignal>
#include <optional>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

#include "app/Globals.h"
#include "cli/Verbs.h"
#include "engine/ConversionController.h"
#include "engine/MediaCommands.h"
#include "engine/RecordingFormats.h"
#include "midi/SourceList.h"
#include "settings/StartUpChecks.h"
#include "settings/inifile_IO.h"
#include "shell/Dir.h"
#include "shell/FileName.h"
#include "shell/cSystemFolder.h"
#include "kernel32.h"
#include "syssetup.h"

using kv::G;

namespace {

// Set by SIGINT, SIGTERM or SIGHUP: the run stops after the current item, whose partial output goes.
volatile std::sig_atomic_t g_signal = 0;
void OnSignal(int sig) { g_signal = sig; }
void CatchSignals() {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, OnSignal);
}

struct Options {
  QString out;
  QString format = "wav";
  int sample = 0;
  QString delay;
  bool titleNames = false, normalize = false, headcut = false, realtime = false;
  bool peak = false;               // --normalize given
  std::optional<double> loudness;  // LUFS
  QString soundFont;
  QString encoder;
  int jobs = 0;  // cores to use; 0 = all
  QStringList files;
  QStringList passOn;  // the options again, for the parallel workers
};

int Parse(const QStringList& args, Options* o, QString* error) {
  bool optionsEnd = false;
  for (int i = 0; i < args.size(); ++i) {
    const QString a = args[i];
    if (optionsEnd) {
      o->files << a;
      continue;
    }
    auto value = [&](QString* v) {
      if (i + 1 >= args.size()) {
        *error = a + " needs a value";
        return false;
      }
      *v = args[++i];
      o->passOn << a << *v;
      return true;
    };
    QString v;
    if (a == "--out") {
      if (!value(&o->out)) return kExitUsage;
    } else if (a == "--format") {
      if (!value(&o->format)) return kExitUsage;
      if (!QStringList{"wav", "mp3", "wma", "flac", "opus"}.contains(o->format)) {
        *error = "--format takes wav, mp3, wma, flac or opus";
        return kExitUsage;
      }
    } else if (a == "--sample") {
      if (!value(&v)) return kExitUsage;
      bool ok = false;
      o->sample = v.toInt(&ok);
      if (!ok || o->sample < 101 || o->sample > 124) {
        *error = "--sample takes a template number 101-124";
        return kExitUsage;
      }
    } else if (a == "--delay") {
      if (!value(&o->delay)) return kExitUsage;
      bool ok = false;
      const double d = o->delay.toDouble(&ok);
      if (!ok || d < 0 || d >= 3276.8) {
        *error = "--delay takes seconds from 0 to 3276.7";
        return kExitUsage;
      }
    } else if (a == "--encoder") {
      if (!value(&o->encoder)) return kExitUsage;
      static const QStringList known = {"gogo", "acm", "scmpx", "vbwav2wma", "wm8eutil"};
      if (!known.contains(o->encoder)) {
        *error = "--encoder takes gogo, acm, scmpx, vbwav2wma or wm8eutil";
        return kExitUsage;
      }
    } else if (a == "--loudness") {
      if (!value(&v)) return kExitUsage;
      bool ok = false;
      const double lufs = v.toDouble(&ok);
      if (!ok || !(lufs >= -70 && lufs <= 0)) {
        *error = "--loudness takes a level in LUFS from -70 to 0";
        return kExitUsage;
      }
      o->loudness = lufs;
    } else if (a == "--soundfont") {
      if (!value(&o->soundFont)) return kExitUsage;
    } else if (a == "-j" || a == "--jobs") {
      QString j;
      if (i + 1 >= args.size()) {
        *error = a + " needs a value";
        return kExitUsage;
      }
      j = args[++i];
      bool ok = false;
      o->jobs = j.toInt(&ok);
      if (!ok || o->jobs < 1 || o->jobs > 64) {
        *error = "-j takes a number of cores from 1 to 64";
        return kExitUsage;
      }
    } else if (a == "--title-names" || a == "--normalize" || a == "--headcut" || a == "--realtime") {
      o->passOn << a;
      if (a == "--title-names") o->titleNames = true;
      if (a == "--normalize") o->normalize = o->peak = true;
      if (a == "--headcut") o->headcut = o->normalize = true;
      if (a == "--realtime") o->realtime = true;
    } else if (a == "--") {
      optionsEnd = true;  // a file named like an option follows
    } else if (a.startsWith("-") && a.size() > 1) {
      *error = "unknown option " + a;
      return kExitUsage;
    } else {
      o->files << a;
    }
  }
  if (o->peak && o->loudness) {
    *error = "--normalize and --loudness exclude each other";
    return kExitUsage;
  }
  if (o->files.isEmpty()) {
    *error = "convert needs at least one MIDI file";
    return kExitUsage;
  }
  return kExitOk;
}

// Several conversions at once: each worker is a process of its own with its own synthesizer,
// sharing out the cores. Started by the program's own process starter, so file names reach
// the workers as the bytes they are (QProcess would re-encode them).
int RunParallel(const Options& o) {
  const int n = std::min<int>(o.jobs, o.files.size());
  qputenv("KORVESSA_THREADS", QByteArray::number(std::max(1, o.jobs / n)));
  QList<QStringList> parts(n);
  for (int i = 0; i < o.files.size(); ++i) parts[i % n] << o.files[i];
  struct Worker {
    DWORD pid = 0;
    HANDLE h = nullptr;
    Worker() = default;
    Worker(const Worker&) = delete;
    ~Worker() {
      if (h) CloseHandle(h);
    }
  };
  std::vector<Worker> workers(static_cast<size_t>(n));
  const QByteArray program = kv::PathBytes(QCoreApplication::applicationFilePath());
  int rc = kExitOk;
  for (int i = 0; i < n; ++i) {
    QString params = QStringLiteral("convert");
    for (const QString& a : o.passOn + QStringList{QStringLiteral("--")} + parts[i]) params += u' ' + kv::Quoted(a);
    workers[static_cast<size_t>(i)].pid = kvSpawnProgram(program.constData(), kv::PathBytes(params).constData(), nullptr);
    if (workers[static_cast<size_t>(i)].pid) workers[static_cast<size_t>(i)].h = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, workers[static_cast<size_t>(i)].pid);
    if (!workers[static_cast<size_t>(i)].h) rc = kExitFailed;
  }
  CatchSignals();
  bool told = false;
  for (Worker& w : workers) {
    DWORD code = STILL_ACTIVE;
    while (w.h && GetExitCodeProcess(w.h, &code) && code == STILL_ACTIVE) {
      if (g_signal && !told) {
        told = true;
        for (const Worker& other : workers)
          if (other.pid) kill(pid_t(other.pid), SIGTERM);  // each worker cleans up its own item
      }
      Sleep(100);
    }
    if (code != 0) rc = kExitFailed;
  }
  return rc;
}

QString WithExtension(const QString& wavePath, const QString& format) {
  if (format == "wav") return wavePath;
  return wavePath.left(wavePath.size() - 3) + format;
}

int Convert(const QStringList& args) {
  Options o;
  QString error;
  if (Parse(args, &o, &error) != kExitOk) return KvUsage(error);
  if (o.jobs > 1 && o.files.size() > 1) return RunParallel(o);
  // One file at a time: its synthesizer may use -j N cores (all when not given).
  if (o.jobs > 0) qputenv("KORVESSA_THREADS", QByteArray::number(o.jobs));

  // Resolved now: start-up and --out change the current folder below.
  if (!o.out.isEmpty()) o.out = QDir::cleanPath(kv::AbsolutePath(o.out));
  QStringList absolute;
  QStringList given;  // the files that exist, as given
  int rc = kExitOk;
  for (const QString& f : o.files) {
    if (!kv::FileExists(f)) {
      // Named, and the others still convert.
      KvErr(QStringLiteral("korvessa: %1: no such file\n").arg(f));
      rc = kExitFailed;
      continue;
    }
    given << f;
    absolute << QDir::cleanPath(kv::AbsolutePath(f));
  }
  if (absolute.isEmpty()) return rc;

  // The system setup for this run only: the user's own file is not changed.
  QTemporaryDir scratch;
  if (o.realtime || !o.soundFont.isEmpty()) {
    kv::SystemSetup setup = kv::LoadSystemSetup();
    if (o.realtime) setup.fast = false;
    if (!o.soundFont.isEmpty()) {
      if (!QFileInfo(o.soundFont).isFile()) {
        KvErr(QStringLiteral("korvessa: %1: no such SoundFont\n").arg(o.soundFont));
        return kExitFailed;
      }
      setup.soundFont = QFileInfo(o.soundFont).absoluteFilePath().toStdString();
    }
    qputenv("KORVESSA_SYSTEM_INI", (scratch.path() + "/system.ini").toUtf8());
    if (!kv::SaveSystemSetup(setup)) {
      KvErr(QStringLiteral("korvessa: cannot prepare the system setup\n"));
      return kExitFailed;
    }
  }

  // A configured SoundFont that has gone: the run goes on with a default one, and says so.
  {
    const kv::SystemSetup setup = kv::LoadSystemSetup();
    const std::string used = kv::ResolveSoundFont(setup);
    if (!setup.soundFont.empty() && used != setup.soundFont && !used.empty())
      KvErr(QStringLiteral("korvessa: SoundFont %1 not found; using %2\n")
                .arg(QString::fromStdString(setup.soundFont), QString::fromStdString(used)));
  }

  // The settings as the window starts from them; nothing here writes them.
  auto& g = G();
  g.AppPath = QCoreApplication::applicationDirPath();
  inifile_IO ini;
  ini.setFileName(g.AppPath + QStringLiteral("/Dorvanti.ini"));
  static_cast<kv::Settings&>(g) = kv::ReadSettings(ini, 0, 0, g.AppPath);
  const cSystemFolder folders;
  kv::DetectEncoders(g, g.AppPath, folders.System(), folders.Windows());
  kv::CheckFolders(g, g.AppPath);
  kv::CheckWaveflt(g);

  kv::ConversionJob job;
  job.delay = g.WaitOn;
  job.delayTenths = g.WaitCount;
  job.titleToName = o.titleNames || g.TitleToName;
  const MediaLayer& media = CurrentMediaLayer();
  const int devices = (media.midiOutNumDevs ? int(media.midiOutNumDevs()) : 0) + 1;  // with the mapper
  job.port = (g.DefDevice >= 0 && g.DefDevice < devices ? g.DefDevice : 0) - 1;
  if (!o.out.isEmpty()) {
    if (!kv::FolderExists(o.out)) {
      KvErr(QStringLiteral("korvessa: %1: no such folder\n").arg(o.out));
      return kExitFailed;
    }
    g.WavePath = o.out;
    if (g.WavePath.endsWith('/')) g.WavePath.chop(1);
  }
  job.outputFolder = g.WavePath;
  // The recording format: the template asked for, else the last of the full list.
  job.sampleTemplate = o.sample ? o.sample : 124;
  job.sampleRate = TemplateRate(job.sampleTemplate);
  job.sampleBits = TemplateBits(job.sampleTemplate);
  if (!o.delay.isEmpty()) {
    const kv::DelayAnswer d = kv::ParseDelayAnswer(o.delay);
    job.delay = d.seconds > 0;
    job.delayTenths = d.tenths;
  }
  if (o.normalize || o.loudness) {
    if (g.WavefltPath.isEmpty()) {
      const QString tool = g.AppPath + "/tools/waveflt.exe";
      if (QFileInfo(tool).isFile()) g.WavefltPath = tool;
    }
    if (g.WavefltPath.isEmpty()) {
      KvErr(QStringLiteral("korvessa: %1 needs waveflt.exe (build/bin/tools/waveflt.exe)\n")
                .arg(o.loudness ? "--loudness" : "--normalize"));
      return kExitFailed;
    }
    job.normalise = true;
    job.headCut = o.headcut;
    job.loudness = o.loudness;
    job.ownFilterInput = true;  // -j N runs share the output folder
  }
  const int type = int(QStringList{"wav", "mp3", "wma", "flac", "opus"}.indexOf(o.format));
  if (!o.encoder.isEmpty()) {
    const QHash<QString, std::pair<int, int>> enc = {{"scmpx", {1, 0}}, {"gogo", {1, 1}},    {"acm", {1, 2}},
                                                     {"wm8eutil", {2, 0}}, {"vbwav2wma", {2, 1}}};
    const auto [kind, number] = enc.value(o.encoder);
    if (kind != type) return KvUsage(QStringLiteral("--encoder %1 does not make %2 files").arg(o.encoder, o.format));
    // A command-line encoder not configured in the settings is taken from build/bin/tools.
    QString* const path = o.encoder == "scmpx" ? &g.ScmpxPath : o.encoder == "wm8eutil" ? &g.Wm8eutilPath : nullptr;
    const QString tool = g.AppPath + "/tools/" + o.encoder + ".exe";
    if (path && *path == kv::NonePath() && QFileInfo(tool).isFile()) {
      *path = tool;
      (kind == 1 ? g.EncoderAvailable : g.WmaAvailable)[number] = true;
    }
    if (kind == 1) g.EncoderDefault = short(number);
    else g.WmaEncoder = short(number);
  }
  if (type == 1 && (g.EncoderDefault < 0 || !g.EncoderAvailable[g.EncoderDefault])) {
    KvErr(QStringLiteral("korvessa: no MP3 encoder is available (see the encoder settings)\n"));
    return kExitFailed;
  }
  if (type == 2 && (g.WmaEncoder < 0 || !g.WmaAvailable[g.WmaEncoder])) {
    KvErr(QStringLiteral("korvessa: no WMA encoder is available (see the encoder settings)\n"));
    return kExitFailed;
  }
  kv::EncoderChoice& e = job.encoder;
  e.outputType = type;
  e.mp3 = g.EncoderDefault;
  e.wma = g.WmaEncoder;
  std::copy(std::begin(g.EncoderAvailable), std::end(g.EncoderAvailable), e.mp3Available);
  std::copy(std::begin(g.WmaAvailable), std::end(g.WmaAvailable), e.wmaAvailable);

  // One batch run over the files, from the first.
  job.sources = absolute;
  job.entry = 0;
  job.batch = true;
  QStringList outputs;
  for (const QString& f : absolute) outputs << WithExtension(kv::SourceList::OutputName(f, job.titleToName, g.WavePath, nullptr), o.format);

  kv::ConversionController engine;
  QObject::connect(&engine, &kv::ConversionController::message, [](const QString& text, int) {
    KvErr(QStringLiteral("korvessa: ") + QString(text).replace("\r\n", " ") + "\n");
  });
  const bool terminal = isatty(fileno(stderr));
  int item = 0;
  QObject::connect(&engine, &kv::ConversionController::itemStarted, [&](int, const QString& midi, const QString&) {
    ++item;
    if (terminal) KvErr(QStringLiteral("[%1/%2] %3\n").arg(item).arg(absolute.size()).arg(QFileInfo(midi).fileName()));
  });
  QEventLoop loop;
  bool over = false;
  QObject::connect(&engine, &kv::ConversionController::finished, [&] {
    over = true;
    loop.quit();
  });
  CatchSignals();
  QString interrupted;  // the item running when a signal came
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (!g_signal || !interrupted.isEmpty()) return;
    interrupted = engine.MidiFile().isEmpty() ? absolute.first() : engine.MidiFile();
    engine.StopRun();
  });
  watch.start(50);
  const QDateTime started = QDateTime::currentDateTime().addSecs(-1);
  engine.StartConversion(job);
  if (!over) loop.exec();
  watch.stop();

  if (g_signal) {
    // The stopped item holds only part of its song: it must not stand as a finished output.
    const int at = absolute.indexOf(interrupted);
    if (at >= 0) kv::RemoveFile(outputs[at]);
    KvErr(QStringLiteral("korvessa: interrupted\n"));
    rc = 128 + g_signal;
  }
  for (int i = 0; i < outputs.size(); ++i) {
    // A whole header is a finished recording, even of a song without notes (no samples); a
    // song whose recording got nothing has no file left (the conversion removes it).
    struct stat st {};
    const bool made = ::stat(kv::PathBytes(outputs[i]).constData(), &st) == 0 && S_ISREG(st.st_mode) &&
                      QDateTime::fromSecsSinceEpoch(st.st_mtime) >= started && st.st_size >= 58;
    if (made) {
      KvOut(outputs[i] + "\n");
    } else {
      KvErr(QStringLiteral("korvessa: %1: not converted\n").arg(given[i]));
      if (rc == kExitOk) rc = kExitFailed;
    }
  }
  return rc;
}

const KvVerb kConvert({"convert",
                       "convert [--out DIR] [--format wav|mp3|wma|flac|opus] [--encoder gogo|acm|scmpx|vbwav2wma|wm8eutil]\n"
                       "                   [--sample N] [--delay SECONDS] [--title-names] [--normalize | --loudness LUFS]\n"
                       "                   [--headcut] [--realtime] [--soundfont PATH] [-j N] [--] FILE...\n"
                       "                    converts MIDI files as the window does (N = template 101-124);\n"
                       "                    -j N uses N cores: several files side by side, or one file's\n"
                       "                    synthesizer on N threads (default: all cores, one file at a time);\n"
                       "                    --loudness brings each output to LUFS integrated loudness\n"
                       "                    (true peak at most -1 dBTP) instead of --normalize's peak level",
                       Convert});

}  // namespace
