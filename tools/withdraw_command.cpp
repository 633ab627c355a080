// qorv_admin withdraw: takes a published version back, all its files or none.

#include "admin.h"
#include "command.h"
#include "database.h"

#include <rt/db/transaction.h>

namespace qorv::admin {

namespace {

int run_withdraw(invocation& call)
{
    QString why;
    const auto version = normalized_version(call.value(QStringLiteral("ver")), &why);
    if (!version)
        return call.usage(why);
    const auto s = database_of(call);
    if (!s)
        return usage_error;
    rt::transaction t;
    if (int rc = connect(call, t, *s); rc != success)
        return rc;

    rt::cursor rows = t.open_cursor(
        QStringLiteral("select filename from t_file where ver = ? order by filename"), {*version});
    QStringList names;
    while (const auto row = rows.fetch())
        names << row->value(0);
    if (t.sqlcode < 0)
        return database_error(call, t, QStringLiteral("cannot look up version %1").arg(*version));
    if (names.isEmpty()) {
        t.rollback();
        return call.fail(
            QStringLiteral("version %1 is not published; nothing was removed").arg(*version));
    }
    // File by file, so that exactly the files listed go, whatever is published meanwhile.
    for (const QString& name : names)
        if (!delete_file(t, name, *version))
            return database_error(call, t, QStringLiteral("cannot remove %1").arg(name));
    if (t.commit() != 0)
        return database_error(call, t, QStringLiteral("cannot commit"));

    QString out =
        QStringLiteral("withdrew version %1: %2 file(s)\n").arg(*version).arg(names.size());
    for (const QString& name : names)
        out += QStringLiteral("  %1\n").arg(name);
    call.print(out);
    return success;
}

} // namespace

std::vector<command> withdraw_commands()
{
    return {
        {.name = QStringLiteral("withdraw"),
         .summary = QStringLiteral("remove every file of a published version"),
         .description = QStringLiteral(
             "Removes every file of version VERSION from t_file in one transaction, without "
             "asking, and prints the files removed. Updaters no longer see the version; "
             "installations that have it keep it. A version that is not published is refused."),
         .database = command::database_options::used,
         .options = {{QStringLiteral("ver"), QStringLiteral("The version to remove."),
                      QStringLiteral("version")}},
         .required = {QStringLiteral("ver")},
         .run = run_withdraw},
    };
}

} // namespace qorv::admin
