// qorv_admin sign, and the signing of publish --sign: the signed release record of a version.

#include "admin.h"
#include "command.h"
#include "database.h"
#include "release_table.h"

#include <rt/db/transaction.h>

namespace qorv::admin {

int sign_release(invocation& call, rt::transaction& t, const QString& version, bool with_hash,
                 const known_files& known, const release::private_key& key)
{
    const auto m = stored_manifest(call, t, version, with_hash, known);
    if (!m)
        return failure;
    QStringList earlier;
    for (const release::manifest_file& f : m->files)
        if (!known.contains(f.name))
            earlier << f.name;
    if (!known.empty() && !earlier.isEmpty())
        call.note(QStringLiteral("the signature also covers %1 file(s) of version %2 published "
                                 "earlier: %3\n")
                      .arg(earlier.size())
                      .arg(version, earlier.join(QStringLiteral(", "))));
    if (int rc = store_record(call, t, *m, key); rc != success)
        return rc;
    call.note(QStringLiteral("signed version %1 (%2 file(s)) with key %3\n")
                  .arg(version)
                  .arg(m->files.size())
                  .arg(key.public_part().fingerprint()));
    return success;
}

namespace {

int run_sign(invocation& call)
{
    QString why;
    const auto version = normalized_version(call.value(QStringLiteral("ver")), &why);
    if (!version)
        return call.usage(why);
    const auto s = database_of(call);
    if (!s)
        return usage_error;
    const auto key = read_private_key(call, call.arguments().front());
    if (!key)
        return failure;

    rt::transaction t;
    if (int rc = connect(call, t, *s); rc != success)
        return rc;
    if (!has_release_table(t))
        return call.fail(QStringLiteral("the server has no table t_release (run upgrade-table)"));
    const bool with_hash = has_filehash(t);
    if (int rc = sign_release(call, t, *version, with_hash, {}, *key); rc != success)
        return rc;
    if (t.commit() != 0)
        return database_error(call, t, QStringLiteral("cannot commit"));
    return success;
}

} // namespace

std::vector<command> sign_commands()
{
    return {
        {.name = QStringLiteral("sign"),
         .summary = QStringLiteral("sign a published version"),
         .description = QStringLiteral(
             "Reads every stored file of version VERSION, checks it against its filehash (when "
             "the table has the column) and stores the signed manifest of the version (its "
             "files' names, sizes and SHA-256 in the order the updater installs them) in "
             "t_release, replacing an earlier signature. Updaters holding the public key "
             "install only versions signed with it."),
         .database = command::database_options::used,
         .options = {{QStringLiteral("ver"), QStringLiteral("Version to sign."),
                      QStringLiteral("version")}},
         .required = {QStringLiteral("ver")},
         .arguments = command::arity::one,
         .argument = QStringLiteral("keyfile"),
         .argument_help = QStringLiteral("The private key written by keygen."),
         .run = run_sign},
    };
}

} // namespace qorv::admin
