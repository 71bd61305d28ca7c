#pragma once

#include "core/aliases.h"
#include "core/errors.h"
#include "core/strconst.h"
#include "engine/database.h"
#include "installation.h"
#include "package.h"
#include "package/packageinfo.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <memory>

// A small demo installation on one backend (on PostgreSQL in a database of its own, dropped with
// the site), with programs of the build copied into its folder, and packages of its demo
// workstation, each kept aside so that it can be put back after an import has taken it.
class DemoSite
{
public:
    ~DemoSite()
    {
        if (m_pg) {
            testsupport::dropPgDatabase(*m_pg, m_pgDatabase);
            testsupport::dropPgDatabase(*m_pg, m_pgDatabase + QStringLiteral("_esvs"));
        }
    }

    // What went wrong, empty when the installation is ready.
    QString Create(const QString &backend, const QStringList &programs)
    {
        demo::Options options;
        options.folder = m_dir.filePath(QStringLiteral("Программа"));
        options.scale = 0.05;
        if (backend == QLatin1String("POSTGRESQL")) {
            m_pg = testsupport::pgServer();
            if (!m_pg)
                return QStringLiteral("ZORU_REQUIRE_PG is set but no PostgreSQL server is here");
            m_pgDatabase = testsupport::createPgDatabase(*m_pg, QStringLiteral("zoru_site"));
            options.postgres =
                demo::PgTarget{m_pg->host, m_pg->port, m_pgDatabase, m_pg->user, m_pg->password};
        }
        try {
            demo::CreateInstallation(options);
        } catch (const Exception &e) {
            return e.Message();
        }
        folder = options.folder;
        for (const QString &program : programs) {
            const QString to = folder + QLatin1Char('/') + program;
            if (!QFile::copy(qEnvironmentVariable("ZORU_PROGRAM_DIR") + QLatin1Char('/') + program,
                             to))
                return QStringLiteral("cannot copy ") + program;
            QFile::setPermissions(to, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        QDir(folder).mkpath(QStringLiteral("kept"));
        m_aliases =
            std::make_unique<TAliasStore>(QDir(folder).absoluteFilePath(StrConst::AliasFileName));
        return {};
    }

    // A new connection to the central database, opened.
    std::unique_ptr<TDatabase> Connect()
    {
        auto db = std::make_unique<TDatabase>(StrConst::CenterDatabaseName, m_aliases.get());
        db->AliasName = demo::CenterAlias;
        db->LoginPrompt = false;
        db->Params << QStringLiteral("USER NAME=") + (m_pg ? m_pg->user : QStringLiteral("admin"));
        if (m_pg)
            db->Params << QStringLiteral("PASSWORD=") + m_pg->password;
        db->Open();
        return db;
    }

    // A new package of persons (of a workstation the centre does not know, when asked); a copy of
    // its volumes is kept for Restore.
    QString Package(int persons, bool newWorkstation = false)
    {
        demo::PackageOptions o;
        o.folder = folder;
        o.persons = persons;
        o.newWorkstation = newWorkstation;
        o.seed = quint64(++m_seed);
        o.password = Password();
        const QString first = demo::WritePackage(o).firstVolume;
        for (const QString &v : VolumeSet(first)) {
            m_kept[first] << v;
            QFile::copy(v, kept(v));
        }
        return first;
    }
    // Puts the package's volumes back as they were written.
    void Restore(const QString &first)
    {
        for (const QString &v : m_kept.value(first)) {
            QFile::remove(v);
            QFile::copy(kept(v), v);
        }
    }

    // "result:count" of the import journal's runs, in result order.
    QStringList JournalRuns()
    {
        const std::unique_ptr<TDatabase> db = Connect();
        QSqlQuery q(db->Sql());
        q.exec(QStringLiteral(
            "SELECT RESULT, COUNT(*) FROM IMPORTJOURNAL GROUP BY RESULT ORDER BY RESULT"));
        QStringList out;
        while (q.next())
            out << q.value(0).toString() + QLatin1Char(':') + q.value(1).toString();
        return out;
    }

    TAliasStore &Aliases() { return *m_aliases; }
    QString Password() const { return m_pg ? m_pg->password : QString(); }
    QString ImportFolder() const { return folder + QStringLiteral("/import"); }

    QString folder;

private:
    QString kept(const QString &volume) const
    {
        return folder + QStringLiteral("/kept/") + QFileInfo(volume).fileName();
    }

    QTemporaryDir m_dir;
    std::optional<testsupport::PgServer> m_pg;
    QString m_pgDatabase;
    std::unique_ptr<TAliasStore> m_aliases;
    QMap<QString, QStringList> m_kept;
    int m_seed = 1;
};
