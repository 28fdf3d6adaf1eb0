#pragma once

#include <QString>

#include <optional>
#include <stdexcept>

namespace orvane {

// The one-companion-per-user token: an advisory lock on a file in the user's runtime folder,
// held for the life of the process. The kernel drops it when the holder ends however it ends,
// so a crashed companion never blocks the next one, and two companions starting together
// cannot both win.
class InstanceLock {
public:
    // The runtime folder cannot hold the lock file; `what()` says why.
    class Error : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    // The lock when no other process holds it. Throws Error.
    static std::optional<InstanceLock> tryAcquire();

    // $XDG_RUNTIME_DIR/orvane (or Qt's fallback runtime folder), private to the user.
    static QString folder();

    InstanceLock(InstanceLock &&other) noexcept;
    InstanceLock &operator=(InstanceLock &&other) = delete;
    InstanceLock(const InstanceLock &) = delete;
    ~InstanceLock();

private:
    explicit InstanceLock(int descriptor) : descriptor_(descriptor) {}
    int descriptor_;
};

} // namespace orvane
