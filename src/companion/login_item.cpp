#include "companion/login_item.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace orvane {
namespace {

constexpr auto entryName = "dev.orvane.companion.desktop";

// An Exec argument quoted as desktop entries want it: inside double quotes, the characters
// " ` $ \ take a backslash, every backslash of the result is doubled once more by the string
// escaping of the entry's value, and "%" is doubled so it is no field code.
QString quotedArgument(const QString &argument)
{
    QString quoted;
    for (const QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    quoted.replace(u'\\', QStringLiteral("\\\\"));
    quoted.replace(u'%', QStringLiteral("%%"));
    return u'"' + quoted + u'"';
}

} // namespace

LoginItem::Error::Error(const QString &reason)
    : std::runtime_error(("Start at login could not be changed: " + reason).toStdString())
{
}

LoginItem::LoginItem()
    : LoginItem(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                    + QStringLiteral("/autostart"),
                QStringLiteral(ORVANE_INSTALLED_EXECUTABLE), QCoreApplication::applicationFilePath())
{
}

LoginItem::LoginItem(QString autostartFolder, QString installedExecutable, QString runningExecutable)
    : autostartFolder_(std::move(autostartFolder)), installedExecutable_(std::move(installedExecutable)),
      runningExecutable_(std::move(runningExecutable))
{
}

QString LoginItem::entryPath() const
{
    return QDir(autostartFolder_).filePath(QString::fromLatin1(entryName));
}

QByteArray LoginItem::entryFor(const QString &executable)
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Orvane Companion\n"
                          "Comment=Mirrors Codex to your glasses\n"
                          "Exec=%1 --hidden\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(quotedArgument(executable))
        .toUtf8();
}

bool LoginItem::runningInstalled() const
{
    // Canonical paths see through symbolic links; a missing installed file matches nothing.
    const QString installed = QFileInfo(installedExecutable_).canonicalFilePath();
    return !installed.isEmpty() && installed == QFileInfo(runningExecutable_).canonicalFilePath();
}

void LoginItem::apply(bool startAtLogin) const
{
    if (!runningInstalled())
        return;
    const QString path = entryPath();
    if (!startAtLogin) {
        QFile entry(path);
        if (entry.exists() && !entry.remove())
            throw Error(entry.errorString());
        return;
    }
    if (!QDir().mkpath(autostartFolder_))
        throw Error(QStringLiteral("The folder %1 cannot be created.").arg(autostartFolder_));
    QSaveFile entry(path);
    if (!entry.open(QIODevice::WriteOnly) || entry.write(entryFor(installedExecutable_)) < 0
        || !entry.commit())
        throw Error(entry.errorString());
}

} // namespace orvane
