// qorv_admin: the administrator's side of the updater. Encrypts settings, writes qorv.ini,
// creates table t_file, publishes a version's files and lists the published versions.

#include "admin.h"
#include "lmget_cipher.h"
#include "settings_key.h"

#include <rt/db/transaction.h>
#include <rt/value/codepage.h>
#include <rt/value/profile.h>
#include <rt/value/sha256.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <cstdio>
#include <map>
#include <set>
#include <vector>

namespace {

using namespace qorv::admin;

enum exit_code { success = 0, usage_error = 1, failure = 2 };

const char* const exit_codes_text = "Exit status: 0 success, 1 usage error, 2 failure.";

void print(FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream);
    std::fflush(stream);
}

int fail(const QString& message)
{
    print(stderr, QStringLiteral("qorv_admin: %1\n").arg(message));
    return failure;
}

int usage(const QString& message, const QString& command = {})
{
    print(stderr, QStringLiteral("qorv_admin: %1\nTry 'qorv_admin %2--help'.\n")
                      .arg(message, command.isEmpty() ? QString() : command + QLatin1Char(' ')));
    return usage_error;
}

// The options that say which database to use, shared by init, publish and list.
struct connection_options {
    QCommandLineOption server{QStringLiteral("server"),
                              QStringLiteral("Database server: sqlite:PATH, "
                                             "postgresql://HOST:PORT, odbc:CONNECTION-STRING, "
                                             "or a SQL Server HOST[,PORT]."),
                              QStringLiteral("server")};
    QCommandLineOption database{QStringLiteral("database"),
                                QStringLiteral("Database name (not used by SQLite)."),
                                QStringLiteral("name")};
    QCommandLineOption user{QStringLiteral("user"), QStringLiteral("Login name."),
                            QStringLiteral("login")};
    QCommandLineOption password{QStringLiteral("password"), QStringLiteral("Login password."),
                                QStringLiteral("password")};
    QCommandLineOption ini{QStringLiteral("ini"),
                           QStringLiteral("Read the server, database, login and password from "
                                          "the encrypted settings of this qorv.ini instead."),
                           QStringLiteral("file")};

    void add_to(QCommandLineParser& parser) const
    {
        parser.addOptions({server, database, user, password, ini});
    }
};

struct settings {
    QString server, database, user, password;
};

// The connection settings from the command line or from an encrypted qorv.ini.
std::optional<settings> connection_settings(const QCommandLineParser& parser,
                                            const connection_options& o, QString* why)
{
    settings s;
    if (parser.isSet(o.ini)) {
        const QString file = parser.value(o.ini);
        if (!QFileInfo(file).isFile()) {
            *why = QStringLiteral("settings file %1 does not exist").arg(file);
            return std::nullopt;
        }
        auto clear = [&](const char* key, QString& out) {
            const QByteArray stored =
                rt::profile_string(file, QStringLiteral("qorv"), QString::fromLatin1(key))
                    .toLatin1();
            const auto value = lmget::decrypt(qorv::sys_mm, stored.toStdString());
            if (!value)
                return false;
            out = rt::from_ansi(QByteArray::fromStdString(*value));
            return true;
        };
        for (auto [key, out] : {std::pair{"servername", &s.server},
                                {"database", &s.database},
                                {"user", &s.user},
                                {"password", &s.password}})
            if (!clear(key, *out)) {
                *why = QStringLiteral("%1 of %2 is missing or does not decrypt")
                           .arg(QString::fromLatin1(key), file);
                return std::nullopt;
            }
    }
    if (parser.isSet(o.server))
        s.server = parser.value(o.server);
    if (parser.isSet(o.database))
        s.database = parser.value(o.database);
    if (parser.isSet(o.user))
        s.user = parser.value(o.user);
    if (parser.isSet(o.password))
        s.password = parser.value(o.password);
    if (s.server.trimmed().isEmpty()) {
        *why = QStringLiteral("no database server given (--server or --ini)");
        return std::nullopt;
    }
    return s;
}

