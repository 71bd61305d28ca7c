#include "jobs/jobreport.h"

#include "core/clock.h"
#include "core/cp1251.h"
#include "core/errors.h"
#include "core/paths.h"
#include "core/strconst.h"

#include <QDateTime>

void WriteLogLines(QFile &file, const QStringList &messages)
{
    // The Russian convention, unambiguous whatever the machine's locale.
    const QString stamp =
        TClock::Now().toString(QStringLiteral("dd.MM.yyyy hh:mm:ss")) + StrConst::LogLineSeparator;
    QString lines;
    // One message, one line: each line of the file begins with its time stamp.
    for (const QString &message : messages)
        lines += stamp + OneLine(message) + QLatin1String("\r\n");
    const QByteArray bytes = cp1251::encode(lines);
    if (file.write(bytes) != bytes.size() || !file.flush())
        throw EFileError(
            QStringLiteral("Ошибка записи в файл %1: %2").arg(file.fileName(), file.errorString()));
}

void WriteLogLine(QFile &file, const QString &message)
{
    WriteLogLines(file, {message});
}

TJobReport::TJobReport(const TJobContext &context, const QString &appFolder)
    : m_progress(context.Progress), m_stop(context.Stop)
{
    const QString logName = paths::includeTrailing(appFolder) + StrConst::LogFileName;
    m_logFile.setFileName(logName);
    const bool existed = m_logFile.exists();
    // Unbuffered: each line goes out at once, and a short write is seen.
    if (!m_logFile.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        throw EFileError(
            QStringLiteral("Невозможно открыть файл %1: %2").arg(logName, m_logFile.errorString()));
    if (existed) {
        m_logFile.write("\r\n\r\n");
        m_logFile.flush();
    }
}

void TJobReport::Log(const QString &message)
{
    m_progress.AddMessage(message);
    WriteLogLine(m_logFile, message);
}

void TJobReport::LogProgress(const QStringList &messages)
{
    if (messages.isEmpty())
        return;
    m_progress.AddProgressLines(messages);
    WriteLogLines(m_logFile, messages);
}

void TJobReport::LogRecordCount(int count)
{
    Log(QString::number(count) + StrConst::Records);
    Log(QString());
}

int TJobReport::ProgressPercent() const
{
    if (Total == 0)
        return 100;
    return static_cast<int>(static_cast<qint64>(Position) * 100 / Total);
}

void TJobReport::UpdateGauge()
{
    // The gauge shows whole percents: a step that does not change the figure is not worth a
    // message to the watcher (a copy makes one step per row).
    const int percent = ProgressPercent();
    if (percent == m_shownPercent)
        return;
    m_shownPercent = percent;
    m_progress.SetGauge(percent);
}

void TJobReport::ResetGauge()
{
    m_shownPercent = -1;
    UpdateGauge();
}

void TJobReport::CheckTerminated() const
{
    if (Terminated())
        throw ERplException(StrConst::Interrupted);
}
