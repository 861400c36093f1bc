// lapidograph-cli run as a separate process on the test's own store and folder, as the
// end-to-end tests run it.
#pragma once

#include "testsupport.h"

#include <QFile>
#include <QProcess>

namespace lapido::test {

struct CliRun {
    int exitCode = -1;
    QString out;
    QString err;
};

inline QString readText(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

class CliRunFixture : public StationFixture {
protected:
    CliRun cli(const QStringList& args, const QString& locale = QStringLiteral("C.UTF-8"))
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LAPIDOGRAPH_SETTINGS", scratch("settings.db"));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("LC_ALL", locale);
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(scratch());
        p.start(QStringLiteral(LAPIDO_CLI), args);
        p.waitForFinished(120000);
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
    }
    CliRun mark(const QString& label, const QString& outName, const QStringList& extra = {},
                const QString& locale = QStringLiteral("C.UTF-8"))
    {
        return cli(QStringList{"mark", label, "--out", scratch(outName)} + extra, locale);
    }
    static QString example(const QString& name) { return QStringLiteral(LAPIDO_EXAMPLES_DIR "/") + name; }
};

} // namespace lapido::test