// Connects as the updater does: read committed, no automatic commit, 5 s time-out.
int connect(rt::transaction& t, const settings& s, bool create = false)
{
    t.servername = s.server.trimmed();
    t.logid = s.user;
    t.logpass = s.password;
    t.lock = QStringLiteral("RC");
    t.autocommit = false;
    t.dbparm = QStringLiteral("timeout = 5,Database='%1',Provider='SQLNCLI10'").arg(s.database);
    if (create)
        t.dbparm += QStringLiteral(",Create='yes'");
    if (t.connect() != 0)
        return fail(QStringLiteral("cannot connect to %1: %2").arg(t.servername, t.sqlerrtext));
    return success;
}

int database_error(rt::transaction& t, const QString& what)
{
    const QString text = t.sqlerrtext;
    const long code = t.sqldbcode;
    t.rollback();
    return fail(QStringLiteral("%1: database error %2: %3").arg(what).arg(code).arg(text));
}

// Parses the arguments of one subcommand; returns -1 to go on, or the exit status.
int parse(QCommandLineParser& parser, const QString& command, const QStringList& args,
          const QString& description)
{
    parser.setApplicationDescription(description + QStringLiteral("\n\n") +
                                     QLatin1String(exit_codes_text));
    const QCommandLineOption help = parser.addHelpOption();
    if (!parser.parse(QStringList{QStringLiteral("qorv_admin ") + command} + args))
        return usage(parser.errorText(), command);
    if (parser.isSet(help)) {
        // The parser names the program by its path; name the command instead.
        QString text = parser.helpText();
        const qsizetype end = text.indexOf(QLatin1String(" [options]"));
        if (text.startsWith(QLatin1String("Usage: ")) && end > 0)
            text.replace(0, end, QStringLiteral("Usage: qorv_admin ") + command);
        print(stdout, text);
        return success;
    }
    return -1;
}

// The text in the ANSI code page, or std::nullopt when it holds a character the code page
// lacks (which would be stored as '?' and reach the server changed).
std::optional<QByteArray> strict_ansi(const QString& text, QString* why)
{
    QByteArray bytes = rt::to_ansi(text);
    if (rt::from_ansi(bytes) == text)
        return bytes;
    QString missing;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype n = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QString c = text.mid(i, n);
        if (rt::from_ansi(rt::to_ansi(c)) != c && !missing.contains(c))
            missing += c;
        i += n - 1;
    }
    *why = QStringLiteral("holds characters that the ANSI code page %1 cannot represent (%2); "
                          "nothing was written")
               .arg(QString::fromLatin1(rt::ansi_codepage()), missing);
    return std::nullopt;
}

const QString tsql_schema = QStringLiteral("create table t_file (\n"
                                           "    filename nvarchar(260) not null,\n"
                                           "    ver decimal(12,3) not null,\n"
                                           "    filedata varbinary(max) null,\n"
                                           "    filehash char(64) null,\n"
                                           "    constraint pk_t_file primary key (filename, ver)\n"
                                           ");\n");

int run_encrypt(const QStringList& args)
{
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("text"), QStringLiteral("The clear text."));
    if (int rc =
            parse(parser, QStringLiteral("encrypt"), args,
                  QStringLiteral(
                      "Prints the stored (encrypted) form of TEXT for qorv.ini. "
                      "The text is converted to the ANSI code page first; text with characters "
                      "outside it is refused."));
        rc >= 0)
        return rc;
    if (parser.positionalArguments().size() != 1)
        return usage(QStringLiteral("encrypt takes exactly one TEXT"), QStringLiteral("encrypt"));
    QString why;
    const auto ansi = strict_ansi(parser.positionalArguments().front(), &why);
    if (!ansi)
        return fail(QStringLiteral("TEXT ") + why);
    try {
        const QByteArray& clear = *ansi;
        print(stdout,
              QString::fromStdString(lmget::encrypt(
                  qorv::sys_mm, std::string_view(clear.constData(), std::size_t(clear.size())))) +
                  QLatin1Char('\n'));
    } catch (const std::exception& e) {
        return fail(QStringLiteral("cannot encrypt: %1").arg(QString::fromLocal8Bit(e.what())));
    }
    return success;
}

