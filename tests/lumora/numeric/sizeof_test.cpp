// Sizes of values, variable lists, Q_GADGET structures and QObject classes, and the type
// information they are read from.

#include <lumora/host.h>
#include <lumora/numeric/n_cst_numerical.h>
#include <lumora/numeric/typeinfo.h>

#include <rt/value/errors.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QObject>
#include <QTest>
#include <QTimer>

#include <array>

using lumora::array_bounds;
using lumora::n_cst_numerical;
using lumora::variable_definition;

/// Six bytes: a long and an integer.
struct point_gadget {
    Q_GADGET
    Q_PROPERTY(qint32 x MEMBER x)
    Q_PROPERTY(qint16 y MEMBER y)
public:
    qint32 x = 0;
    qint16 y = 0;
    friend bool operator==(const point_gadget&, const point_gadget&) = default;
};
Q_DECLARE_METATYPE(point_gadget)

/// A string (4), a nested structure counted once (6), five uints (10), a char (1): 21 bytes.
struct record_gadget {
    Q_GADGET
    Q_PROPERTY(QString name MEMBER name)
    Q_PROPERTY(point_gadget at MEMBER at)
    Q_PROPERTY(std::array<quint16, 5> codes MEMBER codes)
    Q_PROPERTY(QChar mark MEMBER mark)
public:
    QString name;
    point_gadget at;
    std::array<quint16, 5> codes{};
    QChar mark;
    friend bool operator==(const record_gadget&, const record_gadget&) = default;
};

/// A structure with a field of a type that has no size here.
struct measured_poorly {
    Q_GADGET
    Q_PROPERTY(qint32 count MEMBER count)
    Q_PROPERTY(double ratio MEMBER ratio)
public:
    qint32 count = 0;
    double ratio = 0;
    friend bool operator==(const measured_poorly&, const measured_poorly&) = default;
};

/// A gadget that is never registered with the meta-type system by name.
struct unregistered_gadget {
    Q_GADGET
    Q_PROPERTY(qint32 x MEMBER x)
public:
    qint32 x = 0;
    friend bool operator==(const unregistered_gadget&, const unregistered_gadget&) = default;
};

/// 4 + 2 + 21 + 3 × 6 (an array of structures counts one structure) + 4 × 3 × 4 (only the first
/// dimension counts: 4 × 4) = 4 + 2 + 21 + 6 + 16 = 49.
class measured_object : public QObject {
    Q_OBJECT
    Q_PROPERTY(quint32 id MEMBER id)
    Q_PROPERTY(quint16 flags MEMBER flags)
    Q_PROPERTY(record_gadget record MEMBER record)
    Q_PROPERTY(std::array<point_gadget, 3> corners MEMBER corners)
    Q_PROPERTY(std::array<std::array<qint32, 3>, 4> grid MEMBER grid)
public:
    quint32 id = 0;
    quint16 flags = 0;
    record_gadget record;
    std::array<point_gadget, 3> corners{};
    std::array<std::array<qint32, 3>, 4> grid{};
};

/// A class whose variable list has a boolean: not measurable.
class flagged_object : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool on MEMBER on)
public:
    bool on = false;
};

class objects_with_unmeasurable_parts : public QObject {
    Q_OBJECT
    Q_PROPERTY(qint32 first MEMBER first)
    Q_PROPERTY(measured_poorly nested MEMBER nested)
    Q_PROPERTY(std::array<unregistered_gadget, 2> unknown MEMBER unknown)
public:
    qint32 first = 0;
    measured_poorly nested;
    std::array<unregistered_gadget, 2> unknown{};
};

namespace {

variable_definition var(const QString& type, std::vector<array_bounds> bounds = {},
                        const QMetaObject* definition = nullptr)
{
    return variable_definition{QStringLiteral("v"), type, std::move(bounds), definition};
}

/// The first entry of every list stands for the definition itself.
const variable_definition self = var(QStringLiteral("classdefinition"));

} // namespace

