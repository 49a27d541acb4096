// korvessa convert: converts MIDI files with the program's own conversion engine, no window.
// It starts from Dorvanti.ini beside the program and never writes it.
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>

#include "cli/Inputs.h"
#include "cli/ItemRunner.h"
#include "cli/Report.h"
#include "cli/Verbs.h"
#include "engine/ConversionController.h"
#include "engine/MediaCommands.h"
#include "engine/RecordingFormats.h"
#include "engine/Workers.h"
#include "settings/StartUpChecks.h"
#include "settings/inifile_IO.h"
#include "shell/FileName.h"
#include "shell/cSystemFolder.h"
#include "kernel32.h"
#include "syssetup.h"

namespace {

struct Options {
  QString out;
  QString format = "wav";
  int sample = 0;
  QString delay;
  bool titleNames = false, normalize = false, headcut = false, realtime = false;
  bool peak = false;               // --normalize given
  std::optional<double> loudness;  // LUFS
  QString soundFont;
  std::optional<double> tail;  // seconds; kv::kTailAuto for "auto"
  std::optional<int> loops;    // times a marked loop plays
  std::optional<int> fadeMs;   // its fade-out
  QString encoder;
  int jobs = 0;  // cores to use; 0 = all
  bool skipExisting = false;
  bool stems = false;
  QString manifest;
  int shardK = 1, shardN = 1;  // the run's slice of the input list
  bool help = false;
  QStringList files;   // files and folders
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
    } else if (a == "--tail") {
      if (!value(&v)) return kExitUsage;
      double seconds = 0;
      if (!kv::ParseTail(v.toStdString(), seconds)) {
        *error = "--tail takes auto or seconds from 0 to 60";
        return kExitUsage;
      }
      o->tail = seconds;
    } else if (a == "--loops") {
      if (!value(&v)) return kExitUsage;
      bool ok = false;
      const int n = v.toInt(&ok);
      if (!ok || n < 0 || n > kv::kMaxLoops) {
        *error = QStringLiteral("--loops takes a count from 0 to %1").arg(kv::kMaxLoops);
        return kExitUsage;
      }
      o->loops = n;
    } else if (a == "--fade") {
      if (!value(&v)) return kExitUsage;
      bool ok = false;
      const double seconds = v.toDouble(&ok);
      if (!ok || !(seconds >= 0 && seconds <= kv::kMaxFadeMs / 1000)) {
        *error = QStringLiteral("--fade takes seconds from 0 to %1").arg(kv::kMaxFadeMs / 1000);
        return kExitUsage;
      }
      o->fadeMs = int(seconds * 1000 + 0.5);
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
    } else if (a == "--manifest") {
      if (!value(&o->manifest)) return kExitUsage;
    } else if (a == "--shard") {
      if (!value(&v)) return kExitUsage;
      o->passOn.resize(o->passOn.size() - 2);  // each worker gets its own slice
      if (!kvcli::ParseShard(v, &o->shardK, &o->shardN)) {
        *error = "--shard takes K/N, the K-th of N slices (1 <= K <= N)";
        return kExitUsage;
      }
    } else if (a == "--title-names" || a == "--normalize" || a == "--headcut" || a == "--realtime" ||
               a == "--skip-existing" || a == "--stems") {
      o->passOn << a;
      if (a == "--title-names") o->titleNames = true;
      if (a == "--normalize") o->normalize = o->peak = true;
      if (a == "--headcut") o->headcut = o->normalize = true;
      if (a == "--realtime") o->realtime = true;
      if (a == "--skip-existing") o->skipExisting = true;
      if (a == "--stems") o->stems = true;
    } else if (a == "-h" || a == "--help") {
      o->help = true;
      return kExitOk;
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
    *error = "convert needs at least one MIDI file or folder";
    return kExitUsage;
  }
  return kExitOk;
}

// Reports of the worker threads, one at a time, under the items' indexes in the whole run.
class SharedReport : public kvcli::ItemListener {
 public:
  SharedReport(kvcli::ItemListener& to, std::mutex& mu, int index) : to_(to), mu_(mu), index_(index) {}
  void Started(int) override {
    std::lock_guard lock(mu_);
    to_.Started(index_);
  }
  void Finished(int, const kvcli::Outcome& o) override {
    std::lock_guard lock(mu_);
    to_.Finished(index_, o);
  }
  void Said(const QString& text) override {
    std::lock_guard lock(mu_);
    to_.Said(text);
  }

 private:
  kvcli::ItemListener& to_;
  std::mutex& mu_;
  const int index_;
};

// "48000 Hz 16-bit stereo": the recording format of a template, as its header gives it.
QString FormatText(int sampleTemplate) {
  const QByteArray header = WaveTemplate(sampleTemplate);
  const int channels = header.size() > 22 ? header[22] : 0;
  return QStringLiteral("%1 Hz %2-bit %3")
      .arg(TemplateRate(sampleTemplate))
      .arg(TemplateBits(sampleTemplate))
      .arg(channels == 1 ? QStringLiteral("mono") : QStringLiteral("stereo"));
}

