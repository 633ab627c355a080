// qorv_admin encrypt and write-ini: the encrypted settings of qorv.ini.

#include "admin.h"
#include "command.h"
#include "database.h"
#include "lmget_cipher.h"
#include "release_key.h"
#include "settings_key.h"

#include <rt/value/codepage.h>
#include <rt/value/profile.h>

#include <QDir>
#include <QFileInfo>

#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace qorv::admin {

namespace {

// The text in the ANSI code page, or std::nullopt when it holds a character the code page
// lacks (which would be stored as '?' and reach the server changed).
std::optional<QByteArray> strict_ansi(const QString& text, QString* why)
{
    if (auto bytes = rt::to_ansi_lossless(text))
        return bytes;
    *why = QStringLiteral("holds characters that the ANSI code page %1 cannot represent (%2); "
                          "nothing was written")
               .arg(QString::fromLatin1(rt::ansi_codepage()), rt::ansi_missing_characters(text));
    return std::nullopt;
}

/// The stored form of ANSI text. Throws what the cipher throws.
QString stored_form(const QByteArray& clear)
{
    return QString::fromStdString(lmget::encrypt(
        qorv::sys_mm, std::string_view(clear.constData(), std::size_t(clear.size()))));
}

int cannot_encrypt(invocation& call, const std::exception& e)
{
    return call.fail(QStringLiteral("cannot encrypt: %1").arg(QString::fromLocal8Bit(e.what())));
}

int run_encrypt(invocation& call)
{
    QString why;
    const auto ansi = strict_ansi(call.arguments().front(), &why);
    if (!ansi)
        return call.fail(QStringLiteral("TEXT ") + why);
    try {
        call.print(stored_form(*ansi) + QLatin1Char('\n'));
    } catch (const std::exception& e) {
        return cannot_encrypt(call, e);
    }
    return success;
}

int run_write_ini(invocation& call)
{
    std::optional<QString> version;
    if (call.is_set(QStringLiteral("ver"))) {
        QString why;
        version = normalized_version(call.value(QStringLiteral("ver")), &why);
        if (!version)
            return call.usage(why);
    }
    std::optional<release::public_key> pubkey;
    if (call.is_set(QStringLiteral("pubkey"))) {
        QString why;
        pubkey = release::public_key::from_text(call.value(QStringLiteral("pubkey")), &why);
        if (!pubkey)
            return call.usage(QStringLiteral("--pubkey: ") + why);
    }
    const QString dir = call.arguments().front();
    if (!QFileInfo(dir).isDir())
        return call.fail(QStringLiteral("%1 is not a directory").arg(dir));
    const QString file = QDir(dir).filePath(QStringLiteral("qorv.ini"));
    std::vector<QByteArray> clear_texts;
    for (const char* option : database_option_names) {
        QString why;
        const auto ansi = strict_ansi(call.value(QLatin1String(option)), &why);
        if (!ansi)
            return call.fail(QStringLiteral("--%1 ").arg(QLatin1String(option)) + why);
        clear_texts.push_back(*ansi);
    }
    std::vector<std::pair<QString, QString>> keys;
    try {
        std::size_t index = 0;
        for (const char* key : database_setting_keys)
            keys.emplace_back(QString::fromLatin1(key), stored_form(clear_texts[index++]));
    } catch (const std::exception& e) {
        return cannot_encrypt(call, e);
    }
    if (version)
        keys.emplace_back(QStringLiteral("ver"), QLatin1Char('"') + *version + QLatin1Char('"'));
    if (pubkey)
        keys.emplace_back(QStringLiteral("pubkey"), pubkey->text());
    for (const auto& [key, value] : keys)
        if (rt::set_profile_string(file, QStringLiteral("qorv"), key, value) != 1)
            return call.fail(QStringLiteral("cannot write %1").arg(file));
    return success;
}

} // namespace

std::vector<command> settings_commands()
{
    return {
        {.name = QStringLiteral("encrypt"),
         .summary = QStringLiteral("print the stored form of a setting"),
         .description = QStringLiteral(
             "Prints the stored (encrypted) form of TEXT for qorv.ini. The text is converted to "
             "the ANSI code page first; text with characters outside it is refused."),
         .arguments = command::arity::one,
         .argument = QStringLiteral("text"),
         .argument_help = QStringLiteral("The clear text."),
         .run = run_encrypt},
        {.name = QStringLiteral("write-ini"),
         .summary = QStringLiteral("write the settings of qorv.ini"),
         .description = QStringLiteral(
             "Writes section [qorv] of DIR/qorv.ini: servername, database, user and password "
             "encrypted, ver and pubkey when given. Every other line of the file is kept. With "
             "pubkey the updater installs only versions signed with its private key."),
         .database = command::database_options::written,
         .options = {{QStringLiteral("ver"),
                      QStringLiteral("Local version to record (plain, in quotes)."),
                      QStringLiteral("version")},
                     {QStringLiteral("pubkey"),
                      QStringLiteral("Publisher key the updater verifies releases with, as "
                                     "keygen prints it."),
                      QStringLiteral("key")}},
         .arguments = command::arity::one,
         .argument = QStringLiteral("dir"),
         .argument_help = QStringLiteral("Directory of the installation."),
         .run = run_write_ini},
    };
}

} // namespace qorv::admin
