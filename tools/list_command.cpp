// qorv_admin list: the published versions with their number of files and total size.

#include "admin.h"
#include "command.h"
#include "database.h"
#include "release_table.h"

#include <rt/db/transaction.h>

namespace qorv::admin {

namespace {

int run_list(invocation& call)
{
    const auto s = database_of(call);
    if (!s)
        return usage_error;
    rt::transaction t;
    if (int rc = connect(call, t, *s); rc != success)
        return rc;
    // Signed versions, with the fingerprint of their key ("-": not signed).
    const auto signers = release_signers(t);
    // Large objects or bytes, whichever form made the table.
    const QString size = t.blob_size_sql(QStringLiteral("t_file"), QStringLiteral("filedata"));
    if (size.isNull())
        return database_error(call, t, QStringLiteral("cannot list the versions"));
    rt::cursor c = t.open_cursor(
        QStringLiteral("select ver, count(filename), coalesce(sum(%1), 0) from t_file group by "
                       "ver order by ver")
            .arg(size));
    if (t.sqlcode != 0)
        return database_error(call, t, QStringLiteral("cannot list the versions"));
    QString out = QStringLiteral("%1 %2 %3  %4\n")
                      .arg(QStringLiteral("version"), -12)
                      .arg(QStringLiteral("files"), 8)
                      .arg(QStringLiteral("bytes"), 16)
                      .arg(QStringLiteral("signed by"));
    while (const auto row = c.fetch()) {
        const QString version = normalized_version(row->at(0)).value_or(row->at(0));
        const auto signer = signers.find(version);
        out += QStringLiteral("%1 %2 %3  %4\n")
                   .arg(version, -12)
                   .arg(row->at(1), 8)
                   .arg(row->at(2), 16)
                   .arg(signer == signers.end() ? QStringLiteral("-") : signer->second);
    }
    if (t.sqlcode < 0)
        return database_error(call, t, QStringLiteral("cannot list the versions"));
    t.rollback();
    call.print(out);
    return success;
}

} // namespace

std::vector<command> list_commands()
{
    return {
        {.name = QStringLiteral("list"),
         .summary = QStringLiteral("list the published versions"),
         .description = QStringLiteral(
             "Lists the published versions, oldest first, with their number of files, total "
             "size in bytes and the fingerprint of the key that signed them (- when not signed, "
             "INVALID when the signature does not verify with its key). The signature is not "
             "compared with the files here; sign and the updaters do that."),
         .database = command::database_options::used,
         .run = run_list},
    };
}

} // namespace qorv::admin