int run_write_ini(const QStringList& args)
{
    QCommandLineParser parser;
    connection_options o;
    parser.addOptions({o.server, o.database, o.user, o.password});
    const QCommandLineOption ver(QStringLiteral("ver"),
                                 QStringLiteral("Local version to record (plain, in quotes)."),
                                 QStringLiteral("version"));
    parser.addOption(ver);
    parser.addPositionalArgument(QStringLiteral("dir"),
                                 QStringLiteral("Directory of the installation."));
    if (int rc = parse(parser, QStringLiteral("write-ini"), args,
                       QStringLiteral("Writes section [qorv] of DIR/qorv.ini: servername, "
                                      "database, user and password encrypted, and ver when "
                                      "given. Every other line of the file is kept."));
        rc >= 0)
        return rc;
    if (parser.positionalArguments().size() != 1)
        return usage(QStringLiteral("write-ini takes exactly one DIR"),
                     QStringLiteral("write-ini"));
    for (const auto* option : {&o.server, &o.database, &o.user, &o.password})
        if (!parser.isSet(*option))
            return usage(QStringLiteral("write-ini needs --%1").arg(option->names().front()),
                         QStringLiteral("write-ini"));
    std::optional<QString> version;
    if (parser.isSet(ver)) {
        QString why;
        version = normalized_version(parser.value(ver), &why);
        if (!version)
            return usage(why, QStringLiteral("write-ini"));
    }
    const QString dir = parser.positionalArguments().front();
    if (!QFileInfo(dir).isDir())
        return fail(QStringLiteral("%1 is not a directory").arg(dir));
    const QString file = QDir(dir).filePath(QStringLiteral("qorv.ini"));
    std::vector<std::pair<QString, QString>> keys;
    std::vector<QByteArray> clear_texts;
    for (const auto* option : {&o.server, &o.database, &o.user, &o.password}) {
        QString why;
        const auto ansi = strict_ansi(parser.value(*option), &why);
        if (!ansi)
            return fail(QStringLiteral("--%1 ").arg(option->names().front()) + why);
        clear_texts.push_back(*ansi);
    }
    try {
        std::size_t index = 0;
        for (const char* key : {"servername", "database", "user", "password"}) {
            const QByteArray& clear = clear_texts[index++];
            keys.emplace_back(
                QString::fromLatin1(key),
                QString::fromStdString(lmget::encrypt(
                    qorv::sys_mm, std::string_view(clear.constData(), std::size_t(clear.size())))));
        }
    } catch (const std::exception& e) {
        return fail(QStringLiteral("cannot encrypt: %1").arg(QString::fromLocal8Bit(e.what())));
    }
    if (version)
        keys.emplace_back(QStringLiteral("ver"), QLatin1Char('"') + *version + QLatin1Char('"'));
    for (const auto& [key, value] : keys)
        if (rt::set_profile_string(file, QStringLiteral("qorv"), key, value) != 1)
            return fail(QStringLiteral("cannot write %1").arg(file));
    return success;
}

