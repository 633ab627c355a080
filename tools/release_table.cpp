#include "release_table.h"

#include "admin.h"
#include "command.h"
#include "database.h"

#include <rt/db/transaction.h>
#include <rt/value/sha256.h>

#include <QFile>

#include <vector>

namespace qorv::admin {

namespace {

// The columns: the version, the manifest as text (UTF-8 where the server has a choice), the
// Ed25519 signature of its UTF-8 bytes in base64 and the public key that made it.
const QString columns_form =
    QStringLiteral("create table t_release (ver %1 not null primary key, manifest %2 not null, "
                   "signature varchar(100) not null, signer varchar(100) not null)");

} // namespace

QString release_table_tsql()
{
    return columns_form.arg(QStringLiteral("decimal(12,3)"), QStringLiteral("nvarchar(max)")) +
           QStringLiteral(";\n");
}

bool has_release_table(rt::transaction& t)
{
    const bool has =
        t.select_value(QStringLiteral("select count(*) from t_release where 1 = 0")).has_value();
    t.rollback();
    return has;
}

long create_release_table(rt::transaction& t)
{
    switch (t.kind()) {
    case rt::dbms_kind::sqlite:
        return t.execute(columns_form.arg(QStringLiteral("numeric"), QStringLiteral("text")));
    case rt::dbms_kind::postgresql:
        return t.execute(columns_form.arg(QStringLiteral("numeric(12,3)"), QStringLiteral("text")));
    case rt::dbms_kind::odbc:
    case rt::dbms_kind::sqlserver:
        break;
    }
    if (t.dialect() == rt::sql_dialect::tsql)
        return t.execute(release_table_tsql());
    // Other data sources: PostgreSQL's and most others' long text first, the standard's next.
    if (t.execute(columns_form.arg(QStringLiteral("numeric(12,3)"), QStringLiteral("text"))) == 0)
        return 0;
    t.rollback();
    return t.execute(columns_form.arg(QStringLiteral("numeric(12,3)"), QStringLiteral("clob")));
}

std::map<QString, QString> release_signers(rt::transaction& t)
{
    std::map<QString, QString> signers;
    rt::cursor records =
        t.open_cursor(QStringLiteral("select ver, manifest, signature, signer from t_release"));
    for (auto row = records.fetch(); row; row = records.fetch()) {
        const QString version = normalized_version(row->at(0)).value_or(row->at(0));
        const QByteArray text = row->at(1).toUtf8();
        const auto key = release::public_key::from_text(row->at(3));
        const auto signature = QByteArray::fromBase64Encoding(
            row->at(2).trimmed().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
        const auto m = release::manifest::parse(text);
        const bool valid = key && signature && key->verify(text, *signature) && m &&
                           normalized_version(m->version) == version;
        signers[version] = valid ? key->fingerprint() : QStringLiteral("INVALID");
    }
    t.rollback();
    return signers;
}

std::optional<release::manifest> stored_manifest(invocation& call, rt::transaction& t,
                                                 const QString& version, bool with_hash,
                                                 const known_files& known)
{
    const auto refuse = [&](const QString& why) -> std::optional<release::manifest> {
        t.rollback();
        call.fail(why + QStringLiteral("; nothing was stored"));
        return std::nullopt;
    };
    // The names exactly as the updater asks for them, so that the order is the server's.
    rt::cursor rows = t.open_cursor(
        QStringLiteral("select filename%1 from t_file where ver = ? order by filename")
            .arg(with_hash ? QStringLiteral(", filehash") : QString()),
        {version});
    std::vector<QStringList> listed;
    for (auto row = rows.fetch(); row; row = rows.fetch())
        listed.push_back(*row);
    if (t.sqlcode < 0) {
        database_error(call, t, QStringLiteral("cannot list the files of version %1").arg(version));
        return std::nullopt;
    }
    if (listed.empty())
        return refuse(QStringLiteral("version %1 has no files").arg(version));

    release::manifest m{version, {}};
    std::vector<std::byte> buffer(1024 * 1024);
    for (const QStringList& row : listed) {
        const QString& name = row.at(0);
        if (const QString problem = release::manifest::name_problem(name); !problem.isEmpty())
            return refuse(problem);
        if (const auto it = known.find(name); it != known.end()) {
            m.files.push_back(it->second);
            continue;
        }
        // Published earlier: its stored bytes are what the updater will receive.
        auto reader = t.open_blob(QStringLiteral("t_file"), QStringLiteral("filedata"),
                                  QStringLiteral("filename = ? and ver = ?"), {name, version});
        if (!reader || reader->is_null())
            return refuse(QStringLiteral("%1 has no stored contents").arg(name));
        rt::sha256 hash;
        std::int64_t size = 0;
        for (std::int64_t n; (n = reader->read(buffer)) != 0; size += n) {
            if (n < 0)
                return refuse(QStringLiteral("cannot read %1: %2").arg(name, t.sqlerrtext));
            hash.add(QByteArrayView(reinterpret_cast<const char*>(buffer.data()), n));
        }
        release::manifest_file f{name, size, hash.hex()};
        if (size != reader->size())
            return refuse(QStringLiteral("%1 is not as long as the server says").arg(name));
        const QString published = with_hash ? row.value(1).trimmed().toLower() : QString();
        if (!published.isEmpty() && published != f.sha256)
            return refuse(QStringLiteral("the stored bytes of %1 do not match its filehash "
                                         "(changed after publishing?)")
                              .arg(name));
        m.files.push_back(std::move(f));
    }
    return m;
}

int store_record(invocation& call, rt::transaction& t, const release::manifest& m,
                 const release::private_key& key)
{
    const QByteArray text = m.text();
    const QByteArray signature = key.sign(text);
    const release::public_key signer = key.public_part();
    if (signature.isEmpty() || !signer.verify(text, signature)) {
        t.rollback();
        return call.fail(
            QStringLiteral("cannot sign version %1; nothing was stored").arg(m.version));
    }
    if (t.execute(QStringLiteral("delete from t_release where ver = ?"), {m.version}) != 0 ||
        t.execute(QStringLiteral("insert into t_release (ver, manifest, signature, signer) "
                                 "values (?, ?, ?, ?)"),
                  {m.version, QString::fromUtf8(text), QString::fromLatin1(signature.toBase64()),
                   signer.text()}) != 0)
        return database_error(call, t,
                              QStringLiteral("cannot store the signature of version %1 (has the "
                                             "server table t_release? see upgrade-table)")
                                  .arg(m.version));
    return success;
}

std::optional<release::private_key> read_private_key(invocation& call, const QString& file)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly)) {
        call.fail(QStringLiteral("cannot read the key %1: %2").arg(file, in.errorString()));
        return std::nullopt;
    }
    QString why;
    auto key = release::private_key::from_pem(in.readAll(), &why);
    if (!key)
        call.fail(QStringLiteral("%1 is not a key made by keygen: %2").arg(file, why));
    return key;
}

} // namespace qorv::admin
