#include <gtest/gtest.h>

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

TEST(GitInspector, SummarizesBranchCommitAndCountsInsideAWorkTreeOnly)
{
    const struct {
        const char *name, *script, *where;
        std::optional<std::string> branch;
        std::int64_t changedFiles, additions, deletions; // changedFiles -1: no summary
    } rows[] = {
        {"clean", "c", "", "main", 0, 0, 0},
        {"clean, from a subfolder", "c", "/src", "main", 0, 0, 0},
        {"unstaged edit", R"(c; printf '1\nTWO\n3\n4\n' >a.txt)", "", "main", 1, 2, 1},
        {"staged and unstaged", R"(c; printf 'x\ny\nz\n' >n.txt; git add n.txt; : >src/b.txt)", "", "main", 2, 3, 1},
        {"untracked only", "c; echo u >untracked.txt", "", "main", 0, 0, 0},
        {"detached HEAD", "c; echo x >a.txt; git commit -qam second; git checkout -q --detach HEAD~1", "", {}, 0, 0, 0},
        {"no commits", R"(printf '1\n2\n' >a.txt; echo 1 >b.txt; git add a.txt b.txt)", "", "main", 2, 0, 0},
        {"outside any repository", "rm -rf .git", "", {}, -1, 0, 0},
        {"path that does not exist", "c", "/missing", {}, -1, 0, 0},
        {"a file", "c", "/a.txt", {}, -1, 0, 0},
        {"the git directory", "c", "/.git", {}, -1, 0, 0},
    };
    for (const auto &row : rows) {
        Repo repo;
        repo.sh(row.script);
        const std::string head = repo.sh("git rev-parse -q --verify HEAD 2>/dev/null || true");
        std::optional<GitView> expected;
        if (row.changedFiles >= 0)
            expected = GitView{row.branch, row.changedFiles != 0, row.changedFiles, row.additions, row.deletions,
                               head.empty() ? std::nullopt : std::optional(head.substr(0, 12))};
        EXPECT_EQ(GitInspector::summary(repo.path + row.where, ample), expected) << row.name;
    }
    // git -C "" would look at the current directory.
    EXPECT_EQ(GitInspector::summary("", ample), std::nullopt);
}

TEST(GitInspector, ReadsOutputLargerThanAPipeFromAWorkerThread)
{
    Repo repo;
    repo.sh(R"(d=$(printf '%0200d' 0); mkdir $d; for i in $(seq 400); do echo old >$d/$i; done; git add -A
               git commit -qm many; for i in $(seq 400); do printf 'new\nlines\n' >$d/$i; done)");
    const auto view = std::async(std::launch::async, [&] { return GitInspector::summary(repo.path, ample); }).get();
    EXPECT_EQ(std::tuple(view.value().changedFiles, view->additions, view->deletions), std::tuple(400, 800, 400));
}

TEST(GitInspector, HungGitIsKilledWhenTheSummarysBoundRunsOut)
{
    Repo repo;
    // A file-system monitor hook that never answers holds `git status` and `git diff` until git is gone.
    repo.sh(R"sh(c; echo more >>a.txt; git config core.fsmonitor "$PWD/.git/hang"
               printf '#!/bin/sh\nwhile [ "$(cat /proc/$PPID/comm)" = git ]; do sleep 0.05; done\n' >.git/hang
               chmod +x .git/hang)sh");
    constexpr std::chrono::seconds bound{2};
    const auto started = std::chrono::steady_clock::now();
    // A status that never came is no summary, rather than a clean work tree.
    EXPECT_EQ(GitInspector::summary(repo.path, bound), std::nullopt);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 4 * bound);
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
    const auto step = [&](const char *script, std::chrono::seconds later = std::chrono::seconds(4)) {
        repo.sh(script);
        now += later;
        const int before = runs;
        const auto view = cadence.summary(repo.path, false, now).value();
        return std::tuple(runs - before, view.changedFiles, view.additions);
    };
    using Step = std::tuple<int, std::int64_t, std::int64_t>;
    EXPECT_EQ(step("true"), Step(1, 0, 0)) << "first summary";
    EXPECT_EQ(step("true", std::chrono::seconds(40)), Step(0, 0, 0)) << "quiet past the unwatched interval";
    EXPECT_EQ(step("echo x >build/out.o"), Step(0, 0, 0)) << "a file outside the indexed folders";
    EXPECT_EQ(step("echo 4 >>src/b.txt"), Step(1, 1, 1)) << "an indexed file edited in place";
    EXPECT_EQ(step("true"), Step(0, 1, 1));
    EXPECT_EQ(step("mkdir lib; echo c >lib/c.txt; git add lib; git commit -qam second"), Step(1, 0, 0))
        << "a commit with a new folder";
    EXPECT_EQ(step("printf '1\n2\n' >lib/c.txt"), Step(1, 1, 2)) << "a file in the new folder";
    EXPECT_EQ(step("git checkout -q lib/c.txt"), Step(1, 0, 0));
    EXPECT_EQ(step("true", std::chrono::minutes(5)), Step(1, 0, 0)) << "the long interval";
    EXPECT_EQ(step("git checkout -q -b other; git branch -q -D main"), Step(1, 0, 0)) << "refs and HEAD";

    // A path outside any work tree is not watched and keeps the short interval.
    QTemporaryDir plain;
    EXPECT_EQ(cadence.summary(plain.path().toStdString(), false, now), std::nullopt);
    const int before = runs;
    EXPECT_EQ(cadence.summary(plain.path().toStdString(), false, now + std::chrono::seconds(31)), std::nullopt);
    EXPECT_EQ(runs, before + 1);
}

TEST(GitInspector, ParseNumstatSumsLinesAndCountsFiles)
{
    const std::pair<std::string, GitInspector::NumstatTotals> rows[] = {
        {"10\t2\tsrc/main.cpp\n-\t-\timage.png\n4\t0\tREADME.md\n", {3, 14, 2}}, {"10\t2\ta\nno tabs\n", {1, 10, 2}},
        {"", {0, 0, 0}}, {"\n\n1\t1\ta\n\n", {1, 1, 1}}, {"3\t1\tname\twith\ttabs\n", {1, 3, 1}},
        {"\t5\t\t6\n", {1, 5, 6}}, {"7\t\n", {0, 0, 0}}, {"x\t3\tf\n1.5\t2a\tg\n", {2, 0, 3}}, {"4\t2\r\n", {1, 4, 0}},
        {"9223372036854775807\t1\ta\n9223372036854775807\t1\tb\n99999999999999999999\t1\tc\n", {3, INT64_MAX, 3}},
    };
    for (const auto &[text, totals] : rows)
        EXPECT_EQ(GitInspector::parseNumstat(text), totals) << testing::PrintToString(text);
}

} // namespace
} // namespace orvane
