// Debug lines to the log4cxx root logger, plus optional in-process capture.
#include "platform/debuglog.h"

#include <log4cxx/logger.h>
#include <log4cxx/logmanager.h>
#include <log4cxx/spi/loggerrepository.h>

#include <algorithm>
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
} // namespace

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
    root->debug(std::string(text));
}

void LogDebug(const QString& text)
{
    LogDebug(std::string_view(text.toStdString()));
}

} // namespace lapido
