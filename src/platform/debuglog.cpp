// Debug lines to the log4cxx root logger, plus optional in-process capture.
#include "platform/debuglog.h"

#include <log4cxx/logger.h>
#include <log4cxx/logmanager.h>
#include <log4cxx/spi/loggerrepository.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <mutex>

namespace lapido {

namespace {
struct CaptureRegistry {
    std::mutex mutex;
    std::vector<std::pair<DebugLogCapture*, std::vector<std::string>>> store;
};
CaptureRegistry& registry()
{
    static CaptureRegistry r;
    return r;
}

// The debug log's failure: told once, whichever thread meets it first.
struct FailureState {
    std::mutex mutex;
    DebugLogFailureHandler handler;
    QString text;
};
FailureState& failureState()
{
    static FailureState f;
    return f;
}

void debugLogFailed(const char* what)
{
    // Every appender goes, so that no later line tries the device again (an appender left in
    // place after a failed write is in no state to take more).
    try {
        log4cxx::Logger::getRootLogger()->removeAllAppenders();
    } catch (const std::exception&) {
    }
    FailureState& f = failureState();
    DebugLogFailureHandler handler;
    QString text;
    {
        std::lock_guard lock(f.mutex);
        if (!f.text.isEmpty())
            return;
        f.text = QStringLiteral("The debug log cannot be written (%1); debug logging has stopped, the work goes on.")
                     .arg(QString::fromLocal8Bit(what && *what ? what : "unknown error").trimmed());
        text = f.text;
        handler = f.handler;
    }
    if (handler)
        handler(text);
    else
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}
} // namespace

void setDebugLogFailureHandler(DebugLogFailureHandler handler)
{
    FailureState& f = failureState();
    std::lock_guard lock(f.mutex);
    f.handler = std::move(handler);
}

QString debugLogFailure()
{
    FailureState& f = failureState();
    std::lock_guard lock(f.mutex);
    return f.text;
}

void clearDebugLogFailure()
{
    FailureState& f = failureState();
    std::lock_guard lock(f.mutex);
    f.text.clear();
}

bool guardDebugLog(const std::function<void()>& operation)
{
    try {
        operation();
        return true;
    } catch (const std::exception& e) {
        debugLogFailed(e.what());
    } catch (...) {
        debugLogFailed(nullptr);
    }
    return false;
}

DebugLogCapture::DebugLogCapture()
{
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    r.store.emplace_back(this, std::vector<std::string>{});
}

DebugLogCapture::~DebugLogCapture()
{
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    r.store.erase(std::remove_if(r.store.begin(), r.store.end(), [this](const auto& p) { return p.first == this; }),
                  r.store.end());
}

std::vector<std::string> DebugLogCapture::lines() const
{
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    for (const auto& p : r.store)
        if (p.first == this)
            return p.second;
    return {};
}

void DebugLogCapture::clear()
{
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    for (auto& p : r.store)
        if (p.first == this)
            p.second.clear();
}

void IgnoreLoggingLibraryDefaults()
{
    // A repository marked as configured is not handed to the library's default configurator.
    log4cxx::LogManager::getLoggerRepository()->setConfigured(true);
}

void LogDebug(std::string_view text)
{
    {
        auto& r = registry();
        std::lock_guard lock(r.mutex);
        for (auto& p : r.store)
            p.second.emplace_back(text);
    }
    IgnoreLoggingLibraryDefaults();
    const log4cxx::LoggerPtr root = log4cxx::Logger::getRootLogger();
    // An unconfigured root logger has no appenders: say nothing (and no framework warning).
    if (root->getAllAppenders().empty() || !root->isDebugEnabled())
        return;
    // The library reports a write the device refused as an exception out of this call.
    guardDebugLog([&] { root->debug(std::string(text)); });
}

void LogDebug(const QString& text)
{
    LogDebug(std::string_view(text.toStdString()));
}

} // namespace lapido
