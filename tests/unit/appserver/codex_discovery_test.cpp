#include "appserver/app_server_client.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace orvane {
namespace {

// Sets (or unsets, for nullptr) one environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const char *value) : m_name(name), m_old(qgetenv(name)), m_had(qEnvironmentVariableIsSet(name))
    {
        value ? qputenv(name, value) : qunsetenv(name);
    }
    ~ScopedEnv() { m_had ? qputenv(m_name, m_old) : qunsetenv(m_name); }

private:
    const char *m_name;
    QByteArray m_old;
    bool m_had;
};

struct CandidateCase {
    const char *name;
    const char *path;        // PATH, or nullptr for none
    const char *orvaneCodex; // ORVANE_CODEX, or nullptr for none
    std::vector<std::string> expected;
};

class Candidates : public testing::TestWithParam<CandidateCase> {};

TEST_P(Candidates, FollowTheFixedPlacesThenPathUnlessOverridden)
{
    const auto &row = GetParam();
    ScopedEnv path("PATH", row.path);
    ScopedEnv chosen("ORVANE_CODEX", row.orvaneCodex);
    EXPECT_EQ(AppServerClient::codexCandidates({"/app/codex", "/brew/codex"}), row.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Environments, Candidates,
    testing::Values(
        CandidateCase{"noPath", nullptr, nullptr, {"/app/codex", "/brew/codex"}},
        CandidateCase{"emptyPieceSkipped", "/a::/b", nullptr, {"/app/codex", "/brew/codex", "/a/codex", "/b/codex"}},
        CandidateCase{"edgesAndDuplicatesKept", ":/a:/a:", nullptr, {"/app/codex", "/brew/codex", "/a/codex", "/a/codex"}},
        CandidateCase{"emptyPath", "", nullptr, {"/app/codex", "/brew/codex"}},
        CandidateCase{"overrideIsTheOnlyCandidate", "/a", "/opt/x/codex", {"/opt/x/codex"}},
        CandidateCase{"emptyOverrideIsUnset", "/a", "", {"/app/codex", "/brew/codex", "/a/codex"}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(FindCodex, TheFirstExecutableFileWins)
{
    QTemporaryDir root;
    auto place = [&](const QString &relative, QFile::Permissions permissions) {
        const auto path = root.filePath(relative);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write("#!/bin/sh\n");
        file.close();
        file.setPermissions(permissions);
        return path.toStdString();
    };
    const auto executable = QFile::ReadOwner | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;
    const auto fixedApp = root.filePath("app/codex").toStdString();
    const auto fixedBrew = place("brew/codex", executable);
    const auto plain = place("plain/codex", QFile::ReadOwner);
    QDir().mkpath(root.filePath("folder/codex"));
    const auto onPath = place("bin/codex", executable);
    const auto path = root.filePath("folder") + ":" + root.filePath("plain") + "::" + root.filePath("bin");
    ScopedEnv pathVariable("PATH", path.toUtf8().constData());
    ScopedEnv unset("ORVANE_CODEX", nullptr);

    // A missing fixed place, a folder and a file without execute permission are passed over.
    EXPECT_EQ(AppServerClient::findCodex({fixedApp}), onPath);
    EXPECT_EQ(AppServerClient::findCodex({fixedApp, fixedBrew}), fixedBrew);
    const auto app = place("app/codex", executable);
    EXPECT_EQ(AppServerClient::findCodex({fixedApp, fixedBrew}), app);

    {
        ScopedEnv chosen("ORVANE_CODEX", plain.c_str());
        EXPECT_EQ(AppServerClient::findCodex({fixedApp}), std::nullopt);
    }
    {
        ScopedEnv chosen("ORVANE_CODEX", onPath.c_str());
        EXPECT_EQ(AppServerClient::findCodex({fixedApp}), onPath);
    }
    ScopedEnv nothing("PATH", root.filePath("folder").toUtf8().constData());
    EXPECT_EQ(AppServerClient::findCodex({}), std::nullopt);
}

}
}
