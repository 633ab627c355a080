#pragma once

/// The type information that n_cst_numerical::of_sizeof walks, read from Qt's meta-object
/// system: a class is a QObject class, a structure is a Q_GADGET, a variable is a Q_PROPERTY.

#include <lumora/lumora_export.h>

#include <QMetaType>
#include <QString>

#include <cstdint>
#include <vector>

struct QMetaObject;

namespace lumora {

/// The bounds of one array dimension, both inclusive.
struct array_bounds {
    std::int32_t lower_bound = 1;
    std::int32_t upper_bound = 1;

    friend bool operator==(const array_bounds&, const array_bounds&) = default;
};

/// One variable of a class or structure, as the size walk sees it.
struct variable_definition {
    /// The variable's name.
    QString name;
    /// The name of its data type, or of the element type of an array: "long", "ulong",
    /// "integer", "uint", "char", "string", "boolean", "structure", … (see data_type_name()).
    QString data_type;
    /// One entry per array dimension, outermost first; empty for a scalar.
    std::vector<array_bounds> array_definitions;
    /// For a structure (and for the first entry of every list, see variable_list()): the
    /// meta-object of the structure, whose variable_list() gives its fields. Not owned.
    const QMetaObject* definition = nullptr;

    friend bool operator==(const variable_definition&, const variable_definition&) = default;
};

/// The data type name of a Qt type, in the names of the application runtime:
///
/// | Qt type                          | name          |
/// |----------------------------------|---------------|
/// | qint32 / quint32                 | "long" / "ulong" |
/// | qint16 / quint16                 | "integer" / "uint" |
/// | QChar, char16_t                  | "char"        |
/// | QString                          | "string"      |
/// | bool                             | "boolean"     |
/// | qint64 / quint64, long / ulong   | "longlong" / "unsignedlonglong" |
/// | float / double                   | "real" / "double" |
/// | QByteArray                       | "blob"        |
/// | QDate / QTime / QDateTime        | "date" / "time" / "datetime" |
/// | char, signed or unsigned char    | "byte"        |
/// | a Q_GADGET                       | "structure"   |
/// | a pointer to a QObject class     | "object"      |
/// | an invalid type                  | ""            |
///
/// Any other type keeps Qt's own name (for example "QList<int>" or "QRect").
LUMORA_EXPORT QString data_type_name(QMetaType type);

/// The variable list of a class (a QObject class) or of a structure (a Q_GADGET).
///
/// The first entry stands for the definition itself: it is named "classdefinition", has the
/// data type "classdefinition" and points at `definition`. One entry per property follows, in
/// the order of the meta-object (inherited properties first). The properties that QObject
/// itself declares (objectName) belong to the framework and are not listed.
///
/// Arrays are properties of type std::array<T, N>: they get one array_bounds entry per nested
/// std::array (1 to N) and the data type of the innermost element. A Q_GADGET used as such an
/// element must be known by name to the meta-type system (qRegisterMetaType), since its name is
/// all a std::array type tells; otherwise its name stays the data type. Lists of variable
/// length (QList, std::vector) are not arrays of fixed bounds: they keep Qt's type name.
LUMORA_EXPORT std::vector<variable_definition> variable_list(const QMetaObject& definition);

} // namespace lumora
