// The connection parameters (dbparm) and the time-outs they set.

#include <rt/db/transaction.h>
#include <rt/db/transaction_p.h>

#include <QRegularExpression>

#include <atomic>

namespace rt {

QString transaction::dbparm_value(const QString& dbparm, const QString& name)
{
    // What may follow the closing quote of a quoted value: the next pair or the end of the text.
    static const QRegularExpression next_pair(
        QStringLiteral("\\s*(?:$|,\\s*[A-Za-z_][A-Za-z0-9_ ]*=)"));

    qsizetype pos = 0;
    const qsizetype n = dbparm.size();
    while (pos < n) {
        const qsizetype eq = dbparm.indexOf(QLatin1Char('='), pos);
        if (eq < 0)
            break;
        const QString key = dbparm.mid(pos, eq - pos).trimmed();
        qsizetype v = eq + 1;
        while (v < n && dbparm.at(v).isSpace())
            ++v;
        QString value;
        qsizetype after = n; // where the next pair starts
        if (v < n && dbparm.at(v) == QLatin1Char('\'')) {
            qsizetype end = -1;
            for (qsizetype q = dbparm.indexOf(QLatin1Char('\''), v + 1); q >= 0;
                 q = dbparm.indexOf(QLatin1Char('\''), q + 1)) {
                const auto m =
                    next_pair.match(QStringView(dbparm), q + 1, QRegularExpression::NormalMatch,
                                    QRegularExpression::AnchorAtOffsetMatchOption);
                if (m.hasMatch()) {
                    end = q;
                    break;
                }
            }
            if (end < 0) { // unterminated: the rest of the text
                value = dbparm.mid(v + 1);
            } else {
                value = dbparm.mid(v + 1, end - v - 1);
                const qsizetype comma = dbparm.indexOf(QLatin1Char(','), end + 1);
                after = comma < 0 ? n : comma + 1;
            }
        } else {
            const qsizetype comma = dbparm.indexOf(QLatin1Char(','), v);
            value = dbparm.mid(v, comma < 0 ? n - v : comma - v).trimmed();
            after = comma < 0 ? n : comma + 1;
        }
        if (key.compare(name.trimmed(), Qt::CaseInsensitive) == 0)
            return value.isNull() ? QString(QLatin1String("")) : value;
        pos = after;
    }
    return {};
}

namespace detail {

int connect_timeout(const QString& dbparm)
{
    bool ok = false;
    const int seconds = transaction::dbparm_value(dbparm, QStringLiteral("timeout")).toInt(&ok);
    return ok && seconds > 0 ? seconds : 5;
}

namespace {
std::atomic<int> default_statement_timeout{QORV_STATEMENT_TIMEOUT};
}

int statement_timeout(const QString& dbparm)
{
    bool ok = false;
    const int seconds =
        transaction::dbparm_value(dbparm, QStringLiteral("StatementTimeout")).toInt(&ok);
    return ok && seconds > 0 ? seconds : default_statement_timeout.load();
}

void set_default_statement_timeout(int seconds)
{
    if (seconds > 0)
        default_statement_timeout = seconds;
}

} // namespace detail
} // namespace rt
