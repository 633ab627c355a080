// Automation objects and their paths, and the factory that connects them to servers.

#include <rt/grid/ole.h>

#include <rt/grid/spreadsheet_server.h>

#include <rt/value/errors.h>

#include <QStringList>

#include <utility>

namespace rt {

namespace {

ole_factory& current_factory()
{
    static ole_factory factory;
    return factory;
}

} // namespace

QString ole_value_text(const QVariant& v)
{
    if (!v.isValid() || v.isNull())
        return QStringLiteral("null");
    if (v.typeId() == QMetaType::QString)
        return u'"' + v.toString() + u'"';
    if (v.typeId() == QMetaType::Bool)
        return v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    return v.toString();
}

void ole_refuse(const QString& what)
{
    throw runtime_error(("automation error: " + what).toStdString());
}

QString ole_path_text(const ole_path& path)
{
    QStringList steps;
    for (const auto& step : path) {
        QString s = step.name;
        if (!step.args.isEmpty()) {
            QStringList args;
            for (const auto& a : step.args)
                args.append(ole_value_text(a));
            s += u'(' + args.join(QStringLiteral(", ")) + u')';
        }
        steps.append(s);
    }
    return steps.join(u'.');
}

ole_server::~ole_server() = default;

ole_factory set_ole_factory(ole_factory factory)
{
    return std::exchange(current_factory(), std::move(factory));
}

std::unique_ptr<ole_server> default_ole_server(const QString& progid, int& code)
{
    if (progid.compare(u"Excel.Application", Qt::CaseInsensitive) != 0) {
        code = -2;
        return nullptr;
    }
    code = 0;
    return std::make_unique<spreadsheet_server>();
}

// ---------------------------------------------------------------------------------------------

oleobject::oleobject() = default;
oleobject::~oleobject() = default;

int oleobject::connecttonewobject(const QString& progid)
{
    int code = 0;
    const auto& factory = current_factory();
    auto server = factory ? factory(progid, code) : default_ole_server(progid, code);
    if (!server)
        return code != 0 ? code : -1;
    server_ = std::move(server);
    return 0;
}

int oleobject::disconnectobject()
{
    if (!server_)
        return -1;
    server_.reset();
    return 0;
}

QVariant oleobject::get(const ole_path& path)
{
    if (!server_)
        ole_refuse(QStringLiteral("the object is not connected"));
    return server_->invoke(ole_access::get, path, {});
}

void oleobject::set(const ole_path& path, const QVariant& value)
{
    if (!server_)
        ole_refuse(QStringLiteral("the object is not connected"));
    server_->invoke(ole_access::set, path, value);
}

QVariant oleobject::call(const ole_path& path)
{
    if (!server_)
        ole_refuse(QStringLiteral("the object is not connected"));
    return server_->invoke(ole_access::call, path, {});
}

} // namespace rt
