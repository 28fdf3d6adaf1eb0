#include <gtest/gtest.h>

#include <fixture.h>

#include <boost/json.hpp>

#include <filesystem>
#include <future>
#include <tuple>
#include <vector>

#include <unistd.h>

#include "normalize/pattern.h"
#include "normalize/redactor.h"

namespace orvane {
namespace {

using test::fixture;

const boost::json::value cases = fixture("redactions.json");

// A text given as itself, as {"bytes": hex}, as [part, times] repeating a part, or as an array
// of such parts joined.
std::string text(const boost::json::value &given)
{
    if (given.is_string())
        return std::string(given.as_string());
    std::string joined;
    if (given.is_object()) {
        for (std::string_view hex = given.at("bytes").as_string(); !hex.empty(); hex.remove_prefix(2))
            joined += char(std::stoi(std::string(hex.substr(0, 2)), nullptr, 16));
    } else if (given.as_array().size() == 2 && given.at(1).is_number()) {
        for (auto count = given.at(1).to_number<std::size_t>(); count > 0; --count)
            joined += text(given.at(0));
    } else {
        for (const auto &part : given.as_array())
            joined += text(part);
    }
    return joined;
}

// Each: the text, the limit, and what redaction makes of it, marked when cut. Invalid UTF-8 is
// repaired first; cuts keep whole user-perceived characters, the repaired ones included. Were a
// text cut before redaction, the head of a token straddling the cut would survive. Six threads agree.
TEST(Redactor, ReplacesWholeSecretsThenCutsOnGraphemeBoundariesAlsoConcurrently)
{
    std::vector<std::tuple<std::string, std::int64_t, RedactionResult>> rows;
    for (const auto &row : cases.at("redactions").as_array())
        rows.emplace_back(text(row.at(0)), row.at(1).as_int64(),
                          RedactionResult{text(row.at(2)), row.at(3).as_int64(), row.as_array().size() > 4});
    for (const auto &[input, limit, expected] : rows)
        EXPECT_EQ(Redactor::redact(input, limit), expected) << testing::PrintToString(input.substr(0, 80));

    std::vector<std::future<int>> failures;
    for (int thread = 0; thread < 6; ++thread)
        failures.push_back(std::async(std::launch::async, [&rows] {
            int failed = 0;
            for (int round = 0; round < 10; ++round)
                for (const auto &[input, limit, expected] : rows)
                    failed += Redactor::redact(input, limit) != expected;
            return failed;
        }));
    for (auto &failed : failures)
        EXPECT_EQ(failed.get(), 0);
}

TEST(Redactor, ProjectNameKeepsOnlyACleanLastComponent)
{
    for (const auto &row : cases.at("projectNames").as_array())
        EXPECT_EQ(Redactor::projectName(text(row.at(0))), text(row.at(1))) << row;
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
    for (std::size_t at = 0; at + run <= secret.size(); ++at)
        if (text.find(secret.substr(at, run)) != std::string_view::npos)
            return true;
    return false;
}

// Each case: "+" (the secret must vanish) or "-" (the text must stay untouched), the kind, the
// secret, the text. Every value is made up.
TEST(SecretCorpus, EverySecretShapeGoesAndEveryLookalikeStays)
{
    const auto corpus = fixture("secret-corpus.json");
    for (const auto &row : corpus.as_array()) {
        const std::string kind(row.at(1).as_string()), secret(row.at(2).as_string()), input(row.at(3).as_string());
        const auto result = Redactor::redact(input, Redactor::transcriptLimit);
        if (row.at(0) == "+") {
            EXPECT_TRUE(result.count > 0 && !leftSomeOf(secret, result.text)) << kind << ": " << result.text;
        } else {
            EXPECT_EQ(result, RedactionResult{input}) << kind;
        }
    }
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
    const auto rooted = [&](const boost::json::value &given) {
        std::string text(given.as_string());
        for (auto at = text.find("$root"); at != std::string::npos; at = text.find("$root", at + r.size()))
            text.replace(at, 5, r);
        return text;
    };
    const auto context = Redactor::context(r + "/x-link/", r + "/home-link");
    for (const auto &row : cases.at("paths").as_array())
        EXPECT_EQ(Redactor::redact(rooted(row.at(0)), Redactor::transcriptLimit, context).text, rooted(row.at(1)));

    // A home of "/" or a relative workspace would rewrite everything: they are ignored.
    EXPECT_EQ(Redactor::redact("/etc/hosts", 100, Redactor::context("work", "/")).text, "/etc/hosts");
    std::filesystem::remove_all(root);
}

} // namespace
} // namespace orvane
