// qorv_admin publish: stores the files of a version in t_file, all of them or none.

#include "admin.h"
#include "command.h"
#include "database.h"
#include "reader_login.h"
#include "release_table.h"

#include <rt/db/transaction.h>
#include <rt/value/sha256.h>

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstdint>
#include <set>
#include <span>
#include <vector>

namespace qorv::admin {

namespace {

struct source_file {
    QString path;
    QString name;
    std::int64_t size;
};

// Streams one file into a new row, with its SHA-256 when `with_hash`; returns an empty text or
// the reason of the failure. `stored` receives the size and SHA-256 of the bytes sent.
QString store(invocation& call, rt::transaction& t, const source_file& f, const QString& version,
              bool with_hash, release::manifest_file& stored)
{
    QFile in(f.path);
    if (!in.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot read %1: %2").arg(f.path, in.errorString());
    QStringList columns{QStringLiteral("filename"), QStringLiteral("ver")};
    QStringList values{f.name, version};
    std::optional<QString> hash;
    if (with_hash) {
        hash = rt::sha256_of_file(f.path);
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
    rt::sha256 sent;
    while (done < f.size) {
        const qint64 n =
            in.read(buffer.data(),
                    qint64(std::min<std::int64_t>(std::int64_t(buffer.size()), f.size - done)));
        if (n <= 0)
            return QStringLiteral("cannot read %1: %2")
                .arg(f.path, n < 0 ? in.errorString() : QStringLiteral("it became shorter"));
        if (writer->write(std::as_bytes(std::span(buffer.data(), std::size_t(n)))) != 0)
            return QStringLiteral("cannot store %1: %2").arg(f.name, t.sqlerrtext);
        sent.add(QByteArrayView(buffer.data(), n));
        done += n;
        const int percent = int(done * 100 / f.size);
        if (progress && percent / 5 != shown / 5) {
            shown = percent;
            call.note(QStringLiteral("  %1: %2%\n").arg(f.name).arg(percent));
        }
    }
    if (!in.atEnd())
        return QStringLiteral("%1 grew while it was read").arg(f.path);
    if (writer->finish() != 0)
        return QStringLiteral("cannot store %1: %2").arg(f.name, t.sqlerrtext);
    stored = {f.name, done, sent.hex()};
    if (hash && *hash != stored.sha256)
        return QStringLiteral("%1 changed while it was read").arg(f.path);
    return {};
}

int run_publish(invocation& call)
{
    QString why;
    const auto version = normalized_version(call.value(QStringLiteral("ver")), &why);
    if (!version)
        return call.usage(why);
    const QString base = call.value(QStringLiteral("base"));
    const QDir base_dir(base);
    if (!base_dir.exists())
        return call.fail(QStringLiteral("base directory %1 does not exist").arg(base));
    const auto s = database_of(call);
    if (!s)
        return usage_error;
    std::optional<release::private_key> key;
    if (call.is_set(QStringLiteral("sign")) &&
        !(key = read_private_key(call, call.value(QStringLiteral("sign")))))
        return failure;

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
    for (const QString& arg : call.arguments()) {
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
                    return call.fail(why);
        } else if (!add(arg)) {
            return call.fail(why);
        }
    }

    rt::transaction t;
    if (int rc = connect(call, t, *s); rc != success)
        return rc;
    const bool with_hash = has_filehash(t);
    const bool with_release = has_release_table(t);
    if (key && !with_release)
        return call.fail(QStringLiteral("the server has no table t_release for the signature (run "
                                        "upgrade-table); nothing was stored"));
    known_files stored;
    const bool replace = call.is_set(QStringLiteral("replace"));
    const QString where = QStringLiteral("filename = ? and ver = ?");
    for (const source_file& f : files) {
        const auto count = t.select_value(
            QStringLiteral("select count(*) from t_file where %1").arg(where), {f.name, *version});
        if (!count)
            return database_error(call, t, QStringLiteral("cannot look up %1").arg(f.name));
        if (count->toLongLong() > 0) {
            if (!replace) {
                t.rollback();
                return call.fail(QStringLiteral("%1 is already published as version %2 (use "
                                                "--replace to replace it); nothing was stored")
                                     .arg(f.name, *version));
            }
            if (!delete_file(t, f.name, *version))
                return database_error(call, t, QStringLiteral("cannot replace %1").arg(f.name));
        }
        call.note(QStringLiteral("publishing %1 (%2)\n").arg(f.name, human_size(f.size)));
        release::manifest_file& sent = stored[f.name];
        if (const QString error = store(call, t, f, *version, with_hash, sent); !error.isEmpty()) {
            t.rollback(); // takes the rows and the large objects created so far with it
            return call.fail(error + QStringLiteral("; nothing was stored"));
        }
    }
    // Committed with the files or not at all: read access for the clients, the signature.
    if (int rc = grant_readers(call, t, *version); rc != success)
        return rc;
    if (key) {
        if (int rc = sign_release(call, t, *version, with_hash, stored, *key); rc != success)
            return rc;
    } else if (with_release && t.select_value(QStringLiteral("select count(*) from t_release "
                                                             "where ver = ?"),
                                              {*version})
                                       .value_or(QString())
                                       .toLongLong() > 0) {
        call.note(QStringLiteral("warning: version %1 was signed; its signature does not cover "
                                 "these files: sign it again (sign or publish --sign)\n")
                      .arg(*version));
    }
    if (t.commit() != 0)
        return database_error(call, t, QStringLiteral("cannot commit"));
    call.note(
        QStringLiteral("published %1 file(s) as version %2\n").arg(files.size()).arg(*version));
    return success;
}

} // namespace

std::vector<command> publish_commands()
{
    return {
        {.name = QStringLiteral("publish"),
         .summary = QStringLiteral("store the files of a version"),
         .description = QStringLiteral(
             "Stores FILEs in t_file as version VERSION under their names relative to the base "
             "directory, in one transaction: either all of them or none."),
         .database = command::database_options::used,
         .options = {{QStringLiteral("ver"),
                      QStringLiteral("Version of the files (at most three decimals)."),
                      QStringLiteral("version")},
                     {QStringLiteral("base"),
                      QStringLiteral("Directory the file names are relative to, as the "
                                     "installation directory is."),
                      QStringLiteral("dir")},
                     {QStringLiteral("replace"),
                      QStringLiteral("Replace files already published with this version.")},
                     {QStringLiteral("sign"),
                      QStringLiteral("Sign the version with this private key (see keygen), in "
                                     "the same transaction: its record in t_release covers "
                                     "every file of the version."),
                      QStringLiteral("keyfile")}},
         .required = {QStringLiteral("ver"), QStringLiteral("base")},
         .arguments = command::arity::at_least_one,
         .argument = QStringLiteral("files"),
         .argument_help =
             QStringLiteral("Files (or directories, taken whole) under the base directory."),
         .argument_syntax = QStringLiteral("FILE..."),
         .run = run_publish},
    };
}

} // namespace qorv::admin
