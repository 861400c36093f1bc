// Marking records without a server: the customer switch, the connection text, failures, GUIDs.
#include "records/guidex.h"
#include "records/lapidographdb.h"

#include "testsupport.h"

#include <QRegularExpression>

namespace lapido {
namespace {

using MarkingRecordsTest = test::StationFixture;

TEST_F(MarkingRecordsTest, OnlyTheCustomerXglInAnyCaseSwitchesTheRecordsOn)
{
    const struct {
        const char* customer;
        bool active;
    } cases[] = {{"XGL", true}, {"xgl", true}, {"XgL", true}, {"", false}, {"XGL ", false}, {"XG", false}, {"ACME", false}};
    for (const auto& c : cases) {
        store().WriteString(QStringLiteral("Database"), QStringLiteral("customer"), QString::fromLatin1(c.customer));
        EXPECT_EQ(TDataModule1().isActive(), c.active) << '"' << c.customer << '"';
    }
}

TEST_F(MarkingRecordsTest, InertStationShowsNothingAndRecordsNothing)
{
    TDataModule1 db;
    db.Open();
    db.Insert(QStringLiteral("Label 1"), QStringLiteral("12345"));
    EXPECT_FALSE(db.connected());
    EXPECT_EQ(db.connection(), nullptr);
    EXPECT_TRUE(m_dialogs.transcript().empty());
}

TEST_F(MarkingRecordsTest, FourParametersInTheirOrder)
{
    const MarkingDatabaseConfig defaults = MarkingDatabaseConfig::fromStore();
    EXPECT_EQ(defaults.odbcConnectionString(),
              QStringLiteral("DRIVER={FreeTDS};UID=sa;PWD=;SERVER=database_hostname;DATABASE=Lapidograph;"));
    MarkingDatabaseConfig c{QStringLiteral("XGL"), QStringLiteral("clerk"), QStringLiteral("p;w{d}"),
                            QStringLiteral("records.example:1433"), QStringLiteral("MariaDB Unicode")};
    EXPECT_EQ(c.odbcConnectionString(), QStringLiteral("DRIVER={MariaDB Unicode};UID=clerk;PWD={p;w{d}}};"
                                                       "SERVER=records.example;PORT=1433;DATABASE=Lapidograph;"));
}

TEST_F(MarkingRecordsTest, ServerDownAtStartIsReportedAndEveryMarkingThenSaysSo)
{
    MarkingDatabaseConfig c{QStringLiteral("xgl"), QStringLiteral("nobody"), QString(), QStringLiteral("127.0.0.1:1"),
                            QStringLiteral("MariaDB Unicode")};
    TDataModule1 db(c);
    db.Open();
    EXPECT_FALSE(db.connected());
    db.Insert(QStringLiteral("Label 1"), QStringLiteral("12345"));
    db.Insert(QStringLiteral("Label 1"), QStringLiteral("12346"));
    EXPECT_EQ(m_dialogs.texts(), (QStringList{QStringLiteral("Error: did not find the database"),
                                              QStringLiteral("Error: database connection is absent"),
                                              QStringLiteral("Error: database connection is absent")}));
    for (const auto& e : m_dialogs.transcript())
        EXPECT_EQ(e.kind, DialogKind::Information);
}

TEST(GuidExTest, TextFormsRoundTrip)
{
    const QUuid g = TGuidEx::NewGuid();
    EXPECT_FALSE(TGuidEx::IsEmptyGuid(g));
    const QString text = TGuidEx::ToString(g);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\}$"))
                    .match(text)
                    .hasMatch())
        << text.toStdString();
    EXPECT_EQ(TGuidEx::ToQuotedString(g), QChar('\'') + text + QChar('\''));
    const auto back = TGuidEx::FromString(text.toLower());
    ASSERT_TRUE(back.has_value());
    EXPECT_TRUE(TGuidEx::EqualGuids(*back, g));
    EXPECT_FALSE(TGuidEx::EqualGuids(TGuidEx::NewGuid(), g));
    EXPECT_EQ(TGuidEx::ToString(TGuidEx::EmptyGuid()), QStringLiteral("{00000000-0000-0000-0000-000000000000}"));
    EXPECT_TRUE(TGuidEx::IsEmptyGuid(TGuidEx::EmptyGuid()));
    for (const char* bad : {"", "3F2504E0-4F89-11D3-9A0C-0305E82C3301", "{3F2504E0-4F89-11D3-9A0C-0305E82C330}",
                            "{3F2504E0-4F89-11D3-9A0C-0305E82C33G1}"})
        EXPECT_FALSE(TGuidEx::FromString(QString::fromLatin1(bad)).has_value()) << bad;
}

} // namespace
} // namespace lapido
