// Detached program start: arguments reach the program unchanged; a missing program is refused.
#include "platform/processstarter.h"

#include "platform/debuglog.h"
#include "platform/numfmt.h"
#include "testsupport.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

using namespace lapido;

namespace {

TEST(DetachedProcessStarter, ArgumentsArriveUnchangedWithoutAShell)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString out = dir.filePath("args.txt");
    // Blanks, quotes and a shell metacharacter stay inside their own argument.
    const QStringList args = {"-c", "printf '%s\\n' \"$@\" > \"$0\"", out, "a b", "\"quoted\"", "$(no)"};
    DetachedProcessStarter starter;
    ASSERT_TRUE(starter.startDetached("/bin/sh", args));
    QDeadlineTimer deadline(10000);
    QByteArray text;
    while (!deadline.hasExpired()) {
        QFile f(out);
        if (f.open(QIODevice::ReadOnly)) {
            text = f.readAll();
            if (text.count('\n') == 3)
                break;
        }
        QThread::msleep(20);
    }
    EXPECT_EQ(text, QByteArray("a b\n\"quoted\"\n$(no)\n"));
}

TEST(DetachedProcessStarter, MissingProgramIsRefusedAndLogged)
{
    DebugLogCapture log;
    DetachedProcessStarter starter;
    EXPECT_FALSE(starter.startDetached("/nonexistent/folder/tool", {"--Backup"}));
    ASSERT_FALSE(log.lines().empty());
    EXPECT_NE(log.lines().back().find("/nonexistent/folder/tool"), std::string::npos);
}

TEST(LocaleSeparatedDateTime, SeparatorsOfTheLocale)
{
    const QDateTime when(QDate(2026, 12, 1), QTime(7, 4, 3));
    EXPECT_EQ(FormatLocaleSeparatedDateTime(when, QLocale(QLocale::English, QLocale::UnitedStates)),
              QStringLiteral("12/01/2026 07:04:03"));
    EXPECT_EQ(FormatLocaleSeparatedDateTime(when, QLocale(QLocale::German, QLocale::Germany)),
              QStringLiteral("12.01.2026 07:04:03"));
    EXPECT_EQ(FormatLocaleSeparatedDate(when.date(), QLocale(QLocale::Dutch, QLocale::Netherlands)),
              QStringLiteral("12-01-2026"));
}

} // namespace
