#include "recording_server.h"

namespace qorv::test {

recording_server::recording_server(std::unique_ptr<rt::ole_server> inner, QStringList* log,
                                   int fail_at)
    : inner_(std::move(inner)), log_(log), fail_at_(fail_at)
{
}

QVariant recording_server::invoke(rt::ole_access access, const rt::ole_path& path,
                                  const QVariant& value)
{
    static const char* const kinds[] = {"get", "set", "call"};
    QString line =
        QString::fromLatin1(kinds[static_cast<int>(access)]) + u' ' + rt::ole_path_text(path);
    if (access == rt::ole_access::set)
        line += QStringLiteral(" = ") + rt::ole_value_text(value);
    if (log_)
        log_->append(line);
    if (++count_ == fail_at_)
        rt::ole_refuse(QStringLiteral("failure on demand at ") + line);
    return inner_ ? inner_->invoke(access, path, value) : QVariant();
}

} // namespace qorv::test
