// The capacity window's arithmetic and the volume helpers, without a window.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include "capacity/Volume.h"
#include "capacity/frmSize.h"

namespace {

const short kNoFiles[3] = {0, 0, 0};

TEST(FormatMinSec, MinutesRoundDownAndSecondsCountUp) {
  EXPECT_EQ(frmSize::FormatMinSec(714.5f), QStringLiteral("11分54秒"));
  EXPECT_EQ(frmSize::FormatMinSec(-90.0f), QStringLiteral("-2分30秒"));
  EXPECT_EQ(frmSize::FormatMinSec(0.0f), QStringLiteral("0分00秒"));
  EXPECT_EQ(frmSize::FormatMinSec(-1.0f), QStringLiteral("-1分59秒"));
  EXPECT_EQ(frmSize::FormatMinSec(-0.5f), QStringLiteral("-1分59秒"));
  EXPECT_EQ(frmSize::FormatMinSec(59.99f), QStringLiteral("0分59秒"));
  EXPECT_EQ(frmSize::FormatMinSec(4440.0f), QStringLiteral("74分00秒"));
  EXPECT_EQ(frmSize::FormatMinSec(-9360.0f), QStringLiteral("-156分00秒"));
  // Past 546 minutes the minutes still read in full.
  EXPECT_EQ(frmSize::FormatMinSec(40000.0f), QStringLiteral("666分40秒"));
  EXPECT_EQ(frmSize::FormatMinSec(-40000.0f), QStringLiteral("-667分20秒"));
}

TEST(ComputeBar, EmptyDiscIsAllFree) {
  const auto b = frmSize::ComputeBar(4440, 4, kNoFiles, 0, 0, 0, 5655);
  EXPECT_EQ(b.WaveWidth, 0.0f);
  EXPECT_EQ(b.Mp3Width, 0.0f);
  EXPECT_EQ(b.MidiWidth, 0.0f);
  EXPECT_FALSE(b.Over);
  EXPECT_EQ(b.Text, QStringLiteral("CD-R空き時間：74分00秒"));
  EXPECT_EQ(frmSize::ComputeBar(4800, 4, kNoFiles, 0, 0, 0, 5655).Text, QStringLiteral("CD-R空き時間：80分00秒"));
}

TEST(ComputeBar, GapsAreAddedPerTrack) {
  const short three[3] = {0, 0, 3};
  auto b = frmSize::ComputeBar(4440, 4, three, 0, 0, 180, 5655);
  EXPECT_FLOAT_EQ(b.T3, 192.0f);
  EXPECT_EQ(b.Text, QStringLiteral("CD-R空き時間：70分48秒"));
  // 2 s of delay allowance per entry.
  b = frmSize::ComputeBar(4440, 4, three, 0, 0, 186, 5655);
  EXPECT_EQ(b.Text, QStringLiteral("CD-R空き時間：70分42秒"));
  // No gaps at all.
  b = frmSize::ComputeBar(4440, 0, three, 0, 0, 180, 5655);
  EXPECT_FLOAT_EQ(b.T3, 180.0f);
  EXPECT_EQ(b.Text, QStringLiteral("CD-R空き時間：71分00秒"));
}

TEST(ComputeBar, FullDiscFitsAndOneSecondMoreDoesNot) {
  const short one[3] = {1, 0, 0};
  auto b = frmSize::ComputeBar(4440, 4, one, 4436, 0, 0, 5655);
  EXPECT_FALSE(b.Over);
  EXPECT_EQ(b.Text, QStringLiteral("CD-R空き時間：0分00秒"));
  EXPECT_FLOAT_EQ(b.MidiWidth, 5655.0f);
  b = frmSize::ComputeBar(4440, 4, one, 4437, 0, 0, 5655);
  EXPECT_TRUE(b.Over);
  EXPECT_EQ(b.Text, QStringLiteral("CD-R空き時間：-1分59秒"));
  EXPECT_GT(b.MidiWidth, 5655.0f);
}

TEST(ComputeBar, SegmentsAreCumulative) {
  const short counts[3] = {2, 1, 3};
  // T1 = 2*3 + 1104 = 1110; T2 = 1110 + 3 + 1107 = 2220; T3 = 2220 + 9 + 1101 = 3330.
  const auto b = frmSize::ComputeBar(4440, 3, counts, 1104, 1107, 1101, 5655);
  EXPECT_FLOAT_EQ(b.T1, 1110.0f);
  EXPECT_FLOAT_EQ(b.T2, 2220.0f);
  EXPECT_FLOAT_EQ(b.T3, 3330.0f);
  EXPECT_FLOAT_EQ(b.WaveWidth, 1413.75f);
  EXPECT_FLOAT_EQ(b.Mp3Width, 2827.5f);
  EXPECT_FLOAT_EQ(b.MidiWidth, 4241.25f);
  EXPECT_EQ(b.Text, QStringLiteral("CD-R空き時間：18分30秒"));
}

TEST(Volume, GroupedNumber) {
  EXPECT_EQ(kv::GroupedNumber(0), QStringLiteral("0"));
  EXPECT_EQ(kv::GroupedNumber(999), QStringLiteral("999"));
  EXPECT_EQ(kv::GroupedNumber(1000), QStringLiteral("1,000"));
  EXPECT_EQ(kv::GroupedNumber(1234567890), QStringLiteral("1,234,567,890"));
  EXPECT_EQ(kv::GroupedNumber(922337203685477ULL), QStringLiteral("922,337,203,685,477"));
}

TEST(Volume, MountInfoLongestMountPointWins) {
  const QByteArray info =
      "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
      "30 22 8:2 / /home rw,relatime shared:2 - xfs /dev/sda2 rw\n"
      "41 22 0:50 / /mnt/nas rw - nfs4 server:/export rw\n"
      "42 22 0:51 / /mnt/my\\040share rw - cifs //srv/share rw\n"
      "43 30 0:52 / /home/u/remote rw,nosuid - fuse.sshfs u@host: rw\n"
      "44 22 0:53 / /mnt/nas rw - tmpfs tmpfs rw\n";
  auto m = kv::MountFromMountInfo(info, QStringLiteral("/home/u/music"));
  EXPECT_EQ(m.mountPoint, QStringLiteral("/home"));
  EXPECT_EQ(m.fsType, QStringLiteral("xfs"));
  // A name that only starts like a mount point is not under it.
  m = kv::MountFromMountInfo(info, QStringLiteral("/homework/a"));
  EXPECT_EQ(m.mountPoint, QStringLiteral("/"));
  EXPECT_EQ(m.fsType, QStringLiteral("ext4"));
  m = kv::MountFromMountInfo(info, QStringLiteral("/mnt/my share/cd"));
  EXPECT_EQ(m.mountPoint, QStringLiteral("/mnt/my share"));
  EXPECT_EQ(m.fsType, QStringLiteral("cifs"));
  m = kv::MountFromMountInfo(info, QStringLiteral("/home/u/remote"));
  EXPECT_EQ(m.fsType, QStringLiteral("fuse.sshfs"));
  // The later of two mounts on one point is the one seen.
  EXPECT_EQ(kv::MountFromMountInfo(info, QStringLiteral("/mnt/nas/x")).fsType, QStringLiteral("tmpfs"));
  // Nothing readable: the root.
  EXPECT_EQ(kv::MountFromMountInfo(QByteArray("garbage\n"), QStringLiteral("/a")).mountPoint, QStringLiteral("/"));
}

TEST(Volume, NetworkPaths) {
  for (const char* t : {"nfs", "nfs4", "cifs", "smb3", "smbfs", "fuse.sshfs"})
    EXPECT_TRUE(kv::IsNetworkFsType(QString::fromLatin1(t))) << t;
  for (const char* t : {"ext4", "tmpfs", "overlay", "fuse.gvfsd-fuse", ""})
    EXPECT_FALSE(kv::IsNetworkFsType(QString::fromLatin1(t))) << t;
  EXPECT_TRUE(kv::IsNetworkPath(QStringLiteral("//server/share")));
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString fs = kv::MountOf(dir.path()).fsType;
  EXPECT_EQ(kv::IsNetworkPath(dir.path()), kv::IsNetworkFsType(fs)) << fs.toStdString();
  // A folder that does not exist yet belongs to its parent's volume.
  EXPECT_EQ(kv::MountOf(dir.path() + "/not/yet").mountPoint, kv::MountOf(dir.path()).mountPoint);
}

TEST(Volume, FreeBytesOfAMissingFolderIsZero) {
  EXPECT_EQ(kv::GetFreeBytes(QStringLiteral("/no/such/folder/anywhere")), 0u);
  QTemporaryDir dir;
  EXPECT_GT(kv::GetFreeBytes(dir.path()), 0u);
}

}  // namespace