class sizeof_test : public QObject {
    Q_OBJECT
    n_cst_numerical n;
    /// A message box as the user saw it.
    struct shown_box {
        QString title;
        QString text;
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
    };
    QList<shown_box> shown_;
    QTimer closer_;

private slots:
    void initTestCase()
    {
        qRegisterMetaType<point_gadget>();
        // Message boxes are real ones; whenever one is up, this notes what it shows and presses
        // its button.
        closer_.setInterval(0);
        connect(&closer_, &QTimer::timeout, this, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            shown_.append({box->windowTitle(), box->text(), box->icon(), box->standardButtons()});
            box->button(QMessageBox::Ok)->click();
        });
        closer_.start();
    }
    void init() { shown_.clear(); }

    void scalars_take_the_size_of_their_declared_type()
    {
        QCOMPARE(n.of_sizeof(std::int32_t{-7}), 4);
        QCOMPARE(n.of_sizeof(std::uint32_t{7}), 4);
        QCOMPARE(n.of_sizeof(std::int16_t{7}), 2);
        QCOMPARE(n.of_sizeof(std::uint16_t{7}), 2);
        QCOMPARE(n.of_sizeof(QChar(u'x')), 1);
        QCOMPARE(n.of_sizeof(u'x'), 1);
        QCOMPARE(n.of_sizeof('a'), 1);
        QCOMPARE(n.of_sizeof(QStringLiteral("a long text")), 4);
        QCOMPARE(n.of_sizeof(true), 1);
        QCOMPARE(n.of_sizeof("abc"), 4); // a text, not a pointer read as boolean
        QCOMPARE(n.of_sizeof(u"abc"), 4);
        QCOMPARE(n.of_sizeof(std::optional<std::int16_t>()), 2);
        QCOMPARE(n.of_sizeof(std::optional<QString>()), 4);
    }

    void variable_lists_data()
    {
        QTest::addColumn<std::vector<variable_definition>>("list");
        QTest::addColumn<qint32>("expected");
        QTest::addColumn<int>("messages");
        using V = std::vector<variable_definition>;
        QTest::newRow("empty list") << V{} << 0 << 0;
        QTest::newRow("only the first entry") << V{self} << 0 << 0;
        QTest::newRow("first entry is skipped whatever it is")
            << V{var("double"), var("long")} << 4 << 0;
        QTest::newRow("long names")
            << V{self, var("long"), var("ulong"), var("unsignedlong")} << 12 << 0;
        QTest::newRow("integer names") << V{self,        var("int"),         var("integer"),
                                            var("uint"), var("unsignedint"), var("unsignedinteger")}
                                       << 10 << 0;
        QTest::newRow("char and string")
            << V{self, var("char"), var("character"), var("string")} << 6 << 0;
        QTest::newRow("array of 5 longs") << V{self, var("long", {{1, 5}})} << 20 << 0;
        QTest::newRow("lower bound does not enter") << V{self, var("long", {{3, 5}})} << 20 << 0;
        QTest::newRow("only the first dimension counts")
            << V{self, var("integer", {{1, 3}, {1, 10}})} << 6 << 0;
        QTest::newRow("structure counts once")
            << V{self, var("structure", {{1, 8}}, &point_gadget::staticMetaObject)} << 6 << 0;
        QTest::newRow("boolean is not supported")
            << V{self, var("long"), var("boolean")} << -1 << 1;
        QTest::newRow("double is not supported") << V{self, var("double"), var("long")} << -1 << 1;
        QTest::newRow("structure without definition") << V{self, var("structure")} << -1 << 1;
        QTest::newRow("failing nested structure fails the whole, one message")
            << V{self, var("long"), var("structure", {}, &measured_poorly::staticMetaObject),
                 var("long")}
            << -1 << 1;
        QTest::newRow("sums wrap in 32 bits")
            << V{self, var("long", {{1, 1073741824}}), var("long")} << 4 << 0;
    }
    void variable_lists()
    {
        QFETCH(std::vector<variable_definition>, list);
        QFETCH(qint32, expected);
        QFETCH(int, messages);
        QCOMPARE(n.of_sizeof(list), expected);
        QCOMPARE(shown_.size(), messages);
        for (const shown_box& m : std::as_const(shown_)) {
            QCOMPARE(m.title, QStringLiteral("of_SizeOf Error"));
            QCOMPARE(m.text, QStringLiteral(
                                 "Type is not supported, possibly variable sized or object type."));
            QCOMPARE(m.icon, QMessageBox::Critical);
            QCOMPARE(m.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        }
    }

    // A host's handler answers the box in place of a window, until it is removed.
    void a_host_handler_answers_the_box()
    {
        QList<lumora::host::message> handled;
        QVERIFY(!lumora::host::set_messagebox_handler([&](const lumora::host::message& m) {
            handled.append(m);
            return 1;
        }));
        const std::vector<variable_definition> unsupported{self, var("boolean")};
        QCOMPARE(n.of_sizeof(unsupported), -1);
        QVERIFY(shown_.isEmpty());
        QCOMPARE(handled.size(), 1);
        QCOMPARE(handled[0].title, QStringLiteral("of_SizeOf Error"));
        QCOMPARE(handled[0].text,
                 QStringLiteral("Type is not supported, possibly variable sized or object type."));
        QCOMPARE(handled[0].icon, lumora::host::message_icon::stop);
        QCOMPARE(handled[0].buttons, lumora::host::message_buttons::ok);

        QVERIFY(lumora::host::set_messagebox_handler({}));
        QCOMPARE(n.of_sizeof(unsupported), -1);
        QCOMPARE(handled.size(), 1);
        QCOMPARE(shown_.size(), 1);
    }

    void variable_list_of_a_gadget()
    {
        const auto list = lumora::variable_list(record_gadget::staticMetaObject);
        QCOMPARE(list.size(), std::size_t(5));
        QCOMPARE(list[0].name, QStringLiteral("classdefinition"));
        QCOMPARE(list[0].definition, &record_gadget::staticMetaObject);
        QCOMPARE(list[1].name, QStringLiteral("name"));
        QCOMPARE(list[1].data_type, QStringLiteral("string"));
        QCOMPARE(list[2].data_type, QStringLiteral("structure"));
        QCOMPARE(list[2].definition, &point_gadget::staticMetaObject);
        QCOMPARE(list[3].data_type, QStringLiteral("uint"));
        QCOMPARE(list[3].array_definitions, (std::vector<array_bounds>{{1, 5}}));
        QCOMPARE(list[4].data_type, QStringLiteral("char"));
        QCOMPARE(n.of_sizeof(list), 21);
    }

    void variable_list_of_a_class_leaves_out_qobjects_own_properties()
    {
        const auto list = lumora::variable_list(measured_object::staticMetaObject);
        QCOMPARE(list.size(), std::size_t(6));
        QCOMPARE(list[1].name, QStringLiteral("id"));
        QCOMPARE(list[1].data_type, QStringLiteral("ulong"));
        QCOMPARE(list[4].data_type, QStringLiteral("structure"));
        QCOMPARE(list[4].array_definitions, (std::vector<array_bounds>{{1, 3}}));
        QCOMPARE(list[5].data_type, QStringLiteral("long"));
        QCOMPARE(list[5].array_definitions, (std::vector<array_bounds>{{1, 4}, {1, 3}}));
    }

    void data_type_names_data()
    {
        QTest::addColumn<QMetaType>("type");
        QTest::addColumn<QString>("name");
        QTest::newRow("qint32") << QMetaType::fromType<qint32>() << "long";
        QTest::newRow("quint32") << QMetaType::fromType<quint32>() << "ulong";
        QTest::newRow("qint16") << QMetaType::fromType<qint16>() << "integer";
        QTest::newRow("quint16") << QMetaType::fromType<quint16>() << "uint";
        QTest::newRow("QChar") << QMetaType::fromType<QChar>() << "char";
        QTest::newRow("char16_t") << QMetaType::fromType<char16_t>() << "char";
        QTest::newRow("bool") << QMetaType::fromType<bool>() << "boolean";
        QTest::newRow("64-bit long is no long") << QMetaType::fromType<long>() << "longlong";
        QTest::newRow("char is a byte") << QMetaType::fromType<char>() << "byte";
        QTest::newRow("gadget") << QMetaType::fromType<point_gadget>() << "structure";
        QTest::newRow("object pointer") << QMetaType::fromType<QObject*>() << "object";
        QTest::newRow("list keeps its name") << QMetaType::fromType<QList<int>>() << "QList<int>";
        QTest::newRow("invalid") << QMetaType() << "";
    }
    void data_type_names()
    {
        QFETCH(QMetaType, type);
        QFETCH(QString, name);
        QCOMPARE(lumora::data_type_name(type), name);
    }

    void objects()
    {
        measured_object measured;
        QCOMPARE(n.of_sizeof(&measured), 49);
        QVERIFY(shown_.isEmpty());

        flagged_object flagged;
        QCOMPARE(n.of_sizeof(&flagged), -1);
        QCOMPARE(shown_.size(), 1);

        shown_.clear();
        objects_with_unmeasurable_parts unmeasurable;
        QCOMPARE(n.of_sizeof(&unmeasurable), -1);
        QCOMPARE(shown_.size(), 1);

        // A plain QObject has no variables of its own.
        QObject plain;
        QCOMPARE(n.of_sizeof(&plain), 0);
    }

    void a_structure_array_of_an_unregistered_gadget_is_not_measurable()
    {
        const auto list = lumora::variable_list(objects_with_unmeasurable_parts::staticMetaObject);
        QCOMPARE(list[3].data_type, QStringLiteral("unregistered_gadget"));
        QCOMPARE(n.of_sizeof(std::vector<variable_definition>{self, list[3]}), -1);
    }

    void object_arrays()
    {
        measured_object a, b;
        QCOMPARE(n.of_sizeof(std::vector<QPointer<QObject>>{&a, &b}), 98);
        QCOMPARE(n.of_sizeof(std::vector<QPointer<QObject>>{}), 0);
        flagged_object flagged;
        QCOMPARE(n.of_sizeof(std::vector<QPointer<QObject>>{&a, &flagged, &b}), -1);
        QCOMPARE(shown_.size(), 1);
    }

    void null_and_destroyed_objects()
    {
        QVERIFY_THROWS_EXCEPTION(rt::null_object_reference,
                                 n.of_sizeof(static_cast<const QObject*>(nullptr)));
        measured_object a;
        QPointer<QObject> gone = new measured_object;
        delete gone.data();
        QVERIFY_THROWS_EXCEPTION(rt::null_object_reference,
                                 n.of_sizeof(std::vector<QPointer<QObject>>{&a, gone}));
        QVERIFY_THROWS_EXCEPTION(rt::null_object_reference, n.of_sizeof(gone));
    }

    void any_arrays_data()
    {
        QTest::addColumn<QVariantList>("values");
        QTest::addColumn<qint32>("expected");
        QTest::newRow("long, string, boolean")
            << QVariantList{qint32(5), QStringLiteral("text"), true} << 9;
        QTest::newRow("one double") << QVariantList{2.5} << 0;
        QTest::newRow("empty") << QVariantList{} << 0;
        QTest::newRow("integer, uint, ulong, char")
            << QVariantList{QVariant::fromValue(qint16(1)), QVariant::fromValue(quint16(1)),
                            QVariant::fromValue(quint32(1)), QVariant::fromValue(QChar(u'a'))}
            << 9;
        QTest::newRow("invalid, 64-bit and structure add nothing")
            << QVariantList{QVariant(), QVariant::fromValue(qint64(1)),
                            QVariant::fromValue(point_gadget{})}
            << 0;
    }
    void any_arrays()
    {
        QFETCH(QVariantList, values);
        QFETCH(qint32, expected);
        QCOMPARE(n.of_sizeof(std::vector<QVariant>(values.begin(), values.end())), expected);
        QVERIFY(shown_.isEmpty());
    }
};

QTEST_MAIN(sizeof_test)
#include "sizeof_test.moc"
