#include <gtest/gtest.h>

#include <fixture.h>

#include <boost/json.hpp>

#include <filesystem>
#include <thread>
#include <tuple>
#include <vector>

#include <unistd.h>

#include "normalize/pattern.h"
#include "normalize/redactor.h"

namespace orvane {
namespace {

using test::fixture;

const std::string marker = "\u2026 [TRUNCATED]";

std::string times(std::string_view piece, std::size_t count)
{
    std::string text;
    while (count-- > 0)
        text += piece;
    return text;
}

// A text given as itself, or as parts, each a text or a [piece, times] repetition.
std::string text(const boost::json::value &given)
{
    if (given.is_string())
        return std::string(given.as_string());
    std::string joined;
    for (const auto &part : given.as_array())
        joined += part.is_string() ? std::string(part.as_string()) : times(part.at(0).as_string(), part.at(1).to_number<std::size_t>());
    return joined;
}

const boost::json::value cases = fixture("redactions.json");

// Each: the text, the limit, and what redaction makes of it. Invalid UTF-8, which no JSON text can
// hold, is repaired first; cuts keep whole user-perceived characters, the repaired ones included.
// Were a text cut before redaction, the head of a token straddling the cut would survive.
const auto rows = [] {
    std::vector<std::tuple<std::string, std::int64_t, RedactionResult>> rows{
        // A lone byte, a cut, an overlong, a surrogate, beyond U+10FFFF.
        {"caf\xE9 \xE2\x82 \xC0\xAF \xED\xA0\x80 \xF4\x90\x80\x80", Redactor::transcriptLimit,
         {"caf\uFFFD \uFFFD \uFFFD\uFFFD \uFFFD\uFFFD\uFFFD \uFFFD\uFFFD\uFFFD\uFFFD", 0}},
        {"password=\xC3\xFF\xFEsecret!", Redactor::transcriptLimit, {"[REDACTED]", 1}},
        {times("\xE2\x82", 400), 300, {times("\uFFFD", 285) + marker, 0, true}},
    };
    for (const auto &row : cases.at("redactions").as_array()) {
        const auto &field = row.as_array();
        rows.emplace_back(text(field.at(0)), field.at(1).as_int64(),
                          RedactionResult{text(field.at(2)), field.at(3).as_int64(), field.size() > 4 && field.at(4).as_bool()});
    }
    return rows;
}();

TEST(Redactor, ReplacesWholeSecretsThenCutsOnGraphemeBoundaries)
{
    for (const auto &[input, limit, expected] : rows)
        EXPECT_EQ(Redactor::redact(input, limit), expected) << testing::PrintToString(input.substr(0, 80));
}

TEST(Redactor, ConcurrentCallsGiveTheSingleThreadedResults)
{
    std::vector<int> failures(6, 0);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < failures.size(); ++t)
        threads.emplace_back([&failures, t] {
            for (int round = 0; round < 10; ++round)
                for (const auto &[input, limit, expected] : rows)
                    failures[t] += Redactor::redact(input, limit) != expected;
        });
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(failures, std::vector<int>(6, 0));
}

TEST(Redactor, ProjectNameKeepsOnlyACleanLastComponent)
{
    for (const auto &row : cases.at("projectNames").as_array())
        EXPECT_EQ(Redactor::projectName(text(row.at(0))), text(row.at(1))) << row;
    EXPECT_EQ(Redactor::projectName("/home/u/caf\xE9"), "caf\uFFFD");
}

TEST(Pattern, SubjectsBeyondTheJitStackStillMatchThroughTheInterpreter)
{
    std::size_t replaced = 0;
    EXPECT_EQ(Pattern("(?:A|B)+?-----END").replaceAll(std::string(200'000, 'A') + "-----END", "<>", &replaced), "<>");
    EXPECT_EQ(replaced, 1u);
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

// Each case: "+" (the secret must vanish) or "-" (the text must stay untouched), the kind, the
// secret, the text. Every value is made up.
TEST(SecretCorpus, EverySecretShapeGoesAndEveryLookalikeStays)
{
    const auto corpus = fixture("secret-corpus.json");
    std::size_t positives = 0, caught = 0, negatives = 0;
    std::string missed;
    for (const auto &row : corpus.as_array()) {
        const auto &field = row.as_array();
        const std::string kind(field.at(1).as_string()), secret(field.at(2).as_string()), input(field.at(3).as_string());
        const auto result = Redactor::redact(input, Redactor::transcriptLimit);
        if (field.at(0) == "+") {
            ++positives;
            EXPECT_NE(input.find(secret), std::string::npos) << "the secret is not in its line: " << input;
            if (!leftSomeOf(secret, result.text) && result.count > 0)
                ++caught;
            else
                missed += kind + ": " + result.text + "\n";
        } else {
            ++negatives;
            EXPECT_EQ(result, RedactionResult{input}) << kind;
        }
    }
    EXPECT_GE(positives, 100u);
    EXPECT_GE(negatives, 40u);
    EXPECT_GE(static_cast<double>(caught), 0.98 * static_cast<double>(positives)) << missed;
}

// A workspace reached through a symbolic link, inside a home that is itself a link. The
// nickname is the one the thread shows, from the path as given.
TEST(Redactor, WorkspaceBecomesTheNicknameAndHomeATilde)
{
    const auto root = std::filesystem::temp_directory_path() / ("orvane-paths-" + std::to_string(::getpid()));
    std::filesystem::create_directories(root / "real-home/work/client-x/api/src");
    std::filesystem::create_directory_symlink(root / "real-home", root / "home-link");
    std::filesystem::create_directory_symlink(root / "real-home/work/client-x", root / "x-link");
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
    std::filesystem::remove_all(root);
}

} // namespace
} // namespace orvane