int run_init(const QStringList& args)
{
    QCommandLineParser parser;
    connection_options o;
    o.add_to(parser);
    if (int rc = parse(parser, QStringLiteral("init"), args,
                       QStringLiteral("Creates table t_file on SQLite (the file is created when "
                                      "missing) or PostgreSQL. For SQL Server the T-SQL is "
                                      "printed for the database administrator instead."));
        rc >= 0)
        return rc;
    if (!parser.positionalArguments().isEmpty())
        return usage(QStringLiteral("init takes no arguments"), QStringLiteral("init"));
    QString why;
    const auto s = connection_settings(parser, o, &why);
    if (!s)
        return usage(why, QStringLiteral("init"));
    QString ddl;
    switch (rt::dbms_kind_of(s->server)) {
    case rt::dbms_kind::sqlserver:
        print(stdout, tsql_schema);
        return success;
    case rt::dbms_kind::odbc:
        break; // chosen by the data source's dialect below
    case rt::dbms_kind::sqlite:
        ddl = QStringLiteral("create table t_file (filename text not null, ver numeric not null, "
                             "filedata blob, filehash text, primary key (filename, ver))");
        break;
    case rt::dbms_kind::postgresql:
        // Large objects, because bytea cannot hold files of a gigabyte.
        ddl = QStringLiteral("create table t_file (filename text not null, ver numeric(12,3) "
                             "not null, filedata oid, filehash char(64), primary key "
                             "(filename, ver))");
        break;
    }
    rt::transaction t;
    if (int rc = connect(t, *s, true); rc != success)
        return rc;
    if (ddl.isEmpty() && t.dialect() == rt::sql_dialect::tsql) {
        ddl = tsql_schema;
    } else if (ddl.isEmpty()) {
        // bytea is PostgreSQL's byte string; other data sources take the standard's blob.
        const QString odbc_ddl =
            QStringLiteral("create table t_file (filename varchar(260) not null, ver "
                           "numeric(12,3) not null, filedata %1, filehash char(64), primary key "
                           "(filename, ver))");
        if (t.execute(odbc_ddl.arg(QLatin1String("bytea"))) == 0) {
            // Stored uncompressed, so that reading a piece of a value reads only that piece.
            if (t.execute(QStringLiteral("alter table t_file alter column filedata set storage "
                                         "external")) != 0)
                return database_error(t, QStringLiteral("cannot create table t_file"));
            if (t.commit() != 0)
                return database_error(t, QStringLiteral("cannot commit"));
            print(stderr, QStringLiteral("created table t_file on %1\n").arg(s->server));
            return success;
        }
        t.rollback();
        ddl = odbc_ddl.arg(QLatin1String("blob"));
    }
    if (t.execute(ddl) != 0)
        return database_error(t, QStringLiteral("cannot create table t_file"));
    if (t.commit() != 0)
        return database_error(t, QStringLiteral("cannot commit"));
    print(stderr, QStringLiteral("created table t_file on %1\n").arg(s->server));
    return success;
}

// True when t_file has the column filehash (tables created before it was introduced do not).
bool has_filehash(rt::transaction& t)
{
    const bool has =
        t.select_value(QStringLiteral("select count(filehash) from t_file where 1 = 0"))
            .has_value();
    t.rollback(); // a failed statement may have ended the transaction; start clean either way
    return has;
}

int run_upgrade_table(const QStringList& args)
{
    QCommandLineParser parser;
    connection_options o;
    o.add_to(parser);
    if (int rc = parse(parser, QStringLiteral("upgrade-table"), args,
                       QStringLiteral("Adds the column filehash (the SHA-256 of each file, "
                                      "stored by publish) to an existing table t_file. Updaters "
                                      "verify downloads with it and skip files whose installed "
                                      "copy already matches; older updaters ignore it. Files "
                                      "published before keep an empty hash. For SQL Server the "
                                      "T-SQL is printed instead."));
        rc >= 0)
        return rc;
    const QString command = QStringLiteral("upgrade-table");
    if (!parser.positionalArguments().isEmpty())
        return usage(QStringLiteral("upgrade-table takes no arguments"), command);
    QString why;
    const auto s = connection_settings(parser, o, &why);
    if (!s)
        return usage(why, command);
    if (rt::dbms_kind_of(s->server) == rt::dbms_kind::sqlserver) {
        print(stdout, QStringLiteral("alter table t_file add filehash char(64) null;\n"));
        return success;
    }
    rt::transaction t;
    if (int rc = connect(t, *s); rc != success)
        return rc;
    if (has_filehash(t)) {
        print(stderr, QStringLiteral("t_file already has the column filehash\n"));
        return success;
    }
    const QString type =
        t.kind() == rt::dbms_kind::sqlite ? QStringLiteral("text") : QStringLiteral("char(64)");
    if (t.execute(
            QStringLiteral("alter table t_file add %1 filehash %2")
                .arg(t.dialect() == rt::sql_dialect::tsql ? QString() : QStringLiteral("column"),
                     type)) != 0)
        return database_error(t, QStringLiteral("cannot add the column filehash"));
    if (t.commit() != 0)
        return database_error(t, QStringLiteral("cannot commit"));
    print(stderr, QStringLiteral("added the column filehash to t_file on %1\n").arg(s->server));
    return success;
}

