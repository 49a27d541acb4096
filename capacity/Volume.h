// Which file system holds the output folder: its mount point (shown as the "drive" of the
// free-space label) and whether it is a network file system (whose capacity is not checked).
#pragma once
#include <QByteArray>
#include <QString>

namespace kv {

struct MountEntry {
  QString mountPoint;  // "/" when nothing better is known
  QString fsType;      // as the kernel names it ("ext4", "nfs4", "fuse.sshfs"); empty when unknown
};

// The mount whose mount point is the longest prefix of absPath, from the text of a
// /proc/<pid>/mountinfo file. absPath must be absolute and free of "." and "..".
MountEntry MountFromMountInfo(const QByteArray& mountinfo, const QString& absPath);
// The mount holding path (resolved through symbolic links; a missing folder counts as
// its nearest existing parent).
MountEntry MountOf(const QString& path);
// NFS, CIFS/SMB and sshfs.
bool IsNetworkFsType(const QString& fsType);
// A path starting with "//" or lying on a network file system.
bool IsNetworkPath(const QString& path);
// Free bytes of the volume holding path (all free blocks, not only those the caller may use);
// 0 when the query fails.
quint64 GetFreeBytes(const QString& path);
// n with "," between groups of three digits ("#,##0").
QString GroupedNumber(quint64 n);

}  // namespace kv
