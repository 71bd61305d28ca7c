#include "replication/rplthread.h"

#include "core/appinfo.h"
#include "core/cp1251.h"
#include "core/paths.h"
#include "core/strconst.h"
#include "engine/dataset.h"
#include "engine/table.h"
#include "replication/archive.h"

#include <QCoreApplication>
#include <QDateTime>

namespace {

// The name of a dataset for messages: a table's name, otherwise the member name.
QString datasetTitle(const TDataSet &ds)
{
    if (const auto *table = dynamic_cast<const TTable *>(&ds);
        table && !table->TableName().isEmpty())
        return table->TableName();
    return ds.Name.isEmpty() ? QStringLiteral("копирования") : ds.Name;
}

// Source and destination field of every column a copy writes (see CopyRecords).
QList<std::pair<TField *, TField *>> copyPairs(const TDataSet &source, const TDataSet &dest,
                                               const QStringList &fields)
{
    QList<std::pair<TField *, TField *>> pairs;
    if (fields.isEmpty()) {
        for (int i = 0; i < dest.FieldCount(); ++i) {
            TField *target = dest.Fields(i);
            if (target->IsLookup())
                continue;
            if (i >= source.FieldCount())
                throw EDBEngineError(QStringLiteral("В источнике данных %1 нет поля с номером %2")
                                         .arg(datasetTitle(source))
                                         .arg(i + 1));
            pairs.append(std::make_pair(source.Fields(i), target));
        }
        return pairs;
    }
    for (const QString &raw : fields) {
        const QString name = raw.trimmed();
        TField *target = dest.FindField(name);
        if (!target)
            throw EDBEngineError(
                QStringLiteral("В таблице %1 нет поля %2").arg(datasetTitle(dest), name));
        TField *from = source.FindField(name);
        if (!from)
            throw EDBEngineError(QStringLiteral("В источнике данных %1 нет поля %2")
                                     .arg(datasetTitle(source), name));
        pairs.append(std::make_pair(from, target));
    }
    return pairs;
}

// Throws e again, of the same kind, with the row it happened on named after its message.
[[noreturn]] void rethrowWithRow(const Exception &e, const QString &row)
{
    const QString message = e.Message() + QStringLiteral(" (запись: %1)").arg(row);
    if (const auto *engine = dynamic_cast<const EDBEngineError *>(&e))
        throw EDBEngineError(message, engine->Sql());
    if (dynamic_cast<const EDatabaseError *>(&e))
        throw EDatabaseError(message);
    if (dynamic_cast<const ERplException *>(&e))
        throw ERplException(message);
    if (dynamic_cast<const EFileError *>(&e))
        throw EFileError(message);
    throw Exception(message);
}

} // namespace

const TAppInfo &ProgramInfo()
{
    if (!AppInfo)
        throw Exception(QStringLiteral("Настройки программы не загружены"));
    return *AppInfo;
}

TRplThread::TRplThread(TJobWindow &window) : TRplThread(window, ProgramInfo()) {}

TRplThread::TRplThread(TJobWindow &window, const TAppInfo &info) : m_window(window), m_info(info)
{
    const QString logName = m_info.AppFolder() + StrConst::LogFileName;
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
    connect(this, &QThread::finished, this, &TRplThread::ThreadDone);
    m_window.PrepareForJob();
    Position = 0;
    Total = 100;
    m_shownPercent = ProgressPercent();
    m_window.SetGauge(m_shownPercent);
}

TRplThread::~TRplThread()
{
    if (isRunning()) {
        Terminate();
        wait();
    }
    m_logFile.close();
}

void TRplThread::Launch()
{
    PrepareWindow();
    start();
}

int TRplThread::ProgressPercent() const
{
    if (Total == 0)
        return 100;
    return static_cast<int>(static_cast<qint64>(Position) * 100 / Total);
}

void TRplThread::Synchronize(const std::function<void()> &fn)
{
    if (QThread::currentThread() == thread()) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(this, fn, Qt::BlockingQueuedConnection);
}

