#include "appserver/line_framing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvane {
namespace {

struct FramingCase {
    const char *name;
    std::vector<std::string> chunks;
    std::vector<std::string> messages; // every message, over all chunks, in order
    std::size_t maxLine = LineFraming::defaultMaxLine;
    bool failed = false;
};

class LineFramingTest : public testing::TestWithParam<FramingCase> {};

TEST_P(LineFramingTest, SplitsChunksIntoLines)
{
    const auto &row = GetParam();
    LineFraming framing(row.maxLine);
    std::vector<std::string> messages;
    bool failed = false;
    for (const auto &chunk : row.chunks) {
        auto fed = framing.feed(chunk);
        messages.insert(messages.end(), fed.messages.begin(), fed.messages.end());
        failed = failed || fed.failed;
        EXPECT_FALSE(fed.closed);
        EXPECT_TRUE(fed.reply.empty());
    }
    EXPECT_EQ(messages, row.messages);
    EXPECT_EQ(failed, row.failed);
}

INSTANTIATE_TEST_SUITE_P(
    Chunks, LineFramingTest,
    testing::Values(
        FramingCase{"whole", {"{\"id\":1}\n"}, {"{\"id\":1}"}},
        FramingCase{"splitInTwo", {"{\"id\"", ":1}\n"}, {"{\"id\":1}"}},
        FramingCase{"splitInThreeWithFeedAlone", {"{\"i", "d\":1}", "\n"}, {"{\"id\":1}"}},
        FramingCase{"twoInOneChunk", {"{\"a\":1}\n{\"b\":2}\n"}, {"{\"a\":1}", "{\"b\":2}"}},
        FramingCase{"oneAndAHalf", {"a\nb", "c\n"}, {"a", "bc"}},
        FramingCase{"tailKept", {"a\nbc"}, {"a"}},
        FramingCase{"emptyLines", {"\n\na\n"}, {"", "", "a"}},
        FramingCase{"carriageReturnKept", {"a\r\n"}, {"a\r"}},
        FramingCase{"emptyChunk", {"", "a\n", ""}, {"a"}},
        FramingCase{"atTheLimit", {"12345678", "\n"}, {"12345678"}, 8},
        FramingCase{"overTheLimit", {"12345678", "9"}, {}, 8, true},
        FramingCase{"linesBeforeOverflowSurvive", {"ab\n123456789"}, {"ab"}, 8, true},
        FramingCase{"overTheLimitInOneChunk", {"a\n123456789\nb\n"}, {"a"}, 8, true}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(LineFraming, OverflowDropsTheBufferAndStartsClean)
{
    LineFraming framing(4);
    EXPECT_TRUE(framing.feed("12345").failed);
    auto after = framing.feed("ok\n");
    EXPECT_EQ(after.messages, std::vector<std::string>{"ok"});
    EXPECT_FALSE(after.failed);
}

TEST(LineFraming, EncodesOneLinePerMessageAndIsReadyAtOnce)
{
    LineFraming framing;
    EXPECT_TRUE(framing.ready());
    EXPECT_EQ(framing.start(), "");
    EXPECT_EQ(framing.encode("{\"id\":1}"), "{\"id\":1}\n");
}

}
}
