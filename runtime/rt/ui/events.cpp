#include <rt/ui/events.h>

#include <QMetaMethod>
#include <QObject>
#include <QString>

namespace rt {

bool raise_event(QObject* object, QStringView name, event_style style)
{
    if (object == nullptr || name.isEmpty())
        return false;
    const QMetaObject* meta = object->metaObject();
    // From the last method back: a class's own methods come after those of its bases.
    for (int i = meta->methodCount() - 1; i >= 0; --i) {
        const QMetaMethod method = meta->method(i);
        if (method.parameterCount() != 0 || method.methodType() == QMetaMethod::Constructor)
            continue;
        if (QString::fromLatin1(method.name()).compare(name, Qt::CaseInsensitive) != 0)
            continue;
        return method.invoke(object, style == event_style::trigger ? Qt::DirectConnection
                                                                   : Qt::QueuedConnection);
    }
    return false;
}

} // namespace rt
