#include "release_check.h"

#include "update_server.h"

#include <rt/db/transaction.h>
#include <rt/value/decimal.h>
#include <rt/value/profile.h>

#include <QSet>

namespace qorv {

namespace {

#ifdef QORV_RELEASE_PUBKEY
const QString built_in_key = QStringLiteral(QORV_RELEASE_PUBKEY);
#else
const QString built_in_key;
#endif

// Why a release is refused, as the user reads it.
namespace say {

QString unusable_key(const QString& why)
{
    return QStringLiteral("本机配置的发布者公钥无效（%1）").arg(why);
}
QString no_record(const QString& version)
{
    return QStringLiteral("服务器上没有版本 %1 的发布者签名").arg(version);
}
QString other_key(const QString& version, const QString& signer, const QString& trusted)
{
    return QStringLiteral("版本 %1 由密钥 %2 签名，不是本机信任的发布者密钥 %3")
        .arg(version, signer, trusted);
}
QString bad_signature(const QString& version)
{
    return QStringLiteral("版本 %1 的发布者签名无效（签名记录在签名后被改动）").arg(version);
}
QString unreadable(const QString& version, const QString& why)
{
    return QStringLiteral("版本 %1 的签名清单无法识别（%2）").arg(version, why);
}
QString other_version(const QString& version, const QString& signed_version)
{
    return QStringLiteral("服务器上版本 %1 的签名记录属于版本 %2").arg(version, signed_version);
}
QString no_names(const QString& version, const QString& error)
{
    return QStringLiteral("无法读取版本 %1 的文件列表（%2）").arg(version, error);
}
QString added(const QString& name, const QString& version)
{
    return QStringLiteral("服务器上的文件 %1 不在版本 %2 的签名清单中").arg(name, version);
}
QString missing(const QString& name, const QString& version)
{
    return QStringLiteral("版本 %2 签名清单中的文件 %1 不在服务器上").arg(name, version);
}
QString reordered(const QString& version)
{
    return QStringLiteral("服务器上版本 %1 的文件顺序与签名清单不同").arg(version);
}
QString other_size(const QString& name)
{
    return QStringLiteral("文件 %1 的大小与签名清单不符").arg(name);
}
QString other_contents(const QString& name)
{
    return QStringLiteral("文件 %1 的内容与签名清单不符").arg(name);
}

} // namespace say

QString fingerprint_of(const QString& key_text)
{
    const auto key = release::public_key::from_text(key_text);
    return key ? key->fingerprint() : QStringLiteral("?");
}

} // namespace

trusted_key trusted_key_of(const QString& built_in, const QString& ini_pubkey)
{
    trusted_key result;
    result.text = (built_in.trimmed().isEmpty() ? ini_pubkey : built_in).trimmed();
    if (result.configured())
        result.key = release::public_key::from_text(result.text);
    return result;
}

trusted_key installation_key(const QString& ini_file)
{
    return trusted_key_of(built_in_key, rt::profile_string(ini_file, QStringLiteral("qorv"),
                                                           QStringLiteral("pubkey")));
}

QString release_check::names_problem(const release::manifest& signed_release,
                                     const QStringList& served)
{
    QSet<QString> listed;
    for (const release::manifest_file& f : signed_release.files)
        listed.insert(f.name);
    for (const QString& name : served)
        if (!listed.contains(name))
            return say::added(name, signed_release.version);
    const QSet<QString> on_server(served.begin(), served.end());
    for (const release::manifest_file& f : signed_release.files)
        if (!on_server.contains(f.name))
            return say::missing(f.name, signed_release.version);
    // The same names: only their order (or a name listed twice) can differ.
    if (qsizetype(signed_release.files.size()) != served.size())
        return say::reordered(signed_release.version);
    for (qsizetype i = 0; i < served.size(); ++i)
        if (signed_release.files[std::size_t(i)].name != served[i])
            return say::reordered(signed_release.version);
    return {};
}

std::optional<release_check> release_check::verify(update_server& server, const trusted_key& key,
                                                   const QString& version, QString* reason)
{
    const auto refuse = [&](const QString& why) -> std::optional<release_check> {
        *reason = why;
        return std::nullopt;
    };
    if (!key.key)
        return refuse(say::unusable_key(key.text));

    rt::transaction& sqlca = server.transaction();
    // A server without the table (set up before releases were signed) has no record either.
    rt::cursor records =
        sqlca.open_cursor(QStringLiteral("select manifest, signature, signer from %1 where ver = ?")
                              .arg(release::record_table),
                          {version});
    server.end_read();
    const auto record = records.fetch();
    if (!record || record->size() < 3)
        return refuse(say::no_record(version));
    const QByteArray text = record->at(0).toUtf8();
    const auto signature = QByteArray::fromBase64Encoding(record->at(1).trimmed().toLatin1(),
                                                          QByteArray::AbortOnBase64DecodingErrors);
    if (!signature || !key.key->verify(text, *signature)) {
        const QString signer = record->at(2).trimmed();
        if (signer != key.key->text())
            return refuse(say::other_key(version, fingerprint_of(signer), key.key->fingerprint()));
        return refuse(say::bad_signature(version));
    }

    QString why;
    auto signed_release = release::manifest::parse(text, &why);
    if (!signed_release)
        return refuse(say::unreadable(version, why));
    const auto signed_number = rt::decimal::from_text(signed_release->version);
    if (!signed_number || signed_number != rt::decimal::from_text(version))
        return refuse(say::other_version(version, signed_release->version));

    rt::cursor names = server.file_names(version);
    QStringList served;
    for (auto row = names.fetch(); row; row = names.fetch())
        served << row->value(0);
    if (sqlca.sqlcode < 0)
        return refuse(say::no_names(version, sqlca.sqlerrtext));
    if (const QString problem = names_problem(*signed_release, served); !problem.isEmpty())
        return refuse(problem);

    release_check check;
    check.manifest_ = std::move(*signed_release);
    return check;
}

QString release_check::failed(const QString& reason)
{
    return reason + QStringLiteral("，更新失败！");
}

QString release_check::file_problem(qsizetype index, const QString& name, qint64 size) const
{
    if (index >= qsizetype(manifest_.files.size()))
        return say::added(name, manifest_.version);
    const release::manifest_file& f = manifest_.files[std::size_t(index)];
    if (f.name != name) {
        for (const release::manifest_file& other : manifest_.files)
            if (other.name == name)
                return say::reordered(manifest_.version);
        return say::added(name, manifest_.version);
    }
    if (f.size != size)
        return say::other_size(name);
    return {};
}

QString release_check::content_problem(qsizetype index) const
{
    return say::other_contents(manifest_.files.at(std::size_t(index)).name);
}

QString release_check::count_problem(qsizetype served) const
{
    if (served >= qsizetype(manifest_.files.size()))
        return {};
    return say::missing(manifest_.files[std::size_t(served)].name, manifest_.version);
}

std::optional<release_status> check_release(update_server& server, const QString& ini_file,
                                            const QString& version)
{
    const trusted_key key = installation_key(ini_file);
    if (!key.configured())
        return std::nullopt;
    QString reason;
    if (!release_check::verify(server, key, version, &reason))
        return release_status{
            false, QStringLiteral("版本 %1 未通过发布者签名检查：%2").arg(version, reason)};
    return release_status{true, QStringLiteral("版本 %1 的发布者签名已验证（密钥 %2）")
                                    .arg(version, key.key->fingerprint())};
}

} // namespace qorv
