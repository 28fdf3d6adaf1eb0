// The instance socket's one-line requests and their answers, including lines no orvane sends.
#include "app/instance_request.h"

#include <gtest/gtest.h>

namespace orvane {
namespace {

using Kind = InstanceRequest::Kind;

TEST(InstanceRequest, EachRequestIsOneLineThatReadsBackAsSent)
{
    const std::vector<std::pair<InstanceRequest, QByteArray>> table{
        {{Kind::pair, "123456"}, "pair 123456\n"},
        {{Kind::pair, "12 34-56"}, "pair 12 34-56\n"},
        {{Kind::pair, "\u0661\u0662\u0663\u0664\u0665\u0666"}, "pair \u0661\u0662\u0663\u0664\u0665\u0666\n"},
        {{Kind::pair, ""}, "pair \n"},
        {{Kind::unpair, {}}, "unpair\n"},
        {{Kind::status, {}}, "status\n"},
        {{Kind::show, {}}, "show\n"},
    };
    for (const auto &[request, line] : table) {
        EXPECT_EQ(request.encode(), line);
        const auto read = InstanceRequest::decode(line.chopped(1));
        ASSERT_TRUE(read) << line.toStdString();
        EXPECT_EQ(read->kind, request.kind);
        EXPECT_EQ(read->pin, request.pin);
    }
    // A PIN typed with line breaks cannot end the line early or add a second request.
    EXPECT_EQ((InstanceRequest{Kind::pair, "12\n34\r56"}).encode(), "pair 12 34 56\n");
}

TEST(InstanceRequest, AnythingElseIsRefused)
{
    for (const QByteArray line : {"", "pair", "unpair now", "status ", "Status", "show\r", "quit", " pair 123456"})
        EXPECT_FALSE(InstanceRequest::decode(line)) << line.toStdString();
}

TEST(InstanceReply, TheFirstLineSaysHowItWentAndTheRestIsTheText)
{
    const std::vector<std::pair<InstanceReply, QByteArray>> table{
        {{true, "Paired. Your glasses will update in a moment."}, "ok\nPaired. Your glasses will update in a moment."},
        {{false, "Enter the six digits shown on the glasses."}, "failed\nEnter the six digits shown on the glasses."},
        {{true, "Orvane Companion 0.1.0\nCompanion: connected"}, "ok\nOrvane Companion 0.1.0\nCompanion: connected"},
        {{true, ""}, "ok\n"},
    };
    for (const auto &[reply, bytes] : table) {
        EXPECT_EQ(reply.encode(), bytes);
        const InstanceReply read = InstanceReply::decode(bytes);
        EXPECT_EQ(read.succeeded, reply.succeeded) << bytes.toStdString();
        EXPECT_EQ(read.text, reply.text);
    }
    EXPECT_FALSE(InstanceReply::decode("garbage").succeeded);
    EXPECT_FALSE(InstanceReply::decode("okay\nfine").succeeded);
}

} // namespace
} // namespace orvane
