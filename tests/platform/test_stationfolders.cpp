// The working folder a station takes when none is stored follows the user's data folder.
#include "platform/stationglobals.h"

#include <gtest/gtest.h>

#include <optional>

using namespace lapido;

namespace {

// Sets (or unsets) an environment variable for one scope.
class EnvVar {
public:
    EnvVar(const char* name, std::optional<QByteArray> value)
        : m_name(name), m_old(qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt)
    {
        set(value);
    }
    ~EnvVar() { set(m_old); }
    EnvVar(const EnvVar&) = delete;
    EnvVar& operator=(const EnvVar&) = delete;

private:
    void set(const std::optional<QByteArray>& v)
    {
        if (v)
            qputenv(m_name, *v);
        else
            qunsetenv(m_name);
    }
    const char* m_name;
    std::optional<QByteArray> m_old;
};

struct DataHomeCase {
    const char* name;
    std::optional<QByteArray> dataHome;
    const char* expected;
};

class DefaultWorkingDirTest : public ::testing::TestWithParam<DataHomeCase> {};

TEST_P(DefaultWorkingDirTest, IsLapidographInTheUsersDataFolder)
{
    const EnvVar home("HOME", QByteArray("/home/operator"));
    const EnvVar data("XDG_DATA_HOME", GetParam().dataHome);
    EXPECT_EQ(DefaultWorkingDir(), QString::fromUtf8(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    DataHome, DefaultWorkingDirTest,
    ::testing::Values(DataHomeCase{"Set", QByteArray("/srv/station/data"), "/srv/station/data/Lapidograph/"},
                      DataHomeCase{"TrailingSlash", QByteArray("/srv/data//"), "/srv/data/Lapidograph/"},
                      DataHomeCase{"Unset", std::nullopt, "/home/operator/.local/share/Lapidograph/"},
                      DataHomeCase{"Empty", QByteArray(""), "/home/operator/.local/share/Lapidograph/"},
                      // Relative paths are invalid for the base directories and are ignored.
                      DataHomeCase{"Relative", QByteArray("data"), "/home/operator/.local/share/Lapidograph/"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
