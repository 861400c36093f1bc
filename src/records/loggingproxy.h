// The maintenance log's front: chooses the sink once per run and hands every record to it.
#pragma once

#include <QString>

namespace lapido {

class TLoggingProxy {
public:
    enum class Sink { None, File, Database };

    // Selection from the store: logfileenabled "1" picks the file sink (the database setting
    // is then not read), else databaseenabled "1" picks the database; anything else drops.
    TLoggingProxy();
    explicit TLoggingProxy(Sink sink) : m_sink(sink) {}

    static TLoggingProxy& GetInstance();
    static void ResetInstance();

    Sink sink() const { return m_sink; }

    // Hands the record to the selected sink, creating it on first use. A sink's failure is
    // shown to the operator (a repeated identical failure only once) and never stops the
    // station; false when the record was lost, true when written or dropped by choice.
    bool InsertReg(const QString& table, const QString& action, const QString& newValue);

#define LAPIDO_ACTION(op, table) \
    bool op(const QString& action, const QString& newValue) { return InsertReg(QStringLiteral(table), action, newValue); }
#define LAPIDO_FLOAT_TABLE(table)
#include "records/maintenanceactions.inc"
#undef LAPIDO_FLOAT_TABLE
#undef LAPIDO_ACTION

private:
    void reportDatabaseError(const QString& error);

    Sink m_sink = Sink::None;
    QString m_lastShownError;
};

} // namespace lapido
