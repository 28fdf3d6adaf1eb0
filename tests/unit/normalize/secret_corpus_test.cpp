#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <tuple>
#include <utility>
#include <vector>

#include <unistd.h>

#include "normalize/redactor.h"

namespace orvane {
namespace {

struct CorpusCase {
    bool positive = false;
    std::string kind;
    std::string secret;
    std::string text;
};

std::string unescaped(std::string_view field)
{
    std::string text;
    for (std::size_t at = 0; at < field.size(); ++at) {
        if (field[at] != '\\' || at + 1 == field.size()) {
            text += field[at];
            continue;
        }
        const char next = field[++at];
        text += next == 'n' ? '\n' : next == 't' ? '\t' : next;
    }
    return text;
}

std::vector<CorpusCase> corpus()
{
    std::ifstream file(ORVANE_NORMALIZE_FIXTURES "/secret-corpus.tsv");
    std::vector<CorpusCase> cases;
    for (std::string line; std::getline(file, line);) {
        if (line.empty() || line.front() == '#')
            continue;
        std::vector<std::string> fields;
        for (std::size_t start = 0, tab = 0; tab != std::string::npos; start = tab + 1) {
            tab = line.find('\t', start);
            fields.push_back(line.substr(start, tab == std::string::npos ? tab : tab - start));
        }
        EXPECT_EQ(fields.size(), 4u) << line;
        if (fields.size() == 4)
            cases.push_back({fields[0] == "+", fields[1], unescaped(fields[2]), unescaped(fields[3])});
    }
    return cases;
}

// Gone means no run of 8 of its characters (all of it, when shorter) is left.
bool leftSomeOf(std::string_view secret, std::string_view text)
{
    const std::size_t run = std::min<std::size_t>(8, secret.size());
    for (std::size_t at = 0; at + run <= secret.size(); ++at) {
        if (text.find(secret.substr(at, run)) != std::string_view::npos)
            return true;
    }
    return false;
}

TEST(SecretCorpus, EverySecretShapeGoesAndEveryLookalikeStays)
{
    const auto cases = corpus();
    std::size_t positives = 0;
    std::size_t caught = 0;
    std::size_t negatives = 0;
    const std::int64_t zero = 0;
    std::string missed;
    for (const auto &c : cases) {
        const auto result = Redactor::redact(c.text, Redactor::transcriptLimit);
        if (c.positive) {
            ++positives;
            EXPECT_NE(c.text.find(c.secret), std::string::npos) << "the secret is not in its line: " << c.text;
            if (!leftSomeOf(c.secret, result.text) && result.count > 0)
                ++caught;
            else
                missed += c.kind + ": " + result.text + "\n";
        } else {
            ++negatives;
            EXPECT_EQ(std::tie(result.text, result.count), std::tie(c.text, std::as_const(zero))) << c.kind;
        }
    }
    EXPECT_GE(positives, 100u);
    EXPECT_GE(negatives, 40u);
    EXPECT_GE(static_cast<double>(caught), 0.98 * static_cast<double>(positives)) << missed;
}

// A workspace reached through a symbolic link, inside a home that is itself a link. The
// nickname is the one the thread shows, from the path as given.
class LocalPathsTest : public testing::Test {
protected:
    void SetUp() override
    {
        root = std::filesystem::temp_directory_path() / ("orvane-paths-" + std::to_string(::getpid()));
        std::filesystem::create_directories(root / "real-home/work/client-x/api/src");
        std::filesystem::create_directory_symlink(root / "real-home", root / "home-link");
        std::filesystem::create_directory_symlink(root / "real-home/work/client-x", root / "x-link");
    }
    void TearDown() override { std::filesystem::remove_all(root); }
    std::filesystem::path root;
};

TEST_F(LocalPathsTest, WorkspaceBecomesTheNicknameAndHomeATilde)
{
    const std::string r = root.string();
    const auto context = Redactor::context(r + "/x-link/", r + "/home-link");
    const std::pair<std::string, std::string> rows[] = {
        {"edited " + r + "/x-link/api/src/main.py and " + r + "/real-home/work/client-x/api/src/main.py",
         "edited x-link/api/src/main.py and x-link/api/src/main.py"},
        {"cd " + r + "/x-link; ls " + r + "/home-link/.ssh/config " + r + "/real-home/work/other",
         "cd x-link; ls ~/.ssh/config ~/work/other"},
        {"in " + r + "/home-link.", "in ~."},
        {"(" + r + "/home-link/work/client-x)", "(~/work/client-x)"},
        {"file://" + r + "/x-link/README.md", "file://x-link/README.md"},
        // Only whole components: neighbours and look-alikes stay.
        {r + "/home-linked " + r + "/x-link2/a " + r + "/home-link.bak /opt" + r + "/x-link",
         r + "/home-linked " + r + "/x-link2/a " + r + "/home-link.bak /opt" + r + "/x-link"},
        // A secret is replaced before any path, and a cut comes after both.
        {"password=hunter22 at " + r + "/x-link/.env", "[REDACTED] at x-link/.env"},
    };
    for (const auto &[text, expected] : rows)
        EXPECT_EQ(Redactor::redact(text, Redactor::transcriptLimit, context).text, expected);

    // A home of "/" or a relative workspace would rewrite everything: they are ignored.
    EXPECT_EQ(Redactor::redact("/etc/hosts", 100, Redactor::context("work", "/")).text, "/etc/hosts");
    const auto homeOnly = Redactor::context("", r + "/real-home");
    EXPECT_EQ(Redactor::redact(r + "/real-home/work/client-x/a.txt", 100, homeOnly).text, "~/work/client-x/a.txt");
}

} // namespace
} // namespace orvane
