// SPDX-License-Identifier: MIT
#include "cli/progressprinter.h"

#include <QElapsedTimer>
#include <QRegularExpression>

#include <memory>

namespace {

// A terminal line is redrawn at most this often.
constexpr qint64 TerminalRedrawMs = 100;
// A plain line needs both this much progress and this much time since the previous one.
constexpr int PlainStepPercent = 5;
constexpr qint64 PlainStepMs = 1000;
// A plain line of a wait for the network, every this many seconds of it.
constexpr qint64 PlainWaitStepSeconds = 30;

} // namespace

ProgressPrinter::ProgressPrinter(Sink sink, bool terminal, Clock clock)
    : m_sink(std::move(sink))
    , m_terminal(terminal)
    , m_clock(std::move(clock))
{
    if (!m_clock) {
        auto timer = std::make_shared<QElapsedTimer>();
        timer->start();
        m_clock = [timer] { return timer->elapsed(); };
    }
}

QString ProgressPrinter::printable(const QString &text)
{
    // CSI with its parameters, OSC up to its terminator, and the other ESC sequences whole,
    // so that no parameter is left behind as text.
    static const QRegularExpression sequences(
        QStringLiteral("\\x1b(?:\\[[0-?]*[ -/]*[@-~]?|\\][^\\x07\\x1b]*(?:\\x07|\\x1b\\\\)?|[ -/]*[0-~]?)"));
    QString result;
    const QString stripped = QString(text).remove(sequences);
    result.reserve(stripped.size());
    for (const QChar c : stripped) {
        const ushort code = c.unicode();
        if (code == '\t' || code == '\n' || code == '\r')
            result += QLatin1Char(' ');
        else if (code >= 0x20 && (code < 0x7f || code > 0x9f))
            result += c;
    }
    return result;
}

QString ProgressPrinter::formatLine(const Progress &progress)
{
    const PipelineProgress &task = progress.task;
    const QString speed = task.bytesPerSecond < 0 ? QStringLiteral("-- MB/s") : PipelineProgress::speedText(task.bytesPerSecond);
    const QString left = task.remaining < 0 ? QStringLiteral("--") : PipelineProgress::durationText(task.remaining);
    return QStringLiteral("[%1/%2] %3  %4 (%5/%6)  %7%  %8  %9 left")
        .arg(QString::number(progress.fileIndex), QString::number(progress.fileCount), printable(progress.file),
             printable(task.title), QString::number(task.taskIndex), QString::number(task.taskCount),
             QString::number(task.rate), speed, left);
}

void ProgressPrinter::update(const Progress &progress)
{
    const qint64 now = m_clock();
    const PipelineProgress &task = progress.task;
    const QString key = QString::number(progress.fileIndex) + QLatin1Char('/') + QString::number(task.taskIndex)
                        + QLatin1Char('/') + task.title;
    const bool newTask = key != m_taskKey;
    if (newTask) {
        m_taskKey = key;
        m_lastPercent = -1;
    }

    const QString waiting = task.networkWaitText();
    if (!waiting.isEmpty()) {
        // The wait's clock: every second on a terminal, every PlainWaitStep seconds in a log.
        const qint64 step = m_terminal ? 1 : PlainWaitStepSeconds;
        if (m_lastWaitSeconds >= 0 && task.networkWaitSeconds / step == m_lastWaitSeconds / step)
            return;
        m_lastWaitSeconds = task.networkWaitSeconds;
        m_lastPercent = -1;
        const QString line = QStringLiteral("[%1/%2] %3  %4")
                                 .arg(QString::number(progress.fileIndex), QString::number(progress.fileCount),
                                      printable(progress.file), waiting);
        m_sink(m_terminal ? QString(QLatin1Char('\r') + line + QStringLiteral("\x1b[K"))
                          : QString(line + QLatin1Char('\n')));
        m_lineOpen = m_terminal;
        m_lastPrintMs = now;
        return;
    }
    m_lastWaitSeconds = -1;
    if (!newTask) {
        if (task.rate == m_lastPercent)
            return;
        // The last step is always shown: it tells that the task got there.
        const bool last = task.rate == 100;
        if (m_terminal && !last && now - m_lastPrintMs < TerminalRedrawMs)
            return;
        if (!m_terminal && !last && (task.rate - m_lastPercent < PlainStepPercent || now - m_lastPrintMs < PlainStepMs))
            return;
    }

    const QString line = formatLine(progress);
    m_lastPrintMs = now;
    m_lastPercent = task.rate;
    if (m_terminal) {
        // Back to the line's start, then clear what a longer earlier line left behind.
        m_sink(QLatin1Char('\r') + line + QStringLiteral("\x1b[K"));
        m_lineOpen = true;
    } else {
        m_sink(line + QLatin1Char('\n'));
    }
}

void ProgressPrinter::breakLine()
{
    if (!m_lineOpen)
        return;
    m_sink(QStringLiteral("\n"));
    m_lineOpen = false;
}

void ProgressPrinter::println(const QString &text)
{
    breakLine();
    m_sink(text + QLatin1Char('\n'));
}
