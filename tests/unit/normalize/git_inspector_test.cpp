#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <chrono>
#include <functional>
#include <thread>

#include "normalize/git_inspector.h"

// Runs under an isolated HOME with GIT_CONFIG_NOSYSTEM set, so no user or system git
// configuration leaks in; each repository sets its own identity.
namespace orvane {
namespace {

class TempRepo {
public:
    TempRepo()
    {
        git({"init", "-q", "-b", "main"});
        git({"config", "user.name", "Orvane Test"});
        git({"config", "user.email", "test@example.invalid"});
        git({"config", "commit.gpgsign", "false"});
    }

    std::string path() const { return dir_.path().toStdString(); }

    std::string git(const QStringList &arguments) const
    {
        QProcess process;
        process.setWorkingDirectory(dir_.path());
        process.setStandardErrorFile(QProcess::nullDevice());
        process.start(QStringLiteral("/usr/bin/git"), arguments);
        const bool finished = process.waitForFinished(30'000);
        EXPECT_TRUE(finished && process.exitCode() == 0) << arguments.join(' ').toStdString();
        return process.readAllStandardOutput().trimmed().toStdString();
    }

    void write(const QString &name, const QByteArray &content) const
    {
        const QString file = dir_.filePath(name);
        QDir().mkpath(QFileInfo(file).absolutePath());
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(content);
    }

    void commitAll(const char *message) const
    {
        git({"add", "-A"});
        git({"commit", "-q", "-m", message});
    }

private:
    QTemporaryDir dir_;
};

struct RepoCase {
    const char *name;
    std::function<void(const TempRepo &)> setup;
    std::optional<std::string> branch;
    bool hasCommit;
    std::int64_t changedFiles, additions, deletions;
    QString subfolder = {};
};

void PrintTo(const RepoCase &c, std::ostream *out) { *out << c.name; }

void committed(const TempRepo &repo)
{
    repo.write("a.txt", "1\n2\n3\n");
    repo.write("src/b.txt", "b\n");
    repo.commitAll("first");
}

class GitSummary : public testing::TestWithParam<RepoCase> {};

TEST_P(GitSummary, ReportsBranchCommitAndCounts)
{
    const RepoCase &c = GetParam();
    TempRepo repo;
    c.setup(repo);
    const std::string where = c.subfolder.isEmpty() ? repo.path() : repo.path() + "/" + c.subfolder.toStdString();

    const std::optional<GitView> view = GitInspector::summary(where);

    ASSERT_TRUE(view.has_value());
    std::optional<std::string> commit;
    if (c.hasCommit)
        commit = repo.git({"rev-parse", "HEAD"}).substr(0, 12);
    EXPECT_EQ(*view, (GitView{c.branch, c.changedFiles != 0, c.changedFiles, c.additions,
                              c.deletions, commit}));
}

INSTANTIATE_TEST_SUITE_P(
    GitInspector, GitSummary,
    testing::Values(
        RepoCase{"clean", committed, "main", true, 0, 0, 0},
        RepoCase{"clean_from_subfolder", committed, "main", true, 0, 0, 0, "src"},
        RepoCase{"unstaged_edit",
                 [](const TempRepo &repo) {
                     committed(repo);
                     repo.write("a.txt", "1\nTWO\n3\n4\n");
                 },
                 "main", true, 1, 2, 1},
        RepoCase{"staged_and_unstaged",
                 [](const TempRepo &repo) {
                     committed(repo);
                     repo.write("new.txt", "x\ny\nz\n");
                     repo.git({"add", "new.txt"});
                     repo.write("src/b.txt", "");
                 },
                 "main", true, 2, 3, 1},
        RepoCase{"untracked_only",
                 [](const TempRepo &repo) {
                     committed(repo);
                     repo.write("untracked.txt", "u\n");
                 },
                 "main", true, 0, 0, 0},
        RepoCase{"detached_head",
                 [](const TempRepo &repo) {
                     committed(repo);
                     repo.write("a.txt", "changed\n");
                     repo.commitAll("second");
                     repo.git({"checkout", "-q", "--detach", "HEAD~1"});
                 },
                 std::nullopt, true, 0, 0, 0},
        RepoCase{"no_commits_with_staged_files",
                 [](const TempRepo &repo) {
                     repo.write("a.txt", "1\n2\n");
                     repo.write("b.txt", "1\n");
                     repo.git({"add", "a.txt", "b.txt"});
                 },
                 "main", false, 2, 0, 0},
        RepoCase{"binary_file_counts_no_lines",
                 [](const TempRepo &repo) {
                     committed(repo);
                     repo.write("image.bin", QByteArray("\0\1\2\3", 4));
                     repo.git({"add", "image.bin"});
                 },
                 "main", true, 1, 0, 0}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(GitInspector, NoSummaryOutsideAWorkTree)
{
    QTemporaryDir plain;
    TempRepo repo;
    committed(repo);
    const std::string cases[] = {
        "",
        plain.path().toStdString() + "/does-not-exist",
        plain.path().toStdString(),
        repo.path() + "/a.txt",
        repo.path() + "/.git",
    };
    for (const std::string &path : cases)
        EXPECT_EQ(GitInspector::summary(path), std::nullopt) << path;
}

TEST(GitInspector, ReadsLargeOutputsWholeFromAWorkerThread)
{
    // Far more output than a pipe holds, so git blocks unless it is read while it runs.
    constexpr int fileCount = 2000;
    TempRepo repo;
    for (int i = 0; i < fileCount; ++i)
        repo.write(QStringLiteral("dir/file-with-a-longish-name-%1.txt").arg(i), "old\n");
    repo.commitAll("many");
    for (int i = 0; i < fileCount; ++i)
        repo.write(QStringLiteral("dir/file-with-a-longish-name-%1.txt").arg(i), "new\nlines\n");

    std::optional<GitView> view;
    std::thread worker([&] { view = GitInspector::summary(repo.path()); });
    worker.join();

    ASSERT_TRUE(view.has_value());
    EXPECT_EQ(view->changedFiles, fileCount);
    EXPECT_EQ(view->additions, 2 * fileCount);
    EXPECT_EQ(view->deletions, fileCount);
}

TEST(GitInspector, HungGitIsKilledAtTheTimeLimit)
{
    TempRepo repo;
    committed(repo);
    // A file-system monitor hook that never answers holds `git status` until git is killed;
    // it then ends on its own.
    const QString hook = QString::fromStdString(repo.path()) + "/.git/hang-hook";
    QFile script(hook);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\nwhile kill -0 $PPID 2>/dev/null; do sleep 0.05; done\n");
    script.close();
    script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    repo.git({"config", "core.fsmonitor", hook});

    const auto started = std::chrono::steady_clock::now();
    const std::optional<GitView> view = GitInspector::summary(repo.path(), std::chrono::seconds(2));
    const auto took = std::chrono::steady_clock::now() - started;

    ASSERT_TRUE(view.has_value());
    EXPECT_EQ(view->branch, "main");
    EXPECT_EQ(view->changedFiles, 0);
    EXPECT_LT(took, std::chrono::seconds(20));
}

struct NumstatCase {
    const char *name;
    std::string text;
    GitInspector::NumstatTotals totals;
};

void PrintTo(const NumstatCase &c, std::ostream *out) { *out << c.name; }

class Numstat : public testing::TestWithParam<NumstatCase> {};

TEST_P(Numstat, SumsLinesAndCountsFiles)
{
    EXPECT_EQ(GitInspector::parseNumstat(GetParam().text), GetParam().totals);
}

INSTANTIATE_TEST_SUITE_P(
    GitInspector, Numstat,
    testing::Values(
        NumstatCase{"mixed_with_binary", "10\t2\tsrc/main.cpp\n-\t-\timage.png\n4\t0\tREADME.md\n", {3, 14, 2}},
        NumstatCase{"line_without_tab_skipped", "10\t2\ta.cpp\nno tabs here\n", {1, 10, 2}},
        NumstatCase{"empty", "", {0, 0, 0}},
        NumstatCase{"blank_lines_ignored", "\n\n1\t1\ta\n\n", {1, 1, 1}},
        NumstatCase{"tabs_in_file_name", "3\t1\tname\twith\ttabs\n", {1, 3, 1}},
        NumstatCase{"empty_fields_dropped", "\t5\t\t6\n", {1, 5, 6}},
        NumstatCase{"single_field_skipped", "7\t\n", {0, 0, 0}},
        NumstatCase{"non_numbers_count_zero", "x\t3\tf\n1.5\t2a\tg\n", {2, 0, 3}},
        NumstatCase{"rename_line", "0\t0\told => new\n", {1, 0, 0}},
        NumstatCase{"huge_values_saturate",
                    "9223372036854775807\t1\ta\n9223372036854775807\t1\tb\n99999999999999999999\t1\tc\n",
                    {3, INT64_MAX, 3}},
        NumstatCase{"carriage_returns_not_numbers", "4\t2\r\n", {1, 4, 0}}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace orvane
