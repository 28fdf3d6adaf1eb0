#include "companion/work_tree_watch.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>

#include <sys/inotify.h>
#include <unistd.h>

namespace orvane {

namespace {

// Every way a file's content, mode or presence in a folder changes; reads are left out, so
// git's own reads during a summary wake nothing.
constexpr std::uint32_t watchedEvents = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_MOVED_FROM | IN_MOVED_TO
                                      | IN_CREATE | IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

// Branches live in refs/heads and its subfolders, named after branches with slashes.
std::vector<std::string> refFolders(const std::string &commonFolder)
{
    std::vector<std::string> folders;
    const std::filesystem::path heads = std::filesystem::path(commonFolder) / "refs" / "heads";
    std::error_code error;
    if (!std::filesystem::is_directory(heads, error))
        return folders;
    folders.push_back(heads.string());
    for (std::filesystem::recursive_directory_iterator it(heads, error), end; !error && it != end;
         it.increment(error)) {
        if (it->is_directory(error))
            folders.push_back(it->path().string());
    }
    return folders;
}

} // namespace

WorkTreeWatch::WorkTreeWatch() : inotify_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

WorkTreeWatch::~WorkTreeWatch()
{
    if (inotify_ >= 0)
        ::close(inotify_);
}

bool WorkTreeWatch::add(const std::string &workspace, const std::string &folder, bool gitFolder)
{
    const int descriptor = ::inotify_add_watch(inotify_, folder.c_str(), watchedEvents);
    if (descriptor < 0)
        return errno == ENOENT || errno == ENOTDIR;
    auto &watched = folders_[descriptor];
    watched.workspaces.insert(workspace);
    watched.gitFolder |= gitFolder;
    workspaces_[workspace].descriptors.push_back(descriptor);
    return true;
}

bool WorkTreeWatch::watch(const std::string &workspace, const GitInspector::WorkTreeLayout &layout)
{
    if (inotify_ < 0)
        return false;
    readEvents();
    const std::vector<int> before = std::exchange(workspaces_[workspace].descriptors, {});
    workspaces_[workspace].change = Change::none;

    bool complete = true;
    for (const auto &folder : layout.gitFolders)
        complete = complete && add(workspace, folder, true);
    if (!layout.gitFolders.empty()) {
        for (const auto &folder : refFolders(layout.gitFolders.back()))
            complete = complete && add(workspace, folder, true);
    }
    for (const auto &folder : layout.indexedFolders)
        complete = complete && add(workspace, folder, false);

    // Folders watched before and still wanted kept their descriptor; the rest let go.
    const auto &now = workspaces_[workspace].descriptors;
    for (const int descriptor : before) {
        if (std::find(now.begin(), now.end(), descriptor) == now.end())
            release(workspace, descriptor);
    }
    if (!complete)
        forget(workspace);
    return complete;
}

void WorkTreeWatch::forget(const std::string &workspace)
{
    const auto found = workspaces_.find(workspace);
    if (found == workspaces_.end())
        return;
    for (const int descriptor : found->second.descriptors)
        release(workspace, descriptor);
    workspaces_.erase(found);
}

void WorkTreeWatch::release(const std::string &workspace, int descriptor)
{
    const auto folder = folders_.find(descriptor);
    if (folder == folders_.end())
        return;
    folder->second.workspaces.erase(workspace);
    // A folder another workspace shares stays watched.
    if (folder->second.workspaces.empty()) {
        ::inotify_rm_watch(inotify_, descriptor);
        folders_.erase(folder);
    }
}

bool WorkTreeWatch::watches(const std::string &workspace) const
{
    return workspaces_.contains(workspace);
}

WorkTreeWatch::Change WorkTreeWatch::take(const std::string &workspace)
{
    readEvents();
    const auto found = workspaces_.find(workspace);
    return found == workspaces_.end() ? Change::none : std::exchange(found->second.change, Change::none);
}

void WorkTreeWatch::note(const std::string &workspace, Change change)
{
    const auto found = workspaces_.find(workspace);
    if (found != workspaces_.end())
        found->second.change = std::max(found->second.change, change);
}

void WorkTreeWatch::readEvents()
{
    if (inotify_ < 0)
        return;
    alignas(inotify_event) std::array<char, 64 * 1024> buffer;
    for (;;) {
        const ssize_t size = ::read(inotify_, buffer.data(), buffer.size());
        if (size <= 0)
            return;
        for (ssize_t offset = 0; offset + static_cast<ssize_t>(sizeof(inotify_event)) <= size;) {
            inotify_event event;
            std::memcpy(&event, buffer.data() + offset, sizeof event);
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event.len);
            if (event.mask & IN_Q_OVERFLOW) {
                for (auto &[workspace, watched] : workspaces_)
                    watched.change = Change::gitFolders;
                continue;
            }
            const auto folder = folders_.find(event.wd);
            if (folder == folders_.end())
                continue;
            // A folder gone, or a new one that may hold indexed files, asks for a new layout.
            const bool folderChanged = (event.mask & IN_IGNORED)
                                    || ((event.mask & IN_ISDIR) && (event.mask & (IN_CREATE | IN_MOVED_TO)));
            const Change change = folder->second.gitFolder || folderChanged ? Change::gitFolders : Change::workTree;
            for (const auto &workspace : folder->second.workspaces)
                note(workspace, change);
            if (event.mask & IN_IGNORED)
                folders_.erase(folder);
        }
    }
}

} // namespace orvane
