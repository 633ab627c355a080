#include "update_job.h"
#include "update_job_p.h"

#include "install_names.h"
#include "release_check.h"
#include "staged_install.h"
#include "target_path.h"
#include "texts.h"
#include "update_server.h"

#include <rt/ui/messagebox.h>
#include <rt/value/profile.h>
#include <rt/value/sha256.h>

#include <QFileInfo>

#include <vector>

namespace qorv {

namespace {

/// Files are read from the server in pieces of this many chunks, so that each database round
/// trip carries about a megabyte while memory stays bounded whatever the file size.
constexpr qint64 chunks_per_read = 32;

job_result database_error(const rt::transaction& sqlca, job_view& view)
{
    // A stop request ends the database's waits with an error: it is a stop, not a failure.
    if (!view.yield())
        return job_result::cancelled;
    rt::messagebox(texts::title_database_error,
                   texts::database_error(sqlca.sqldbcode, sqlca.sqlerrtext), rt::icon::stop);
    return job_result::failed;
}

job_result error(const QString& text)
{
    rt::messagebox(texts::title_error, text, rt::icon::stop);
    return job_result::failed;
}

} // namespace

namespace detail {

job_result store_file(rt::blob_reader& contents, staged_install& files, rt::transaction& sqlca,
                      job_view& view)
{
    const qint64 size = contents.size();
    const qint64 chunks = (size + chunk_size - 1) / chunk_size;
    std::vector<std::byte> buffer(static_cast<std::size_t>(chunk_size * chunks_per_read));
    qint64 buffered = 0; // bytes in the buffer
    qint64 offset = 0;   // bytes of the buffer already written
    qint64 written = 0;
    for (qint64 chunk = 1; chunk <= chunks; ++chunk) {
        if (!view.yield())
            return job_result::cancelled;
        // A reader may deliver fewer bytes than asked for: a chunk is complete only when it
        // holds its full share of the announced size.
        const qint64 wanted = std::min(chunk_size, size - written);
        for (qint64 length = 0; length < wanted;) {
            if (offset == buffered) {
                const qint64 n = contents.read(buffer);
                if (n < 0)
                    return database_error(sqlca, view);
                if (n == 0) // the value is shorter than its announced size
                    return error(texts::download_failed);
                buffered = n;
                offset = 0;
            }
            const qint64 piece = std::min(wanted - length, buffered - offset);
            if (!files.write(
                    QByteArrayView(reinterpret_cast<const char*>(buffer.data()) + offset, piece)))
                return error(texts::create_failed);
            offset += piece;
            length += piece;
        }
        written += wanted;
        view.set_progress(chunks, chunk);
        view.set_bytes(size, written);
    }
    if (offset != buffered) // the value is longer than its announced size
        return error(texts::download_failed);
    return job_result::updated;
}

} // namespace detail

namespace {

/// Stages every file of the version and qorv.ini with the new version, then moves them all into
/// place. On failure the caller abandons `files`.
job_result install_version(update_server& server, const QString& version_text,
                           const QString& sys_path, const QString& ini_file, job_view& view,
                           staged_install& files)
{
    rt::transaction& sqlca = server.transaction();

    const auto count = server.file_count(version_text);
    if (!count)
        return database_error(sqlca, view);

    // With a publisher key, only the files of a release it signed are installed.
    std::optional<release_check> release;
    if (const trusted_key key = installation_key(ini_file); key.configured()) {
        QString reason;
        release = release_check::verify(server, key, version_text, &reason);
        if (!release)
            return error(release_check::failed(reason));
    }

    rt::cursor names = server.file_names(version_text);
    if (sqlca.sqlcode < 0) // otherwise a list that could not be read would pass for an empty one
        return database_error(sqlca, view);
    std::vector<QStringList> rows;
    for (auto row = names.fetch(); row || sqlca.sqlcode != 100; row = names.fetch()) {
        if (sqlca.sqlcode < 0)
            return database_error(sqlca, view);
        rows.push_back(*row);
    }
    // Before anything is written: a file bearing the name of the install's own journal or
    // scratch files would be lost, or would steer the repair after a crash.
    for (const QStringList& row : rows)
        if (is_reserved_name(row.value(0)))
            return error(texts::reserved_name(row.value(0)));

    qint64 number = 0;
    for (const QStringList& row : rows) {
        const QString name = row.value(0);
        // The published SHA-256, when the table has the column: the download is verified with
        // it, and an installed copy that already matches is kept instead of fetched again.
        QString hash = row.value(1).toLower();

        view.set_progress(0, 0);
        if (!view.yield())
            return job_result::cancelled;
        ++number;
        view.set_number(*count, number);
        view.set_file(texts::files_line(*count, number), name);
        view.set_status(texts::downloading_line(number));

        const auto contents = server.contents(name, version_text);
        if (sqlca.sqlcode < 0)
            return database_error(sqlca, view);
        if (!contents || contents->is_null() || contents->size() == 0)
            return error(texts::download_failed);
        if (release) {
            const QString problem = release->file_problem(number - 1, name, contents->size());
            if (!problem.isEmpty())
                return error(release_check::failed(problem));
            hash = release->sha256(number - 1);
        }
        view.set_status(texts::storing_line(number));

        view.set_progress((contents->size() + chunk_size - 1) / chunk_size, 0);
        view.set_bytes(contents->size(), 0);
        const auto target = target_path(sys_path, name);
        if (!target)
            return error(texts::create_failed);
        if (!hash.isEmpty() && QFileInfo(*target).isFile() &&
            QFileInfo(*target).size() == contents->size() && rt::sha256_of_file(*target) == hash) {
            const qint64 chunks = (contents->size() + chunk_size - 1) / chunk_size;
            view.set_progress(chunks, chunks);
            view.set_bytes(contents->size(), contents->size());
            continue;
        }
        if (!files.begin_file(*target))
            return error(texts::create_failed);
        if (const auto result = detail::store_file(*contents, files, sqlca, view);
            result != job_result::updated)
            return result;
        if (!hash.isEmpty() && contents->sha256() != hash)
            return error(release ? release_check::failed(release->content_problem(number - 1))
                                 : texts::download_failed);
        if (!files.end_file())
            return error(texts::create_failed);
    }

    if (release && !release->count_problem(number).isEmpty())
        return error(release_check::failed(release->count_problem(number)));

    // qorv.ini is one more file of the install, so that the version recorded always matches the
    // files in place, whenever the install is interrupted. A qorv.ini that is a symbolic link
    // stays one: the file it points to is replaced.
    const auto ini = rt::profile_with(ini_file, QStringLiteral("qorv"), QStringLiteral("ver"),
                                      QLatin1Char('"') + version_text + QLatin1Char('"'));
    if (!ini || !files.add_file(ini_file, *ini, true))
        return error(texts::record_failed);
    if (!files.commit()) {
        const install_problem& failed = files.move_failure();
        return error(failed.path.isEmpty() ? texts::create_failed
                                           : texts::move_failed(failed.path, failed.reason));
    }
    files.finish();
    return job_result::updated;
}

} // namespace

job_result run_update(update_server& server, const QString& version_text, const QString& sys_path,
                      const QString& ini_file, job_view& view)
{
    view.begin();
    staged_install files(sys_path);
    const job_result result =
        install_version(server, version_text, sys_path, ini_file, view, files);
    if (result != job_result::updated)
        files.abandon();
    if (!files.problems().empty())
        rt::messagebox(texts::title_error, texts::cleanup_failed(files.problems()), rt::icon::stop);
    if (result != job_result::updated)
        return result;

    rt::messagebox(texts::title_notice, texts::update_succeeded, rt::icon::information);
    view.set_installed_version(version_text);
    view.end();
    return job_result::updated;
}

} // namespace qorv
