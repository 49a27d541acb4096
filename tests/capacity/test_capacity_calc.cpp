// The capacity window's arithmetic and the volume helpers, without a window.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "capacity/Volume.h"
#include "capacity/frmSize.h"

namespace {

TEST(FormatMinSec, MinutesRoundDownAndSecondsCountUp) {
  const std::pair<float, const char*> cases[] = {
      {714.5f, "11分54秒"}, {-90.0f, "-2分30秒"}, {0.0f, "0分00秒"}, {-0.5f, "-1分59秒"}, {59.99f, "0分59秒"},
      // Past 546 minutes the minutes still read in full.
      {40000.0f, "666分40秒"}, {-40000.0f, "-667分20秒"}};
  for (const auto& [x, text] : cases) EXPECT_EQ(frmSize::FormatMinSec(x), QString::fromUtf8(text)) << x;
}

TEST(ComputeBar, SegmentsAreCumulativeWithGapsPerTrack) {
  const short counts[3] = {2, 1, 3};
  // T1 = 2*3 + 1104 = 1110; T2 = 1110 + 3 + 1107 = 2220; T3 = 2220 + 9 + 1101 = 3330.
  const auto b = frmSize::ComputeBar(4440, 3, counts, 1104, 1107, 1101, 5655);
  EXPECT_FLOAT_EQ(b.WaveWidth, 1413.75f);
  EXPECT_FLOAT_EQ(b.Mp3Width, 2827.5f);
  EXPECT_FLOAT_EQ(b.MidiWidth, 4241.25f);
  EXPECT_FALSE(b.Over);
  EXPECT_EQ(b.Text, QStringLiteral("CD-R空き時間：18分30秒"));
}

TEST(Volume, GroupedNumber) {
  for (auto [n, text] : {std::pair{0ull, "0"}, {999ull, "999"}, {1000ull, "1,000"}, {1234567890ull, "1,234,567,890"}})
    EXPECT_EQ(kv::GroupedNumber(n), QString(text));
}

TEST(Volume, MountInfoLongestMountPointWins) {
  const QByteArray info =
      "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
      "30 22 8:2 / /home rw,relatime shared:2 - xfs /dev/sda2 rw\n"
      "41 22 0:50 / /mnt/nas rw - nfs4 server:/export rw\n"
      "42 22 0:51 / /mnt/my\\040share rw - cifs //srv/share rw\n"
      "43 22 0:53 / /mnt/nas rw - tmpfs tmpfs rw\n";
  // A name that only starts like a mount point is not under it; the later of two mounts on one point is the one seen.
  for (auto [path, mount] : {std::pair{"/home/u/music", "/home xfs"}, {"/homework/a", "/ ext4"},
                             {"/mnt/my share/cd", "/mnt/my share cifs"}, {"/mnt/nas/x", "/mnt/nas tmpfs"}}) {
    const auto m = kv::MountFromMountInfo(info, path);
    EXPECT_EQ(m.mountPoint + " " + m.fsType, QString(mount)) << path;
  }
  EXPECT_EQ(kv::MountFromMountInfo("garbage\n", "/a").mountPoint, QStringLiteral("/"));
}

TEST(Volume, NetworkPathsAndFreeSpace) {
  for (const char* t : {"nfs", "nfs4", "cifs", "smb3", "fuse.sshfs"}) EXPECT_TRUE(kv::IsNetworkFsType(t)) << t;
  for (const char* t : {"ext4", "tmpfs", "overlay", ""}) EXPECT_FALSE(kv::IsNetworkFsType(t)) << t;
  QTemporaryDir dir;
  // A folder that does not exist yet belongs to its parent's volume.
  EXPECT_EQ(kv::MountOf(dir.path() + "/not/yet").mountPoint, kv::MountOf(dir.path()).mountPoint);
  EXPECT_GT(kv::GetFreeBytes(dir.path()), 0u);
  EXPECT_EQ(kv::GetFreeBytes(QStringLiteral("/no/such/folder")), 0u);
}

}  // namespace
