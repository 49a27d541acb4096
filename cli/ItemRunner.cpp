#include "cli/ItemRunner.h"

#include <QFile>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <utility>

#include "midi/MIDInfo.h"
#include "synth_lanes.h"
#include "syssetup.h"
#include "midi/SourceList.h"
#include "shell/FileName.h"
#include "owned.h"

namespace kvcli {

namespace {

volatile std::sig_atomic_t g_signal = 0;
void OnSignal(int sig) { g_signal = sig; }

QString StagingPrefix() {
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  return QStringLiteral(".korvessa-") + kv::PathText(QByteArray(host)) + u'-';
}

void RemoveTree(const QString& path) {
  std::error_code ec;
  std::filesystem::remove_all(kv::PathBytes(path).toStdString(), ec);
}

QString FolderOf(const QString& path) { return path.left(path.lastIndexOf(u'/')); }

// An older output that the user protected, or in a folder that takes no change, stays.
bool Replaceable(const QString& output) {
  const QString folder = FolderOf(output);
  return !kv::WriteProtected(output) &&
         access(kv::PathBytes(folder.isEmpty() ? QStringLiteral("/") : folder).constData(), W_OK | X_OK) == 0;
}

// Moves a finished result to its output path, its data on disk first: a machine that goes
// down right after the rename must not leave an empty file under the final name.
QString Promote(const QString& staged, const QString& output) {
  std::error_code ec;
  std::filesystem::create_directories(kv::PathBytes(FolderOf(output)).toStdString(), ec);
  if (kv::UniqueFd fd{open(kv::PathBytes(staged).constData(), O_RDONLY)}) fdatasync(fd.get());
  if (::rename(kv::PathBytes(staged).constData(), kv::PathBytes(output).constData()) != 0)
    return QStringLiteral("cannot move the result to %1 (%2)").arg(output, strerror(errno));
  return {};
}

}  // namespace

Staging::Staging(const QString& root, int worker) : root_(root), worker_(worker) { RemoveStale(); }

Staging::~Staging() {
  Clear();
  ClearStemCache();
  RemoveStale();
}

void Staging::Clear() {
  if (!folder_.isEmpty()) RemoveTree(std::exchange(folder_, QString()));
}

QString Staging::StemCache() {
  if (stemCache_.isEmpty()) {
    QString folder = root_ + "/" + StagingPrefix() + QString::number(getpid());
    if (worker_) folder += u'.' + QString::number(worker_);
    folder += QStringLiteral(".stems");
    RemoveTree(folder);
    if (mkdir(kv::PathBytes(folder).constData(), 0700) == 0) stemCache_ = folder;
  }
  return stemCache_;
}

void Staging::ClearStemCache() {
  if (!stemCache_.isEmpty()) RemoveTree(std::exchange(stemCache_, QString()));
}

QString Staging::Folder() {
  if (folder_.isEmpty()) {
    QString folder = root_ + "/" + StagingPrefix() + QString::number(getpid());
    if (worker_) folder += u'.' + QString::number(worker_);
    RemoveTree(folder);  // left by an earlier process that had this number
    if (mkdir(kv::PathBytes(folder).constData(), 0755) == 0) folder_ = folder;
  }
  return folder_;
}

void Staging::RemoveStale() const {
  const QString prefix = StagingPrefix();
  kv::UniqueDir dir{opendir(kv::PathBytes(root_.isEmpty() ? QStringLiteral("/") : root_).constData())};
  while (dir) {
    const dirent* e = readdir(dir.get());
    if (!e) break;
    const QString name = kv::PathText(QByteArray(e->d_name));
    bool number = false;
    const long pid = name.startsWith(prefix) ? name.mid(prefix.size()).section(u'.', 0, 0).toLong(&number) : 0;
    if (number && pid > 0 && kill(pid_t(pid), 0) != 0 && errno == ESRCH) RemoveTree(root_ + "/" + name);
  }
}

bool StemPaths(const QString& input, const QString& output, QList<std::pair<int, QString>>& stems, QString& error) {
  std::vector<std::pair<int, std::string>> channels;
  std::string why;
  stems.clear();
  if (!kv::media::SoundingChannels(kv::PathBytes(input).toStdString(), channels, why)) {
    error = QString::fromStdString(why);
    return false;
  }
  const int dot = output.lastIndexOf(u'.');
  const QString base = output.left(dot), extension = output.mid(dot);
  for (const auto& [channel, preset] : channels) {
    // A preset name is the SoundFont's text: no folder separators in a file name.
    QString label = QString::fromUtf8(preset.c_str()).trimmed().replace(u'/', u'_');
    if (label.isEmpty()) label = QStringLiteral("Channel");
    stems.append({channel, QStringLiteral("%1.stems/%2 %3%4").arg(base).arg(channel, 2, 10, QChar(u'0')).arg(label, extension)});
  }
  return true;
}

void CatchEndSignals() {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, OnSignal);
}

int EndSignal() { return g_signal; }

