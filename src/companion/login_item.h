#pragma once

#include <QString>

#include <stdexcept>

namespace orvane {

// Start at login as an XDG autostart entry. Only the installed program registers itself: a
// copy run from a build folder would otherwise leave an entry pointing into that folder.
class LoginItem
{
public:
    // What `what()` says is the text the user sees.
    class Error : public std::runtime_error
    {
    public:
        explicit Error(const QString &reason);
    };

    // The user's autostart folder, the installed executable and the running one.
    LoginItem();
    LoginItem(QString autostartFolder, QString installedExecutable, QString runningExecutable);

    // Adds or removes the entry. Does nothing when the running executable is not the installed
    // one. Throws Error when the entry cannot be written or removed.
    void apply(bool startAtLogin) const;

    QString entryPath() const;

    // The autostart entry that starts `executable` behind its tray item, without the window.
    static QByteArray entryFor(const QString &executable);

private:
    bool runningInstalled() const;

    QString autostartFolder_;
    QString installedExecutable_;
    QString runningExecutable_;
};

} // namespace orvane
