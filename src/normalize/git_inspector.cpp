#include "normalize/git_inspector.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <set>
#include <vector>

#include <QDeadlineTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

#include <csignal>
#include <sys/prctl.h>

#include "normalize/unicode_text.h"

namespace orvane::GitInspector {

namespace {

const QString gitExecutable = QStringLiteral("/usr/bin/git");

// All runs of one summary share one bound, so a git that hangs (a network file system, a
// stuck file-system monitor hook) holds the refresh at most this long.
constexpr std::chrono::seconds defaultTimeLimit{15};

// The standard output of a git run, or nothing if git could not start, failed, ran out of
// time or wrote something other than UTF-8. The pipe is drained while git runs.
std::optional<std::string> run(const QStringList &arguments, const QDeadlineTimer &deadline)
{
    QProcess git;
    git.setProgram(gitExecutable);
    git.setArguments(arguments);
    git.setStandardInputFile(QProcess::nullDevice());
    git.setStandardErrorFile(QProcess::nullDevice());
    // Polling must not take the index lock the user's own git commands need.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("GIT_OPTIONAL_LOCKS"), QStringLiteral("0"));
    git.setProcessEnvironment(environment);
    // No git outlives a companion that was killed.
    git.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });

    // QProcess keeps reading the pipe into its buffer while it waits, so a large output
    // cannot stall git.
    git.start(QIODevice::ReadOnly);
    if (!git.waitForFinished(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())))) {
        if (git.state() != QProcess::NotRunning) {
            git.kill();
            git.waitForFinished(-1);
        }
        return std::nullopt;
    }
    const QByteArray output = git.readAllStandardOutput();
    if (git.exitStatus() != QProcess::NormalExit || git.exitCode() != 0)
        return std::nullopt;
    std::string text(output.constData(), static_cast<std::size_t>(output.size()));
    if (!UnicodeText::isValidUtf8(text))
        return std::nullopt;
    return text;
}

// `run` with git working in `folder`, as `git -C folder ...`.
std::optional<std::string> runIn(const QString &folder, const QStringList &arguments, const QDeadlineTimer &deadline)
{
    return run(QStringList{QStringLiteral("-C"), folder} + arguments, deadline);
}

std::vector<std::string_view> nonEmptyLines(std::string_view text)
{
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        const auto end = std::min(text.find('\n', start), text.size());
        if (end > start)
            lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::int64_t parsedCount(std::string_view field)
{
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
    return error == std::errc() && end == field.data() + field.size() ? value : 0;
}

std::int64_t saturatingAdd(std::int64_t a, std::int64_t b)
{
    std::int64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum))
        return b > 0 ? INT64_MAX : INT64_MIN;
    return sum;
}

} // namespace

NumstatTotals parseNumstat(std::string_view output)
{
    NumstatTotals totals;
    for (const std::string_view line : nonEmptyLines(output)) {
        // Only the first two non-empty tab-separated fields matter; the rest is the file name.
        std::string_view fields[2];
        std::size_t found = 0;
        std::size_t start = 0;
        while (found < 2 && start <= line.size()) {
            const auto end = std::min(line.find('\t', start), line.size());
            if (end > start)
                fields[found++] = line.substr(start, end - start);
            start = end + 1;
        }
        if (found < 2)
            continue;
        ++totals.files;
        totals.additions = saturatingAdd(totals.additions, parsedCount(fields[0]));
        totals.deletions = saturatingAdd(totals.deletions, parsedCount(fields[1]));
    }
    return totals;
}

std::optional<GitView> summary(const std::string &path)
{
    return summary(path, defaultTimeLimit);
}

std::optional<GitView> summary(const std::string &path, std::chrono::milliseconds timeLimit)
{
    std::error_code error;
    if (path.empty() || !std::filesystem::exists(path, error))
        return std::nullopt;

    const QDeadlineTimer deadline(timeLimit);
    const QString where = QString::fromStdString(path);
    // Outside a work tree (the git folder included) status fails; inside, its header names the
    // commit and the branch, and each other line is a changed file.
    const auto status = runIn(where, {QStringLiteral("status"), QStringLiteral("--porcelain=v2"), QStringLiteral("--branch"),
                                     QStringLiteral("-uno")},
                              deadline);
    if (!status)
        return std::nullopt;

    GitView view;
    constexpr std::string_view commitHeader = "# branch.oid ", branchHeader = "# branch.head ";
    for (const std::string_view line : nonEmptyLines(*status)) {
        if (line.starts_with(commitHeader)) {
            const std::string_view commit = line.substr(commitHeader.size());
            if (commit != "(initial)")
                view.commit = std::string(commit.substr(0, 12));
        } else if (line.starts_with(branchHeader)) {
            const std::string_view branch = line.substr(branchHeader.size());
            if (branch != "(detached)")
                view.branch = std::string(branch);
        } else if (!line.starts_with('#')) {
            ++view.changedFiles;
        }
    }
    view.dirty = view.changedFiles != 0;
    const auto numstat = runIn(where, {QStringLiteral("diff"), QStringLiteral("--numstat"), QStringLiteral("HEAD")}, deadline);
    const NumstatTotals totals = parseNumstat(numstat.value_or(""));
    view.additions = totals.additions;
    view.deletions = totals.deletions;
    return view;
}

std::optional<WorkTreeLayout> layout(const std::string &path, std::chrono::milliseconds timeLimit,
                                     std::size_t folderLimit)
{
    if (path.empty())
        return std::nullopt;
    const QDeadlineTimer deadline(timeLimit);
    const auto folders = runIn(QString::fromStdString(path),
                                 {QStringLiteral("rev-parse"), QStringLiteral("--path-format=absolute"),
                                  QStringLiteral("--show-toplevel"), QStringLiteral("--git-dir"),
                                  QStringLiteral("--git-common-dir")},
                                 deadline);
    const std::string listing = folders.value_or("");
    const auto lines = nonEmptyLines(listing);
    if (lines.size() != 3)
        return std::nullopt;
    WorkTreeLayout layout{std::string(lines[0]), {std::string(lines[1])}, {}};
    if (lines[2] != lines[1])
        layout.gitFolders.emplace_back(lines[2]);

    const auto indexed = runIn(QString::fromStdString(layout.top), {QStringLiteral("ls-files"), QStringLiteral("-z")}, deadline);
    if (!indexed)
        return std::nullopt;
    // Every ancestor too, so that a folder made again after it was removed is seen in its parent.
    std::set<std::string_view> relative{""};
    std::size_t start = 0;
    while (start < indexed->size()) {
        const auto end = std::min(indexed->find('\0', start), indexed->size());
        std::string_view file(indexed->data() + start, end - start);
        for (auto slash = file.rfind('/'); slash != std::string_view::npos && slash > 0; slash = file.rfind('/')) {
            file = file.substr(0, slash);
            if (!relative.insert(file).second)
                break;
        }
        if (relative.size() > folderLimit)
            return std::nullopt;
        start = end + 1;
    }
    for (const std::string_view folder : relative)
        layout.indexedFolders.push_back(folder.empty() ? layout.top : layout.top + '/' + std::string(folder));
    return layout;
}

} // namespace orvane::GitInspector
