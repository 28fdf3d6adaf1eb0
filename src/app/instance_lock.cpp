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
    const QString folder = QDir(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation))
                               .filePath(QStringLiteral("orvane"));
    QDir().mkpath(folder);
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
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