// Posted without waiting for the window: the job goes on meanwhile, and the calls arrive in
// order, before the end of the job.
void TRplThread::post(std::function<void()> fn)
{
    if (QThread::currentThread() == thread())
        fn();
    else
        QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

void WriteLogLines(QFile &file, const QStringList &messages)
{
    // The Russian convention, unambiguous whatever the machine's locale.
    const QString stamp =
        QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy hh:mm:ss")) +
        StrConst::LogLineSeparator;
    QString lines;
    for (const QString &message : messages)
        lines += stamp + message + QLatin1String("\r\n");
    const QByteArray bytes = cp1251::encode(lines);
    if (file.write(bytes) != bytes.size() || !file.flush())
        throw EFileError(
            QStringLiteral("Ошибка записи в файл %1: %2").arg(file.fileName(), file.errorString()));
}

void WriteLogLine(QFile &file, const QString &message)
{
    WriteLogLines(file, {message});
}

void TRplThread::Log(const QString &message)
{
    Synchronize([this, message] { m_window.AddMessage(message); });
    WriteLogLine(m_logFile, message);
}

void TRplThread::LogProgress(const QStringList &messages)
{
    if (messages.isEmpty())
        return;
    post([this, messages] {
        for (const QString &message : messages)
            m_window.AddMessage(message);
    });
    WriteLogLines(m_logFile, messages);
}

void TRplThread::LogRecordCount(int count)
{
    Log(QString::number(count) + StrConst::Records);
    Log(QString());
}

void TRplThread::UpdateGauge()
{
    // The gauge shows whole percents: a step that does not change the figure is not worth a
    // round trip to the user-interface thread (a copy makes one step per row).
    const int percent = ProgressPercent();
    if (percent == m_shownPercent)
        return;
    m_shownPercent = percent;
    post([this, percent] { m_window.SetGauge(percent); });
}

void TRplThread::CheckTerminated()
{
    if (Terminated())
        throw ERplException(StrConst::Interrupted);
}

void TRplThread::RunGuarded(const QString &title, const QString &completion,
                            const std::function<void()> &work)
{
    try {
        Log(title);
        Log(StrConst::Separator);
        work();
        Log(StrConst::Separator);
        Log(completion);
        SetReturnCode(1);
    } catch (const std::exception &e) {
        const QString message = dynamic_cast<const Exception *>(&e)
                                    ? static_cast<const Exception &>(e).Message()
                                    : QString::fromLocal8Bit(e.what());
        try {
            Log(StrConst::Separator);
            Log(StrConst::ErrorPrefix + message);
        } catch (...) {
            // The log itself failed; the window still shows the job ended with an error.
        }
    } catch (...) {
        try {
            Log(StrConst::Separator);
            Log(StrConst::ErrorPrefix + QStringLiteral("Неизвестная ошибка"));
        } catch (...) {
        }
    }
}

void TRplThread::run()
{
    try {
        Execute();
    } catch (...) {
        // Execute guards its own work; nothing may escape the thread.
    }
    try {
        ThreadCleanup();
    } catch (...) {
    }
}

void TRplThread::ThreadDone()
{
    m_window.JobFinished(ReturnCode());
}

int TRplThread::CopyRecords(TDataSet &source, TDataSet &dest, const QString &keyFields,
                            const QStringList &fields)
{
    TCloseOnExit close{&dest, &source};

    int result = 0;
    Position = 0;
    UpdateGauge();

    // The caller's filter applies only to sources that carry a LastUpdate column.
    const QString filter = source.Filter();
    source.SetFiltered(false);
    source.SetFilter(QString());
    source.Open();
    if (source.FindField(QStringLiteral("LastUpdate"))) {
        source.SetFilter(filter);
        source.SetFiltered(true);
    }

    source.First();
    dest.Open();
    Total = source.RecordCount();

    const QList<std::pair<TField *, TField *>> pairs = copyPairs(source, dest, fields);
    const QStringList keys =
        keyFields.isEmpty() ? QStringList() : keyFields.split(QLatin1Char(';'));
    QList<TField *> keySources;
    for (const QString &k : keys)
        keySources << source.FieldByName(k.trimmed());
    QList<TField *> rowNames = keySources;
    if (rowNames.isEmpty() && source.FieldCount() > 0)
        rowNames << source.Fields(0);

    while (!source.Eof()) {
        try {
            if (!keys.isEmpty()) {
                QVariantList values;
                values.reserve(keySources.size());
                for (const TField *k : keySources)
                    values << k->AsVariant();
                if (dest.Locate(keyFields, values, TLocateOption::loCaseInsensitive))
                    dest.Edit();
                else
                    dest.Append();
            } else {
                dest.Append();
            }
            for (const auto &[from, to] : pairs)
                to->Assign(*from);
            dest.Post();
        } catch (const Exception &e) {
            QStringList named;
            for (const TField *f : rowNames)
                named << f->FieldName() + QLatin1Char('=') + f->AsString();
            rethrowWithRow(e, named.join(QLatin1String(", ")));
        }

        ++result;
        source.Next();
        ++Position;
        UpdateGauge();
        CheckTerminated();
    }
    source.Close();
    dest.Close();
    return result;
}

int TRplThread::PackFolder(const QString &folder, const QString &comment,
                           const QString &archiveName)
{
    return ::PackFolder(m_info.AppFolder(), folder, comment, archiveName);
}

int TRplThread::UnpackArchive(const QString &folder, const QString &archiveName)
{
    return ::UnpackArchive(m_info.AppFolder(), folder, archiveName);
}
