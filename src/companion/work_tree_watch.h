#pragma once

#include "normalize/git_inspector.h"

#include <map>
#include <set>
#include <string>
#include <vector>

namespace orvane {

// Tells, without starting git, whether a workspace's work tree or git folders may have changed:
// one inotify instance watches the folders of each workspace's layout. Not thread-safe; the
// caller serializes.
class WorkTreeWatch {
public:
    enum class Change { none, workTree, gitFolders };

    WorkTreeWatch();
    ~WorkTreeWatch();
    WorkTreeWatch(const WorkTreeWatch &) = delete;
    WorkTreeWatch &operator=(const WorkTreeWatch &) = delete;

    // Watches `layout`'s folders for `workspace`, replacing an earlier watch of it. False, and
    // `workspace` not watched, when they cannot all be watched (no inotify, the user's watch
    // limit reached); a folder that no longer exists is left to its parent's watch.
    bool watch(const std::string &workspace, const GitInspector::WorkTreeLayout &layout);
    void forget(const std::string &workspace);
    bool watches(const std::string &workspace) const;

    // What changed for `workspace` since the last call, after reading the events waiting.
    // A lost event queue counts as a change of every watched workspace's git folders.
    Change take(const std::string &workspace);

private:
    struct Folder {
        std::set<std::string> workspaces;
        bool gitFolder = false;
    };
    struct Watched {
        std::vector<int> descriptors;
        Change change = Change::none;
    };

    void readEvents();
    void note(const std::string &workspace, Change change);
    bool add(const std::string &workspace, const std::string &folder, bool gitFolder);
    void release(const std::string &workspace, int descriptor);

    int inotify_ = -1;
    std::map<int, Folder> folders_;
    std::map<std::string, Watched> workspaces_;
};

} // namespace orvane
