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

#include <atomic>
#include <csignal>
#include <functional>
#include <mutex>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

#include "app/Globals.h"
#include "cli/Verbs.h"
#include "engine/ConversionController.h"
#include "engine/MediaCommands.h"
#include "engine/RecordingFormats.h"
#include "engine/Workers.h"
#include "midi/SourceList.h"
#include "settings/StartUpChecks.h"
#include "settings/inifile_IO.h"
#include "shell/Dir.h"
#include "shell/FileName.h"
#include "shell/cSystemFolder.h"
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
  QString soundFont;
  QString encoder;
  int jobs = 0;  // cores to use; 0 = all
  QStringList files;
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
      return true;
    };
    QString v;
    if (a == "--out") {
      if (!value(&o->out)) return kExitUsage;
    } else if (a == "--format") {
      if (!value(&o->format)) return kExitUsage;
      if (o->format != "wav" && o->format != "mp3" && o->format != "wma") {
        *error = "--format takes wav, mp3 or wma";
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
      if (a == "--title-names") o->titleNames = true;
      if (a == "--normalize") o->normalize = true;
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
  if (o->files.isEmpty()) {
    *error = "convert needs at least one MIDI file";
    return kExitUsage;
  }
  return kExitOk;
}

// Runs the engine on this thread over the job's sources, a batch from the first; `started` is
// called as each item starts. Returns the source that was running when a signal stopped the
// run (empty when none came).
QString RunEngine(const kv::ConversionJob& job, const std::function<void(const QString& midi)>& started) {
  kv::ConversionController engine;
  QObject::connect(&engine, &kv::ConversionController::message, [](const QString& text, int) {
    KvErr(QStringLiteral("korvessa: ") + QString(text).replace("\r\n", " ") + "\n");
  });
  QObject::connect(&engine, &kv::ConversionController::itemStarted,
                   [&](int, const QString& midi, const QString&) { started(midi); });
  QEventLoop loop;
  bool over = false;
  QObject::connect(&engine, &kv::ConversionController::finished, [&] {
    over = true;
    loop.quit();
  });
  QString interrupted;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (!g_signal || !interrupted.isEmpty()) return;
    interrupted = engine.MidiFile().isEmpty() ? job.sources.first() : engine.MidiFile();
    engine.StopRun();
  });
  watch.start(50);
  engine.StartConversion(job);
  if (!over) loop.exec();
  return interrupted;
}

QString WithExtension(const QString& wavePath, const QString& format) {
  if (format == "wav") return wavePath;
  return wavePath.left(wavePath.size() - 3) + format;
}

int Convert(const QStringList& args) {
  Options o;
  QString error;
  if (Parse(args, &o, &error) != kExitOk) return KvUsage(error);
  // Several files side by side: one worker thread per core, each with its own synthesizer on
  // the one loaded SoundFont. One file at a time: its synthesizer may use the cores (all when
  // -j is not given).
  const int workers = std::max<int>(1, std::min<int>(o.jobs, o.files.size()));
  if (o.jobs > 0) qputenv("KORVESSA_THREADS", QByteArray::number(std::max(1, o.jobs / workers)));

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
  if (o.normalize) {
    if (g.WavefltPath.isEmpty()) {
      const QString tool = g.AppPath + "/tools/waveflt.exe";
      if (QFileInfo(tool).isFile()) g.WavefltPath = tool;
    }
    if (g.WavefltPath.isEmpty()) {
      KvErr(QStringLiteral("korvessa: --normalize needs waveflt.exe (build/bin/tools/waveflt.exe)\n"));
      return kExitFailed;
    }
    job.normalise = true;
    job.headCut = o.headcut;
  }
  const int type = o.format == "wav" ? 0 : o.format == "mp3" ? 1 : 2;
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

  const bool terminal = isatty(fileno(stderr));
  std::atomic<int> item{0};
  const auto announce = [&](const QString& midi) {
    const int k = ++item;
    if (terminal) KvErr(QStringLiteral("[%1/%2] %3\n").arg(k).arg(absolute.size()).arg(QFileInfo(midi).fileName()));
  };
  CatchSignals();
  const QDateTime since = QDateTime::currentDateTime().addSecs(-1);
  QStringList interrupted;  // the items running when a signal came
  if (workers > 1) {
    std::mutex mu;
    kv::RunOnWorkers(workers, int(absolute.size()), [&](int i) {
      kv::ConversionJob one = job;
      one.sources = QStringList{absolute[i]};
      const QString stopped = RunEngine(one, announce);
      std::lock_guard<std::mutex> lock(mu);
      if (!stopped.isEmpty()) interrupted << stopped;
      return !g_signal;
    });
  } else if (const QString stopped = RunEngine(job, announce); !stopped.isEmpty()) {
    interrupted << stopped;
  }

  if (g_signal) {
    // A stopped item holds only part of its song: it must not stand as a finished output.
    for (const QString& stopped : interrupted)
      if (const int at = absolute.indexOf(stopped); at >= 0) kv::RemoveFile(outputs[at]);
    KvErr(QStringLiteral("korvessa: interrupted\n"));
    rc = 128 + g_signal;
  }
  for (int i = 0; i < outputs.size(); ++i) {
    // A whole header is a finished recording, even of a song without notes (no samples); a
    // song whose recording got nothing has no file left (the conversion removes it).
    struct stat st {};
    const bool made = ::stat(kv::PathBytes(outputs[i]).constData(), &st) == 0 && S_ISREG(st.st_mode) &&
                      QDateTime::fromSecsSinceEpoch(st.st_mtime) >= since && st.st_size >= 58;
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
                       "convert [--out DIR] [--format wav|mp3|wma] [--encoder gogo|acm|scmpx|vbwav2wma|wm8eutil]\n"
                       "                   [--sample N] [--delay SECONDS] [--title-names] [--normalize] [--headcut]\n"
                       "                   [--realtime] [--soundfont PATH] [-j N] [--] FILE...\n"
                       "                    converts MIDI files as the window does (N = template 101-124);\n"
                       "                    -j N uses N cores: several files side by side, or one file's\n"
                       "                    synthesizer on N threads (default: all cores, one file at a time)",
                       Convert});

}  // namespace
