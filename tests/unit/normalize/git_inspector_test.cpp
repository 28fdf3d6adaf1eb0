#include <gtest/gtest.h>

#include <fixture.h>

#include <QProcess>
#include <QTemporaryDir>

#include <chrono>
#include <future>
#include <tuple>

#include "companion/git_cadence.h"
#include "normalize/git_inspector.h"

// Runs in an isolated HOME with GIT_CONFIG_NOSYSTEM set, so no user or system git settings leak in.
namespace orvane {
namespace {

using test::fixture;

const boost::json::value cases = fixture("git-cases.json");

// Far beyond what git needs even on a loaded machine: only the hung-git case relies on a bound.
constexpr std::chrono::minutes ample{5};

// A temporary repository on branch "main"; scripts run in it may call `c` to commit two files.
struct Repo {
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString();
    Repo() { sh("git init -q -b main; git config user.name T; git config user.email t@example.invalid"); }
    std::string sh(const char *script) const
    {
        QProcess shell;
        shell.setWorkingDirectory(dir.path());
        shell.start(QStringLiteral("/bin/sh"), {QStringLiteral("-ec"), QString::fromUtf8(prelude) + script});
        EXPECT_TRUE(shell.waitForFinished(-1) && shell.exitCode() == 0) << script;
        return shell.readAllStandardOutput().trimmed().toStdString();
    }
    static constexpr const char *prelude =
        "c() { printf '1\\n2\\n3\\n' >a.txt; mkdir -p src; echo b >src/b.txt; git add -A; git commit -qm first; }\n";
};

// Each summary is asked from a worker thread, as the companion asks.
TEST(GitInspector, SummarizesBranchCommitAndCountsInsideAWorkTreeOnly)
{
    for (const auto &value : cases.at("summaries").as_array()) {
        const auto &row = value.as_array();
        Repo repo;
        repo.sh(row.at(1).as_string().c_str());
        const std::string head = repo.sh("git rev-parse -q --verify HEAD 2>/dev/null || true");
        const auto &branch = row.at(3);
        const auto changed = row.at(4).as_int64();
        std::optional<GitView> expected;
        if (changed >= 0)
            expected = GitView{branch.is_null() ? std::nullopt : std::optional<std::string>(branch.as_string()),
                               changed != 0, changed, row.at(5).as_int64(), row.at(6).as_int64(),
                               head.empty() ? std::nullopt : std::optional(head.substr(0, 12))};
        const std::string path = repo.path + std::string(row.at(2).as_string());
        EXPECT_EQ(std::async(std::launch::async, [&] { return GitInspector::summary(path, ample); }).get(), expected)
            << row.at(0);
    }
    // git -C "" would look at the current directory.
    EXPECT_EQ(GitInspector::summary("", ample), std::nullopt);
}

TEST(GitInspector, HungGitIsKilledWhenTheSummarysBoundRunsOut)
{
    Repo repo;
    // A file-system monitor hook that never answers holds `git status` and `git diff` until git is gone.
    repo.sh(R"sh(c; echo more >>a.txt; git config core.fsmonitor "$PWD/.git/hang"
               printf '#!/bin/sh\nwhile [ "$(cat /proc/$PPID/comm)" = git ]; do sleep 0.05; done\n' >.git/hang
               chmod +x .git/hang)sh");
    // A status that never came is no summary, rather than a clean work tree. Were git left
    // running, the summary would wait as long as the hook does: for ever.
    EXPECT_EQ(GitInspector::summary(repo.path, std::chrono::seconds(2)), std::nullopt);
}

// A watched workspace is asked of git again only when a file in the index or the git folders
// changed, or after the long interval; the answers are what git says at that moment.
TEST(GitCadence, AsksGitAgainOnlyWhenTheWatchSawAChange)
{
    Repo repo;
    repo.sh("c; mkdir build; echo 'build/' >.git/info/exclude");
    int runs = 0;
    GitCadence cadence([&](const std::string &path) { return ++runs, GitInspector::summary(path, ample); },
                       std::chrono::seconds(30), std::chrono::minutes(5));
    auto now = std::chrono::system_clock::now();
    for (const auto &row : cases.at("cadence").as_array()) {
        repo.sh(row.at(1).as_string().c_str());
        now += std::chrono::seconds(row.at(2).as_int64());
        const int before = runs;
        const auto view = cadence.summary(repo.path, false, now).value();
        const auto seen = std::tuple(runs - before, view.changedFiles, view.additions);
        EXPECT_EQ(boost::json::value_from(seen), row.at(3)) << row.at(0);
    }

    // A path outside any work tree is not watched and keeps the short interval.
    QTemporaryDir plain;
    EXPECT_EQ(cadence.summary(plain.path().toStdString(), false, now), std::nullopt);
    const int before = runs;
    EXPECT_EQ(cadence.summary(plain.path().toStdString(), false, now + std::chrono::seconds(31)), std::nullopt);
    EXPECT_EQ(runs, before + 1);
}

TEST(GitInspector, ParseNumstatSumsLinesAndCountsFiles)
{
    for (const auto &row : cases.at("numstat").as_array()) {
        const auto total = [&](std::size_t i) { return row.at(1).at(i).as_int64(); };
        const GitInspector::NumstatTotals expected{total(0), total(1), total(2)};
        EXPECT_EQ(GitInspector::parseNumstat(row.at(0).as_string()), expected) << row;
    }
}

} // namespace
} // namespace orvane
