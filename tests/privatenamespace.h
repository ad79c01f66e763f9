// SPDX-License-Identifier: MIT
#ifndef PRIVATENAMESPACE_H
#define PRIVATENAMESPACE_H

// Namespaces of a test process's own (Linux only), where it may change the
// network or the mounts it sees without touching anyone else's.

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <utility>

namespace PrivateNamespaceDetail {

inline bool writeProcFile(const char *path, const QByteArray &text)
{
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, text.constData(), size_t(text.size())) == text.size();
    ::close(fd);
    return ok;
}

inline QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace PrivateNamespaceDetail

// Moves this process into new namespaces of the kinds in flags
// (CLONE_NEWNET, CLONE_NEWNS), as `unshare` would as root, or as `unshare -r`
// would in a user namespace where it is root. Must run while the process has
// one thread. Returns why it could not, or an empty string.
inline QString enterPrivateNamespaces(int flags)
{
    using namespace PrivateNamespaceDetail;
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    if (::unshare(flags) != 0) {
        const int asRoot = errno;
        if (::unshare(CLONE_NEWUSER | flags) != 0) {
            return QStringLiteral("no namespace may be made here (%1; in a user namespace: %2)")
                .arg(errorText(asRoot), errorText(errno));
        }
        // Root inside, so that the namespace's network and mounts may be changed.
        if (!writeProcFile("/proc/self/setgroups", "deny")
            || !writeProcFile("/proc/self/uid_map", QByteArray::number(uid).prepend("0 ") + " 1")
            || !writeProcFile("/proc/self/gid_map", QByteArray::number(gid).prepend("0 ") + " 1"))
            return QStringLiteral("the user namespace's id maps could not be written");
    }
    // Nothing mounted here may reach the namespace this process came from.
    if ((flags & CLONE_NEWNS) && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return QStringLiteral("the mounts could not be made private: ") + errorText(errno);
    return QString();
}

// Makes directory read-only for this process's mount namespace, as
// `mount --bind -o ro` does, for as long as it lives. Whoever runs the test,
// root included, then cannot write there.
class ReadOnlyBindMount
{
public:
    explicit ReadOnlyBindMount(const QString &directory) : path(QFile::encodeName(directory))
    {
        using PrivateNamespaceDetail::errorText;
        // A remount in a user namespace must keep the flags the mount has.
        struct statvfs info
        {
        };
        if (::statvfs(path.constData(), &info) != 0) {
            problem = errorText(errno);
            return;
        }
        unsigned long kept = 0;
        for (const auto &[from, to] :
             {std::make_pair(ST_NOSUID, MS_NOSUID), std::make_pair(ST_NODEV, MS_NODEV),
              std::make_pair(ST_NOEXEC, MS_NOEXEC), std::make_pair(ST_NOATIME, MS_NOATIME),
              std::make_pair(ST_NODIRATIME, MS_NODIRATIME),
              std::make_pair(ST_RELATIME, MS_RELATIME)}) {
            if (info.f_flag & from)
                kept |= to;
        }
        if (::mount(path.constData(), path.constData(), nullptr, MS_BIND, nullptr) != 0) {
            problem = QStringLiteral("bind mount: ") + errorText(errno);
            return;
        }
        mounted = true;
        if (::mount(nullptr, path.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY | kept,
                    nullptr)
            != 0)
            problem = QStringLiteral("read-only remount: ") + errorText(errno);
    }
    ~ReadOnlyBindMount()
    {
        if (mounted)
            ::umount2(path.constData(), MNT_DETACH);
    }
    ReadOnlyBindMount(const ReadOnlyBindMount &) = delete;
    ReadOnlyBindMount &operator=(const ReadOnlyBindMount &) = delete;

    // Why the folder could not be made read-only, or empty.
    QString problem;

private:
    QByteArray path;
    bool mounted = false;
};

#endif // PRIVATENAMESPACE_H
