#include "connection.h"

#include <rt/db/transaction.h>
#include <rt/value/codepage.h>
#include <rt/value/profile.h>

#include <QCoreApplication>
#include <QDir>

namespace qorv {

raw_settings read_settings(const QString& ini_file)
{
    auto key = [&](const char* name) {
        return rt::profile_string(ini_file, QStringLiteral("qorv"), QString::fromLatin1(name));
    };
    raw_settings raw;
    raw.servername = key("servername");
    raw.database = key("database");
    raw.user = key("user");
    raw.password = key("password");
    raw.ver = key("ver");
    return raw;
}

settings_cipher::settings_cipher()
{
    const QString beside =
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("lmget"));
    QString tried;
    for (const QString& name : {beside, QStringLiteral("lmget")}) {
        library_.setFileName(name);
        if (library_.load()) {
            lm_j_m_ = reinterpret_cast<lm_j_m_fn>(library_.resolve("lm_j_m"));
            if (!lm_j_m_)
                error_ = library_.errorString();
            return;
        }
        tried += (tried.isEmpty() ? QString() : QStringLiteral("; ")) + library_.errorString();
    }
    error_ = tried;
}

QString settings_cipher::lm_j_m(const QString& key, const QString& value) const
{
    if (!lm_j_m_)
        return {};
    // The library receives its own copies: what it may leave in them is not used.
    QByteArray key_bytes = rt::to_ansi(key);
    QByteArray value_bytes = rt::to_ansi(value);
    const char* clear = lm_j_m_(key_bytes.data(), value_bytes.data());
    return clear ? rt::from_ansi(QByteArrayView(clear)) : QString();
}

bool connect_update_server(rt::transaction& sqlca, const raw_settings& raw,
                           const settings_cipher& cipher, QString* reason)
{
    const QString key = QString::fromLatin1(sys_mm.data(), qsizetype(sys_mm.size()));
    const QString sj_user = cipher.lm_j_m(key, raw.user);
    const QString sj_mm = cipher.lm_j_m(key, raw.password);
    const QString sj_server = cipher.lm_j_m(key, raw.servername);
    const QString sj_database = cipher.lm_j_m(key, raw.database);

    sqlca.disconnect();
    sqlca.logpass = sj_mm;
    sqlca.logid = sj_user;
    sqlca.dbms = QStringLiteral("SNC SQL Native Client(OLE DB)");
    sqlca.lock = QStringLiteral("RC");
    sqlca.autocommit = false;
    sqlca.servername = sj_server;
    sqlca.dbparm = QStringLiteral("timeout = 5,Database='") + sj_database +
                   QStringLiteral("',Provider='SQLNCLI10'");
    sqlca.connect();
    if (sqlca.sqlcode >= 0)
        return true;
    if (reason) {
        *reason = cipher.loaded()
                      ? sqlca.sqlerrtext
                      : QStringLiteral("the settings cipher is not available: ") + cipher.error();
    }
    return false;
}

} // namespace qorv