int Convert(const QStringList& args) {
  Options o;
  QString error;
  if (Parse(args, &o, &error) != kExitOk) return KvUsage(error);
  if (o.help) {
    KvOut(KvUsageText("convert"));
    return kExitOk;
  }

  // Resolved now, as the user meant them from where the command was given.
  for (QString& f : o.files) f = QDir::cleanPath(kv::AbsolutePath(f));
  if (!o.out.isEmpty()) o.out = QDir::cleanPath(kv::AbsolutePath(o.out));
  if (!o.manifest.isEmpty()) o.manifest = kv::AbsolutePath(o.manifest);

  // The system setup for this run only: the user's own file is not changed.
  QTemporaryDir scratch;
  if (o.realtime || !o.soundFont.isEmpty() || o.tail || o.loops || o.fadeMs) {
    kv::SystemSetup setup = kv::LoadSystemSetup();
    if (o.realtime) setup.fast = false;
    if (o.tail) setup.tailSeconds = *o.tail;
    if (o.loops) setup.loops = *o.loops;
    if (o.fadeMs) setup.fadeMs = *o.fadeMs;
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
  const kv::SystemSetup setup = kv::LoadSystemSetup();
  const std::string soundFont = kv::ResolveSoundFont(setup);
  if (!setup.soundFont.empty() && soundFont != setup.soundFont && !soundFont.empty())
    KvErr(QStringLiteral("korvessa: SoundFont %1 not found; using %2\n")
              .arg(QString::fromStdString(setup.soundFont), QString::fromStdString(soundFont)));

  // The settings as the window starts from them; nothing here writes them.
  const QString appPath = QCoreApplication::applicationDirPath();
  inifile_IO ini;
  ini.setFileName(appPath + QStringLiteral("/Dorvanti.ini"));
  kv::Settings g = kv::ReadSettings(ini, 0, 0, appPath);
  const cSystemFolder folders;
  kv::DetectEncoders(g, appPath, folders.System(), folders.Windows());
  kv::CheckFolders(g, appPath);
  kv::CheckWaveflt(g);

  // The inputs and their outputs, checked as a whole before anything starts.
  kvcli::Naming naming;
  naming.outRoot = o.out.isEmpty() ? g.WavePath : o.out;
  if (naming.outRoot.endsWith('/')) naming.outRoot.chop(1);
  naming.extension = o.format;
  naming.titleToName = o.titleNames || g.TitleToName;
  QStringList problems;
  QList<kvcli::Item> items = kvcli::CollectItems(o.files, naming, &problems);
  const QStringList clashes = kvcli::OutputClashes(items);
  for (const QString& c : clashes) KvErr(QStringLiteral("korvessa: %1\n").arg(c));
  if (!clashes.isEmpty()) {
    KvErr(QStringLiteral("korvessa: nothing converted: each input needs an output of its own\n"));
    return kExitFailed;
  }
  for (const QString& p : problems) KvErr(QStringLiteral("korvessa: %1\n").arg(p));
  if (items.isEmpty()) return kExitFailed;
  if (o.shardN > 1) items = kvcli::Shard(items, o.shardK, o.shardN);
  // Several files side by side: one worker thread per core, each with its own synthesizer on
  // the one loaded SoundFont. One file at a time: its synthesizer may use the cores (all when
  // -j is not given).
  const int workers = std::max<int>(1, std::min<int>(o.jobs, int(items.size())));
  if (o.jobs > 0) qputenv("KORVESSA_THREADS", QByteArray::number(std::max(1, o.jobs / workers)));

  kv::ConversionJob job;
  job.delay = g.WaitOn;
  job.delayTenths = g.WaitCount;
  job.titleToName = naming.titleToName;
  const MediaLayer& media = CurrentMediaLayer();
  const int devices = (media.midiOutNumDevs ? int(media.midiOutNumDevs()) : 0) + 1;  // with the mapper
  job.port = (g.DefDevice >= 0 && g.DefDevice < devices ? g.DefDevice : 0) - 1;
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
      const QString tool = appPath + "/tools/waveflt.exe";
      if (QFileInfo(tool).isFile()) g.WavefltPath = tool;
    }
    if (g.WavefltPath.isEmpty()) {
      KvErr(QStringLiteral("korvessa: %1 needs waveflt.exe (build/bin/tools/waveflt.exe)\n")
                .arg(o.loudness ? "--loudness" : "--normalize"));
      return kExitFailed;
    }
    job.normalise = true;
    job.waveFilter = g.WavefltPath;
    job.headCut = o.headcut;
    job.loudness = o.loudness;
  }
  const int type = int(QStringList{"wav", "mp3", "wma", "flac", "opus"}.indexOf(o.format));
  if (!o.encoder.isEmpty()) {
    const QHash<QString, std::pair<int, int>> enc = {{"scmpx", {1, 0}}, {"gogo", {1, 1}},    {"acm", {1, 2}},
                                                     {"wm8eutil", {2, 0}}, {"vbwav2wma", {2, 1}}};
    const auto [kind, number] = enc.value(o.encoder);
    if (kind != type) return KvUsage(QStringLiteral("--encoder %1 does not make %2 files").arg(o.encoder, o.format));
    // A command-line encoder not configured in the settings is taken from build/bin/tools.
    QString* const path = o.encoder == "scmpx" ? &g.ScmpxPath : o.encoder == "wm8eutil" ? &g.Wm8eutilPath : nullptr;
    const QString tool = appPath + "/tools/" + o.encoder + ".exe";
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
  job.encoder = kv::ChooseEncoder(g, type, appPath, folders.System(), folders.Windows());
  job.encoder.inputRate = job.sampleRate;
  // Each encode keeps its state to itself (the same files as the window's shared libraries
  // make), so workers side by side never take turns and nothing changes the current folder.
  job.encoder.ownState = true;
  // No window waits to show GoGo's progress: the MP3 is made while the song records.
  job.encodeWhileRecording = true;

  if (!o.out.isEmpty()) {
    std::error_code ec;
    std::filesystem::create_directories(kv::PathBytes(o.out).toStdString(), ec);
    if (ec) {
      KvErr(QStringLiteral("korvessa: %1: cannot make the folder (%2)\n").arg(o.out, QString::fromStdString(ec.message())));
      return kExitFailed;
    }
  }
  kvcli::Manifest manifest;
  if (!o.manifest.isEmpty() && !manifest.Open(o.manifest, &error)) {
    KvErr(QStringLiteral("korvessa: %1\n").arg(error));
    return kExitFailed;
  }
  kvcli::Report report(items, manifest, setup, FormatText(job.sampleTemplate));
  kvcli::CatchEndSignals();
  if (workers == 1) {
    kvcli::Staging staging(naming.outRoot);
    kvcli::ConvertItems(items, job, o.skipExisting, staging, report, o.stems);
  } else {
    std::vector<std::unique_ptr<kvcli::Staging>> staging;  // each worker converts in a folder of its own
    for (int w = 0; w < workers; ++w) staging.push_back(std::make_unique<kvcli::Staging>(naming.outRoot, w));
    std::mutex mu;
    kv::RunOnWorkers(workers, int(items.size()), [&](int i, int worker) {
      SharedReport shared(report, mu, i);
      return kvcli::ConvertItems({items[i]}, job, o.skipExisting, *staging[size_t(worker)], shared, o.stems);
    });
  }
  report.End();
  if (const int sig = kvcli::EndSignal()) {
    KvErr(QStringLiteral("korvessa: interrupted\n"));
    return 128 + sig;
  }
  return problems.isEmpty() && report.AllDone() ? kExitOk : kExitFailed;
}

