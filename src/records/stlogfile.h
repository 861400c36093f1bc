// The marking trace file "LATrace" (FileLogger) and its XY sampler thread (MotionLogger).
#pragma once

#include <QDateTime>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace lapido {

// What the sampler reads while a marking runs: the machine's positions (X, Y, Z in mm, W the
// raw pulse count) and whether the pulse axis is firing. The machine object is the station's
// source; tests give scripted ones.
class MotionSampleSource {
public:
    virtual ~MotionSampleSource() = default;
    virtual void GetPosition(double& X, double& Y, double& Z, double& W) = 0;
    virtual bool W_IsShooting() = 0;
};

// The sampler of one marking: a worker thread that collects each new XY point visited while
// the laser fires. It paces itself on the station's clock, at most one sample per millisecond
// of clock time, so that on virtual time it neither spins a core nor starves the marking.
class MotionLogger {
public:
    explicit MotionLogger(MotionSampleSource& source);
    ~MotionLogger(); // stops and joins
    MotionLogger(const MotionLogger&) = delete;
    MotionLogger& operator=(const MotionLogger&) = delete;

    // Returns once the thread runs, so that a marking started right after is sampled from
    // its beginning.
    void Start();
    // Clears DoLogging and waits until the thread has ended.
    void Stop();
    // The collected text; only meaningful after Stop().
    const QString& strmovelog() const { return m_strmovelog; }
    // Samples taken (each a position query), for pacing checks.
    std::int64_t samplesTaken() const { return m_samples.load(); }

    std::atomic<bool> DoLogging{true};

private:
    void Execute();

    MotionSampleSource& m_source;
    std::thread m_thread;
    std::atomic<std::int64_t> m_samples{0};
    std::mutex m_startMutex;
    std::condition_variable m_started;
    bool m_running = false;

    double AxisPosition_X = 0, AxisPosition_Y = 0, AxisPosition_W = 0, AxisPosition_Z = 0;
    double tmpAxisPosition_X = 0, tmpAxisPosition_Y = 0;
    QString m_strmovelog;
};

// The trace file: created with its warning line when missing, one session line per run, then
// dated ("[stamp]:text") and undated entries. Every write opens the file for appending and
// closes it again, so each entry is on disk when the call returns and other programs can read
// the file at any time. A write that fails returns false, keeps the reason in lastError() and
// puts up a non-modal notice once (until a write succeeds again): a modal box in the middle
// of a marking would hold the laser on.
// Where the trace goes when no folder is named: the current folder, as stations have always
// kept it; when that is not writable (a station started from the desktop menu runs in a
// folder it may not write), the station's working folder.
QString DefaultTraceFolder();

class FileLogger {
public:
    // The trace file in the given folder (DefaultTraceFolder() when empty).
    explicit FileLogger(const QString& folder = {});
    // The same with the local time of stamps taken from now, the session line included.
    FileLogger(const QString& folder, std::function<QDateTime()> now);
    ~FileLogger();
    FileLogger(const FileLogger&) = delete;
    FileLogger& operator=(const FileLogger&) = delete;

    // The run's instance (in DefaultTraceFolder()), created on first use.
    static FileLogger& GetInstance();
    static void ResetInstance();

    bool AppendLog(const QString& text);
    bool AppendLogWD(const QString& text);

    // Starts a new sampler for this marking on the given source (the machine object when
    // none is given). A sampler still running from an earlier marking is stopped first.
    void StartXYLogging(MotionSampleSource& source);
    void StartXYLogging();
    // Stops the sampler, writes its text as one undated entry and drops it. Without a
    // sampler nothing is written.
    bool WriteEngravingMoveTraceLog();
    bool isSampling() const { return t_MotionLogger != nullptr; }

    QString filePath() const { return m_path; }
    const QString& lastError() const { return m_lastError; }
    // Whether any write to the trace failed since the logger was made (a later good write
    // does not clear it: the trace has a gap).
    bool anyWriteFailed() const { return m_anyWriteFailed; }
    // The local time of stamps (replaceable for tests).
    void setLocalTimeSource(std::function<QDateTime()> now) { m_now = std::move(now); }

    const QString LogFileName = QStringLiteral("LATrace");

private:
    bool open();
    bool append(const QString& line);
    // Where the entry being written began and how long it is, kept beside the trace while it
    // is written: see cutTornEntry().
    QString tornEntryNotePath() const { return m_path + QStringLiteral(".tail"); }
    void cutTornEntry();

    QString m_path;
    QString m_lastError;
    bool m_noticeShown = false;
    std::function<QDateTime()> m_now;
    bool m_anyWriteFailed = false;
    std::unique_ptr<MotionLogger> t_MotionLogger;
};

// The first line of a new trace file.
QString traceFileWarningLine();

} // namespace lapido