struct source_file {
    QString path;
    QString name;
    std::int64_t size;
};

// Streams one file into a new row, with its SHA-256 when `with_hash`; returns an empty text or
// the reason of the failure.
QString store(rt::transaction& t, const source_file& f, const QString& version, bool with_hash)
{
    QFile in(f.path);
    if (!in.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot read %1: %2").arg(f.path, in.errorString());
    QStringList columns{QStringLiteral("filename"), QStringLiteral("ver")};
    QStringList values{f.name, version};
    if (with_hash) {
        const auto hash = rt::sha256_of_file(f.path);
        if (!hash)
            return QStringLiteral("cannot read %1").arg(f.path);
        columns << QStringLiteral("filehash");
        values << *hash;
    }
    auto writer = t.insert_blob(QStringLiteral("t_file"), columns, values,
                                QStringLiteral("filedata"), f.size);
    if (!writer)
        return QStringLiteral("cannot store %1: %2").arg(f.name, t.sqlerrtext);
    const bool progress = f.size >= 16 * 1024 * 1024;
    std::vector<char> buffer(1024 * 1024);
    std::int64_t done = 0;
    int shown = -1;
    while (done < f.size) {
        const qint64 n =
            in.read(buffer.data(),
                    qint64(std::min<std::int64_t>(std::int64_t(buffer.size()), f.size - done)));
        if (n <= 0)
            return QStringLiteral("cannot read %1: %2")
                .arg(f.path, n < 0 ? in.errorString() : QStringLiteral("it became shorter"));
        if (writer->write(std::as_bytes(std::span(buffer.data(), std::size_t(n)))) != 0)
            return QStringLiteral("cannot store %1: %2").arg(f.name, t.sqlerrtext);
        done += n;
        const int percent = int(done * 100 / f.size);
        if (progress && percent / 5 != shown / 5) {
            shown = percent;
            print(stderr, QStringLiteral("  %1: %2%\n").arg(f.name).arg(percent));
        }
    }
    if (!in.atEnd())
        return QStringLiteral("%1 grew while it was read").arg(f.path);
    if (writer->finish() != 0)
        return QStringLiteral("cannot store %1: %2").arg(f.name, t.sqlerrtext);
    return {};
}

int run_publish(const QStringList& args)
{
    QCommandLineParser parser;
    connection_options o;
    o.add_to(parser);
    const QCommandLineOption ver(QStringLiteral("ver"),
                                 QStringLiteral("Version of the files (at most three decimals)."),
                                 QStringLiteral("version"));
    const QCommandLineOption base(QStringLiteral("base"),
                                  QStringLiteral("Directory the file names are relative to, as "
                                                 "the installation directory is."),
                                  QStringLiteral("dir"));
    const QCommandLineOption replace(QStringLiteral("replace"),
                                     QStringLiteral("Replace files already published with this "
                                                    "version."));
    parser.addOptions({ver, base, replace});
    parser.addPositionalArgument(QStringLiteral("files"),
                                 QStringLiteral("Files (or directories, taken whole) under the "
                                                "base directory."),
                                 QStringLiteral("FILE..."));
    if (int rc = parse(parser, QStringLiteral("publish"), args,
                       QStringLiteral("Stores FILEs in t_file as version VERSION under their "
                                      "names relative to the base directory, in one "
                                      "transaction: either all of them or none."));
        rc >= 0)
        return rc;
    const QString command = QStringLiteral("publish");
    if (!parser.isSet(ver))
        return usage(QStringLiteral("publish needs --ver"), command);
    if (!parser.isSet(base))
        return usage(QStringLiteral("publish needs --base"), command);
    if (parser.positionalArguments().isEmpty())
        return usage(QStringLiteral("publish needs at least one FILE"), command);
    QString why;
    const auto version = normalized_version(parser.value(ver), &why);
    if (!version)
        return usage(why, command);
    const QDir base_dir(parser.value(base));
    if (!base_dir.exists())
        return fail(QStringLiteral("base directory %1 does not exist").arg(parser.value(base)));
    const auto s = connection_settings(parser, o, &why);
    if (!s)
        return usage(why, command);

    // Every name is checked before anything is stored.
    std::vector<source_file> files;
    std::set<QString> names;
    auto add = [&](const QString& path) -> bool {
        const auto name = published_name(base_dir, path, &why);
        if (!name)
            return false;
        if (!names.insert(*name).second)
            return true; // named twice
        const std::int64_t size = QFileInfo(path).size();
        files.push_back({path, *name, size});
        return true;
    };
    for (const QString& arg : parser.positionalArguments()) {
        const QFileInfo info(arg);
        if (info.isDir() && !info.isSymLink()) {
            // Each file inside is checked like a named one, so nothing outside the base passes.
            QDirIterator it(arg, QDir::Files | QDir::Hidden | QDir::System,
                            QDirIterator::Subdirectories);
            QStringList inside;
            while (it.hasNext())
                inside << it.next();
            inside.sort();
            for (const QString& path : inside)
                if (!add(path))
                    return fail(why);
        } else if (!add(arg)) {
            return fail(why);
        }
    }

    rt::transaction t;
    if (int rc = connect(t, *s); rc != success)
        return rc;
    const bool with_hash = has_filehash(t);
    const QString where = QStringLiteral("filename = ? and ver = ?");
    for (const source_file& f : files) {
        const auto count = t.select_value(
            QStringLiteral("select count(*) from t_file where %1").arg(where), {f.name, *version});
        if (!count)
            return database_error(t, QStringLiteral("cannot look up %1").arg(f.name));
        if (count->toLongLong() > 0) {
            if (!parser.isSet(replace)) {
                t.rollback();
                return fail(QStringLiteral("%1 is already published as version %2 (use --replace "
                                           "to replace it); nothing was stored")
                                .arg(f.name, *version));
            }
            // A replaced file's large object, if it has one, goes with its row.
            if (t.delete_blob_rows(QStringLiteral("t_file"), QStringLiteral("filedata"), where,
                                   {f.name, *version}) != 0)
                return database_error(t, QStringLiteral("cannot replace %1").arg(f.name));
        }
        print(stderr, QStringLiteral("publishing %1 (%2)\n").arg(f.name, human_size(f.size)));
        if (const QString error = store(t, f, *version, with_hash); !error.isEmpty()) {
            t.rollback(); // takes the rows and the large objects created so far with it
            return fail(error + QStringLiteral("; nothing was stored"));
        }
    }
    if (t.commit() != 0)
        return database_error(t, QStringLiteral("cannot commit"));
    print(stderr,
          QStringLiteral("published %1 file(s) as version %2\n").arg(files.size()).arg(*version));
    return success;
}

int run_list(const QStringList& args)
{
    QCommandLineParser parser;
    connection_options o;
    o.add_to(parser);
    if (int rc = parse(parser, QStringLiteral("list"), args,
                       QStringLiteral("Lists the published versions, oldest first, with their "
                                      "number of files and total size in bytes."));
        rc >= 0)
        return rc;
    if (!parser.positionalArguments().isEmpty())
        return usage(QStringLiteral("list takes no arguments"), QStringLiteral("list"));
    QString why;
    const auto s = connection_settings(parser, o, &why);
    if (!s)
        return usage(why, QStringLiteral("list"));
    rt::transaction t;
    if (int rc = connect(t, *s); rc != success)
        return rc;
    // Large objects or bytes, whichever form made the table.
    const QString size = t.blob_size_sql(QStringLiteral("t_file"), QStringLiteral("filedata"));
    if (size.isNull())
        return database_error(t, QStringLiteral("cannot list the versions"));
    rt::cursor c = t.open_cursor(
        QStringLiteral("select ver, count(filename), coalesce(sum(%1), 0) from t_file group by "
                       "ver order by ver")
            .arg(size));
    if (t.sqlcode != 0)
        return database_error(t, QStringLiteral("cannot list the versions"));
    QString out = QStringLiteral("%1 %2 %3\n")
                      .arg(QStringLiteral("version"), -12)
                      .arg(QStringLiteral("files"), 8)
                      .arg(QStringLiteral("bytes"), 16);
    while (const auto row = c.fetch()) {
        const QString version = normalized_version(row->at(0)).value_or(row->at(0));
        out +=
            QStringLiteral("%1 %2 %3\n").arg(version, -12).arg(row->at(1), 8).arg(row->at(2), 16);
    }
    if (t.sqlcode < 0)
        return database_error(t, QStringLiteral("cannot list the versions"));
    t.rollback();
    print(stdout, out);
    return success;
}

const std::map<QString, std::pair<int (*)(const QStringList&), const char*>>& commands()
{
    static const std::map<QString, std::pair<int (*)(const QStringList&), const char*>> map{
        {QStringLiteral("encrypt"), {run_encrypt, "print the stored form of a setting"}},
        {QStringLiteral("write-ini"), {run_write_ini, "write the settings of qorv.ini"}},
        {QStringLiteral("init"), {run_init, "create table t_file"}},
        {QStringLiteral("publish"), {run_publish, "store the files of a version"}},
        {QStringLiteral("list"), {run_list, "list the published versions"}},
        {QStringLiteral("upgrade-table"),
         {run_upgrade_table, "add the column filehash to an existing t_file"}},
    };
    return map;
}

QString program_help()
{
    QString text = QStringLiteral(
        "Usage: qorv_admin COMMAND [options] [arguments]\n"
        "Prepares what the updater qorv_update reads: the settings file qorv.ini and the\n"
        "table t_file on the update server.\n\nCommands:\n");
    for (const auto& [name, entry] : commands())
        text += QStringLiteral("  %1 %2\n").arg(name, -10).arg(QLatin1String(entry.second));
    text += QStringLiteral(
        "\n'qorv_admin COMMAND --help' describes a command and its options.\n"
        "The database options of init, publish, list and upgrade-table: --server sqlite:PATH |\n"
        "postgresql://HOST:PORT | odbc:CONNECTION-STRING | HOST[,PORT] (SQL Server),\n"
        "--database, --user, --password,\n"
        "or --ini FILE to take them from the encrypted settings of a qorv.ini.\n\n");
    text += QLatin1String(exit_codes_text) + QLatin1Char('\n');
    return text;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qorv_admin"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QORV_VERSION));
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty())
        return usage(QStringLiteral("no command given"));
    const QString& first = args.front();
    if (first == QLatin1String("--help") || first == QLatin1String("-h") ||
        first == QLatin1String("help")) {
        print(stdout, program_help());
        return success;
    }
    if (first == QLatin1String("--version") || first == QLatin1String("-v")) {
        print(stdout,
              QStringLiteral("qorv_admin %1\n").arg(QCoreApplication::applicationVersion()));
        return success;
    }
    const auto found = commands().find(first);
    if (found == commands().end())
        return usage(QStringLiteral("unknown command \"%1\"").arg(first));
    return found->second.first(args.mid(1));
}