bool ConvertItems(const QList<Item>& items, kv::ConversionJob job, bool skipExisting, Staging& staging,
                  ItemListener& listener, bool stems) {
  kv::ConversionController engine;
  job.sources.clear();
  for (const Item& item : items) job.sources << item.input;
  job.batch = false;  // one item at a time: each result is moved into place before the next

  // What the engine does with the current item.
  int selections = 0;
  bool started = false, over = false, stopping = false;
  QStringList said;
  QString folder, outFolder;
  QEventLoop loop;
  QObject::connect(&engine, &kv::ConversionController::message, [&](const QString& text, int) {
    // The user knows the output folder, not the staging one.
    QString line = QString(text).replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    line.replace(folder + "/", outFolder + "/");
    said << line;
    listener.Said(line);
  });
  QObject::connect(&engine, &kv::ConversionController::itemStarted, [&] { started = true; });
  // An item ends with the selection shown once; the engine moves it to the last entry before
  // that when the failure would fail every item, which ends the window's batch.
  QObject::connect(&engine, &kv::ConversionController::entrySelected, [&] { ++selections; });
  QObject::connect(&engine, &kv::ConversionController::finished, [&] {
    over = true;
    loop.quit();
  });
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (g_signal && !stopping && engine.Busy()) {
      stopping = true;
      engine.StopRun();
    }
  });
  watch.start(50);

  QString fatal;  // set when the rest of the run cannot succeed
  for (int i = 0; i < items.size(); ++i) {
    if (g_signal) return false;
    const Item& item = items[i];
    listener.Started(i);
    QElapsedTimer clock;
    clock.start();
    Outcome o;
    const auto finish = [&] {
      o.elapsed = double(clock.nsecsElapsed()) / 1e9;
      listener.Finished(i, o);
    };
    if (!item.error.isEmpty() || !fatal.isEmpty()) {
      o.error = item.error.isEmpty() ? fatal : item.error;
      finish();
      continue;
    }
    const MidiInfo info = ReadMidiInfo(item.input);
    if (!info.Title.isEmpty()) o.seconds = info.Length / 1000.0;
    QList<std::pair<int, QString>> stemPaths;
    if (stems && !StemPaths(item.input, item.output, stemPaths, o.error)) {
      listener.Said(o.error);
      finish();
      continue;
    }
    bool exists = kv::FileExists(item.output);
    for (const auto& stem : stemPaths) exists = exists && kv::FileExists(stem.second);
    if (exists && skipExisting) {
      o.status = Status::Skipped;
      for (const auto& stem : stemPaths) o.stems << stem.second;
      finish();
      continue;
    }
    if (exists && !Replaceable(item.output)) {
      o.error = item.output + QStringLiteral("が他のソフトで開かれています。");
      listener.Said(o.error);
      finish();
      continue;
    }
    folder = staging.Folder();
    outFolder = FolderOf(item.output);
    if (folder.isEmpty()) {
      fatal = o.error = QStringLiteral("保存先フォルダ ") + staging.Root() + QStringLiteral(" に書き込めません。");
      listener.Said(fatal);
      finish();
      continue;
    }
    job.entry = i;
    job.outputFolder = folder;
    // The output, then each stem: the same conversion of the song, its take being the mix (as
    // the sum of its channels) or one channel's share.
    // With the wave filter the stems get the gain and cut it chose for the mix (its plan).
    QByteArray plan;
    // The take of the mix leaves its channels' shares here; the stem takes play them back.
    if (stems) kv::SetThreadStemCache(kv::PathBytes(staging.StemCache()).toStdString());
    for (int take = 0; take <= stemPaths.size(); ++take) {
      if (stems) kv::SetThreadStem(take == 0 ? 0 : stemPaths[take - 1].first);
      if (stems && job.normalise) {
        job.filterPlan = folder + QStringLiteral("/mix.plan");
        job.useFilterPlan = take > 0;
        QFile planFile(job.filterPlan);
        if (take > 0 && (!planFile.open(QIODevice::WriteOnly) || planFile.write(plan) != plan.size())) {
          o.status = Status::Failed;
          o.error = QStringLiteral("cannot write ") + job.filterPlan;
          staging.Clear();
          break;
        }
      }
      started = over = false;
      selections = 0;
      said.clear();
      engine.StartConversion(job);
      if (!over) loop.exec();
      if (stems) kv::SetThreadStem(-2);

      // The engine names its result in the staging folder by the same rule as the output.
      const QString extension = item.output.mid(item.output.lastIndexOf(u'.'));
      const QString wave = kv::SourceList::OutputNameFor(item.input, info.Title.isEmpty() ? FileTitleOf(item.input) : info.Title,
                                                         job.titleToName, folder);
      const QString staged = wave.left(wave.size() - 4) + extension;
      const QString target = take == 0 ? item.output : stemPaths[take - 1].second;
      o.status = Status::Failed;
      if (stopping) {
        o.error = QStringLiteral("interrupted");
      } else if (!started || selections > 1) {
        fatal = o.error = said.isEmpty() ? QStringLiteral("not converted") : said.join(u' ');
      } else if (kv::FileExists(staged)) {
        o.error = Promote(staged, target);
        if (o.error.isEmpty()) o.status = Status::Converted;
        if (o.error.isEmpty() && take > 0) o.stems << target;
        // A recording the window left there when it was killed is this item's, and goes.
        kv::RemoveFile(outFolder + wave.mid(folder.size()) + QStringLiteral(".~rec"));
      } else {
        o.error = said.isEmpty() ? QStringLiteral("not converted") : said.join(u' ');
      }
      if (take == 0 && !job.filterPlan.isEmpty()) {
        QFile planFile(job.filterPlan);
        if (planFile.open(QIODevice::ReadOnly)) plan = planFile.readAll();
      }
      staging.Clear();
      if (o.status != Status::Converted) break;
      folder = staging.Folder();
      job.outputFolder = folder;
    }
    if (stems) {
      kv::SetThreadStemCache("");
      staging.ClearStemCache();
    }
    finish();
    if (stopping) return false;
  }
  return fatal.isEmpty();
}

}  // namespace kvcli
