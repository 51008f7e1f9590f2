// Decides whether the history folder can be used right now: does it lie on an external
// volume, is that volume mounted, may we reach it, can the folder be created and written. It
// also lists a folder's PNG files. The file-system primitives are function fields so every rule
// can be exercised with failing ones; `system()` supplies the real ones.
//
//   auto access = HistoryFolderAccess::system();
//   if (auto ready = access.prepare(folder); !ready) report(ready.error());
#pragma once

#include "core/Expected.h"
#include "history/HistoryError.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace quillet {

// The answer about access to the volume of a folder.
enum class VolumeAccess { notExternal, notMounted, granted, denied };

struct HistoryFolderAccess {
    // Folders under which external volumes are mounted; each volume is one entry directly inside
    // a root ("/media/anna/Disk" for a folder "/media/anna/Disk/Shots").
    QStringList volumesRoots;
    std::function<bool(const QString& path)> isMountPoint;
    // Creates the folder and every missing parent; an existing folder is success.
    std::function<Expected<void, FileError>(const QString& path)> createDirectory;
    // Every entry name of a folder, hidden ones included.
    std::function<Expected<QStringList, FileError>(const QString& path)> listDirectory;
    // The names of a folder's regular files (or links to them) without hidden ones; pipes,
    // sockets and devices are left out without being opened.
    std::function<Expected<QStringList, FileError>(const QString& path)> listFolder;
    // Whether the current user may create files in the folder.
    std::function<bool(const QString& path)> isWritable;

    // The roots "/media/<user>", "/run/media/<user>" and "/mnt" with the real primitives.
    static HistoryFolderAccess system();
    // A mount point is told from a folder left behind after its disk was unplugged: its device
    // differs from its parent's, or the kernel lists it in /proc/self/mountinfo.
    static bool isRealMountPoint(const QString& path);

    // The volume holding `folder`, or none when it lies on the system disk.
    std::optional<QString> volume(const QString& folder) const;
    // On a volume that is not the system disk seen through a symbolic link.
    bool isExternal(const QString& folder) const;
    bool isVolumeMounted(const QString& folder) const;
    // Creates the folder when missing and checks it is writable. An unmounted volume is
    // reported before anything is created.
    Expected<void, HistoryError> prepare(const QString& folder) const;
    VolumeAccess removableVolumeAccess(const QString& folder) const;
    // Names of the entries of listFolder whose extension is "png" in any letter case, in listing
    // order: with the system's primitives, visible regular files only.
    Expected<QStringList, FileError> pngNames(const QString& folder) const;
};

}  // namespace quillet