const KvVerb kConvert({"convert",
                       "convert [--out DIR] [--format wav|mp3|wma|flac|opus] [--encoder gogo|acm|scmpx|vbwav2wma|wm8eutil]\n"
                       "                   [--sample N] [--delay SECONDS] [--title-names] [--normalize | --loudness LUFS]\n"
                       "                   [--headcut] [--realtime] [--soundfont PATH] [--tail auto|SECONDS]\n"
                       "                   [--loops N] [--fade SECONDS]\n"
                       "                   [-j N] [--skip-existing] [--stems]\n"
                       "                   [--manifest FILE] [--shard K/N] [--] FILE|FOLDER...\n"
                       "                    converts MIDI files as the window does (N = template 101-124);\n"
                       "                    a FOLDER gives every .mid/.rmi file under it, its tree mirrored\n"
                       "                    under DIR; --skip-existing leaves outputs already made;\n"
                       "                    --tail keeps a song's sound after its end until it has decayed\n"
                       "                    (auto, the default) or for SECONDS (0: none);\n"
                       "                    --manifest appends one JSON line per input; --shard K/N converts\n"
                       "                    the K-th of N slices of the inputs; --loudness brings each output\n"
                       "                    to LUFS integrated loudness (true peak at most -1 dBTP) instead of\n"
                       "                    --normalize's peak level; a song with a marked loop (controller 111,\n"
                       "                    loopStart/loopEnd) plays it --loops times (default 2, 0: straight\n"
                       "                    through), then fades out over --fade seconds (default 10);\n"
                       "                    --stems also writes NAME.stems/CC PRESET.ext beside each output,\n"
                       "                    one per MIDI channel that sounds, adding up to the output;\n"
                       "                    -j N uses N cores: several files side by\n"
                       "                    side, or one file's synthesizer on N threads (the same\n"
                       "                    samples on any number; default: all cores, one file at a time)",
                       Convert});

}  // namespace
