// Type information of classes and structures, read from Qt's meta-object system.

#include "typeinfo.h"

#include <QMetaObject>
#include <QMetaProperty>
#include <QObject>

#include <cctype>
#include <limits>
#include <optional>

namespace lumora {

namespace {

/// A std::array type name split into its element type name and its size.
struct array_type {
    QByteArray element;
    std::int32_t size = 0;
};

/// Reads "std::array<T,N>" (the normalised spelling of the meta-type system, which has no
/// blanks); anything else gives no result.
std::optional<array_type> parse_std_array(const QByteArray& name)
{
    static const QByteArray prefix = QByteArrayLiteral("std::array<");
    if (!name.startsWith(prefix) || !name.endsWith('>'))
        return std::nullopt;
    const QByteArray inner = name.mid(prefix.size(), name.size() - prefix.size() - 1);
    // The size follows the last comma; commas before it belong to the element type.
    const qsizetype comma = inner.lastIndexOf(',');
    if (comma <= 0)
        return std::nullopt;
    QByteArray size_text = inner.mid(comma + 1);
    // Some compilers spell the size with an integer suffix ("5ul").
    while (!size_text.isEmpty() && !std::isdigit(static_cast<unsigned char>(size_text.back())))
        size_text.chop(1);
    bool ok = false;
    const qlonglong size = size_text.toLongLong(&ok);
    if (!ok || size < 0 || size > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return array_type{inner.left(comma), static_cast<std::int32_t>(size)};
}

/// The definition of a property of type `type` named `name`: arrays unwrapped dimension by
/// dimension, structures with their meta-object.
variable_definition describe(const QString& name, QMetaType type)
{
    variable_definition v;
    v.name = name;
    QByteArray type_name = type.isValid() ? QByteArray(type.name()) : QByteArray();
    while (const auto array = parse_std_array(type_name)) {
        v.array_definitions.push_back(array_bounds{1, array->size});
        type_name = array->element;
        type = QMetaType::fromName(type_name);
    }
    if (type.isValid()) {
        v.data_type = data_type_name(type);
        if (type.flags().testFlag(QMetaType::IsGadget))
            v.definition = type.metaObject();
    } else {
        v.data_type = QString::fromUtf8(type_name);
    }
    return v;
}

} // namespace

QString data_type_name(QMetaType type)
{
    if (!type.isValid())
        return QString();
    switch (type.id()) {
    case QMetaType::Int:
        return QStringLiteral("long");
    case QMetaType::UInt:
        return QStringLiteral("ulong");
    case QMetaType::Short:
        return QStringLiteral("integer");
    case QMetaType::UShort:
        return QStringLiteral("uint");
    case QMetaType::QChar:
    case QMetaType::Char16:
        return QStringLiteral("char");
    case QMetaType::QString:
        return QStringLiteral("string");
    case QMetaType::Bool:
        return QStringLiteral("boolean");
    case QMetaType::LongLong:
    case QMetaType::Long: // 64 bits wide here, never the runtime's 32-bit long
        return QStringLiteral("longlong");
    case QMetaType::ULongLong:
    case QMetaType::ULong:
        return QStringLiteral("unsignedlonglong");
    case QMetaType::Float:
        return QStringLiteral("real");
    case QMetaType::Double:
        return QStringLiteral("double");
    case QMetaType::QByteArray:
        return QStringLiteral("blob");
    case QMetaType::QDate:
        return QStringLiteral("date");
    case QMetaType::QTime:
        return QStringLiteral("time");
    case QMetaType::QDateTime:
        return QStringLiteral("datetime");
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return QStringLiteral("byte");
    default:
        break;
    }
    const QMetaType::TypeFlags flags = type.flags();
    if (flags.testFlag(QMetaType::IsGadget))
        return QStringLiteral("structure");
    if (flags.testFlag(QMetaType::PointerToQObject))
        return QStringLiteral("object");
    return QString::fromUtf8(type.name());
}

std::vector<variable_definition> variable_list(const QMetaObject& definition)
{
    std::vector<variable_definition> list;
    list.push_back(variable_definition{
        QStringLiteral("classdefinition"), QStringLiteral("classdefinition"), {}, &definition});
    const int first = definition.inherits(&QObject::staticMetaObject)
                          ? QObject::staticMetaObject.propertyCount()
                          : 0;
    for (int i = first; i < definition.propertyCount(); ++i) {
        const QMetaProperty property = definition.property(i);
        list.push_back(describe(QString::fromUtf8(property.name()), property.metaType()));
    }
    return list;
}

} // namespace lumora
