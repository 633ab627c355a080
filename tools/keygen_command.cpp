// qorv_admin keygen: a new publisher key pair.

#include "command.h"
#include "release_key.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace qorv::admin {

namespace {

const QString key_file_name = QStringLiteral("qorv-release.key");

int run_keygen(invocation& call)
{
    const QString dir = call.arguments().front();
    if (!QFileInfo(dir).isDir())
        return call.fail(QStringLiteral("%1 is not a directory").arg(dir));
    const auto key = release::private_key::generate();
    const QByteArray pem = key ? key->pem() : QByteArray();
    if (pem.isEmpty())
        return call.fail(QStringLiteral("cannot make a key"));

    // Created here or not at all: an existing key is never overwritten, and the file is the
    // owner's alone from its first byte.
    const QString path = QDir(dir).filePath(key_file_name);
    QFile out(path);
    const QFile::Permissions owner_only = QFile::ReadOwner | QFile::WriteOwner;
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly, owner_only))
        return call.fail(out.exists()
                             ? QStringLiteral("%1 exists already; keygen never "
                                              "overwrites a key")
                                   .arg(path)
                             : QStringLiteral("cannot create %1: %2").arg(path, out.errorString()));
    if (!out.setPermissions(owner_only) || out.write(pem) != pem.size() || !out.flush()) {
        const QString error = out.errorString();
        out.remove();
        return call.fail(QStringLiteral("cannot write %1: %2").arg(path, error));
    }
    out.close();

    const release::public_key public_key = key->public_part();
    call.print(public_key.text() + QLatin1Char('\n'));
    call.note(QStringLiteral("wrote the private key %1 (fingerprint %2): keep it away from the "
                             "update server and the clients.\nThe line above is the public key "
                             "for write-ini --pubkey.\n")
                  .arg(path, public_key.fingerprint()));
    return success;
}

} // namespace

std::vector<command> keygen_commands()
{
    return {
        {.name = QStringLiteral("keygen"),
         .summary = QStringLiteral("make a publisher key pair for signed releases"),
         .description = QStringLiteral(
             "Writes a new Ed25519 private key to DIR/qorv-release.key (PEM, readable by its "
             "owner only; an existing key is never overwritten) and prints the public key as "
             "one line: the base64 of its DER form, which write-ini --pubkey takes. Between "
             "-----BEGIN PUBLIC KEY----- and -----END PUBLIC KEY----- lines it is a PEM file "
             "for openssl."),
         .arguments = command::arity::one,
         .argument = QStringLiteral("dir"),
         .argument_help = QStringLiteral("Directory for the private key (not on the server)."),
         .run = run_keygen},
    };
}

} // namespace qorv::admin
