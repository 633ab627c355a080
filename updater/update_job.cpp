#include "update_job.h"

#include "staged_install.h"
#include "texts.h"
#include "update_server.h"

#include <rt/messagebox.h>
#include <rt/profile.h>

#include <vector>

namespace qorv {

namespace {

/// Files are read from the server in pieces of this many chunks, so that each database round
/// trip carries about a megabyte while memory stays bounded whatever the file size.
constexpr qint64 chunks_per_read = 32;

job_result database_error(const rt::transaction& sqlca)
{
    rt::messagebox(texts::title_database_error,
                   texts::database_error(sqlca.sqldbcode, sqlca.sqlerrtext), rt::icon::stop);
    return job_result::failed;
}

job_result error(const QString& text)
{
    rt::messagebox(texts::title_error, text, rt::icon::stop);
    return job_result::failed;
}

/// Streams one file from `contents` into the staged target, chunk by chunk.
job_result store_file(rt::blob_reader& contents, qint64 chunks, staged_install& files,
                      rt::transaction& sqlca, job_view& view)
{
    std::vector<std::byte> buffer(static_cast<std::size_t>(chunk_size * chunks_per_read));
    qint64 buffered = 0; // bytes in the buffer
    qint64 offset = 0;   // bytes of the buffer already written
    for (qint64 chunk = 1; chunk <= chunks; ++chunk) {
        if (!view.yield())
            return job_result::cancelled;
        if (offset == buffered) {
            const qint64 n = contents.read(buffer);
            if (n < 0)
                return database_error(sqlca);
            if (n == 0) // the value is shorter than its announced size
                return error(texts::download_failed);
            buffered = n;
            offset = 0;
        }
        const qint64 length = std::min(chunk_size, buffered - offset);
        if (!files.write(
                QByteArrayView(reinterpret_cast<const char*>(buffer.data()) + offset, length)))
            return error(texts::create_failed);
        offset += length;
        view.set_progress(chunks, chunk);
    }
    return job_result::updated;
}

} // namespace

job_result run_update(update_server& server, const QString& version_text, const QString& sys_path,
                      const QString& ini_file, job_view& view)
{
    rt::transaction& sqlca = server.transaction();
    view.begin();

    const auto count = server.file_count(version_text);
    if (!count)
        return database_error(sqlca);

    staged_install files;
    rt::cursor names = server.file_names(version_text);
    if (sqlca.sqlcode < 0) // otherwise a list that could not be read would pass for an empty one
        return database_error(sqlca);
    qint64 number = 0;
    for (auto row = names.fetch(); row || sqlca.sqlcode != 100; row = names.fetch()) {
        if (sqlca.sqlcode < 0)
            return database_error(sqlca);
        const QString name = row->value(0);

        view.set_progress(0, 0);
        if (!view.yield())
            return job_result::cancelled;
        ++number;
        view.set_file(texts::files_line(*count, number), name);
        view.set_status(texts::downloading_line(number));

        const auto contents = server.contents(name, version_text);
        if (sqlca.sqlcode < 0)
            return database_error(sqlca);
        if (!contents || contents->is_null() || contents->size() == 0)
            return error(texts::download_failed);
        view.set_status(texts::storing_line(number));

        const qint64 chunks = (contents->size() + chunk_size - 1) / chunk_size;
        view.set_progress(chunks, 0);
        const auto target = target_path(sys_path, name);
        if (!target || !files.begin_file(*target))
            return error(texts::create_failed);
        if (const auto result = store_file(*contents, chunks, files, sqlca, view);
            result != job_result::updated)
            return result;
        if (!files.end_file())
            return error(texts::create_failed);
    }

    if (!files.commit())
        return error(texts::create_failed);
    if (rt::set_profile_string(ini_file, QStringLiteral("qorv"), QStringLiteral("ver"),
                               QLatin1Char('"') + version_text + QLatin1Char('"')) != 1) {
        files.undo();
        return error(texts::record_failed);
    }
    files.finish();

    rt::messagebox(texts::title_notice, texts::update_succeeded, rt::icon::information);
    view.set_installed_version(version_text);
    view.end();
    return job_result::updated;
}

} // namespace qorv
