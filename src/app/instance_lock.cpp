#include "app/instance_lock.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace orvane {

QString InstanceLock::folder()
{
    // Once per process: Qt warns each time it has to choose a runtime folder itself.
    static const QString folder = [] {
        const QString path = QDir(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation))
                                 .filePath(QStringLiteral("orvane"));
        QDir().mkpath(path);
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        return path;
    }();
    return folder;
}

std::optional<InstanceLock> InstanceLock::tryAcquire()
{
    const QByteArray path = QFile::encodeName(QDir(folder()).filePath(QStringLiteral("instance.lock")));
    // Close-on-exec: a Codex child outliving the companion must not keep the lock.
    const int descriptor = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (descriptor < 0)
        throw Error("Unable to open " + path.toStdString() + ": " + std::strerror(errno) + ".");
    if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        ::close(descriptor);
        return std::nullopt;
    }
    return InstanceLock(descriptor);
}

InstanceLock::InstanceLock(InstanceLock &&other) noexcept : descriptor_(other.descriptor_)
{
    other.descriptor_ = -1;
}

InstanceLock::~InstanceLock()
{
    if (descriptor_ >= 0)
        ::close(descriptor_);
}

} // namespace orvane
