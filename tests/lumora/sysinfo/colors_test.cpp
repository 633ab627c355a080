// The colour getters read what the host registered, in their own widths.

#include <lumora/host.h>
#include <lumora/sysinfo/colors.h>

#include <QTest>

using lumora::host::color_variable;

namespace {

/// Every getter's result widened to 32 bits, so that the six share one table.
std::optional<qint32> get(color_variable variable)
{
    switch (variable) {
    case color_variable::sh_bj_color:
        return lumora::get_shbj();
    case color_variable::sh_qj_color:
        if (const auto v = lumora::get_shqj())
            return *v;
        return std::nullopt;
    case color_variable::xz_bj_color:
        return lumora::get_xzbj();
    case color_variable::xz_qj_color:
        return lumora::get_xzqj();
    case color_variable::dh_bj_color:
        return lumora::get_dhbj();
    case color_variable::dh_qj_color:
        return lumora::get_dhqj();
    }
    return std::nullopt;
}

const color_variable all[] = {color_variable::sh_bj_color, color_variable::sh_qj_color,
                              color_variable::xz_bj_color, color_variable::xz_qj_color,
                              color_variable::dh_bj_color, color_variable::dh_qj_color};

} // namespace

Q_DECLARE_METATYPE(color_variable)

class colors_test : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        for (const color_variable v : all)
            lumora::host::set_color(v, std::nullopt);
    }

    void getters_data()
    {
        QTest::addColumn<color_variable>("variable");
        QTest::addColumn<qint32>("value");
        QTest::addColumn<qint32>("expected");
        const qint32 rgb = 0x00ff8040; // blue 255, green 128, red 64
        QTest::newRow("sh_bj in full") << color_variable::sh_bj_color << rgb << rgb;
        QTest::newRow("sh_qj low 16 bits, signed") << color_variable::sh_qj_color << rgb << -32704;
        QTest::newRow("sh_qj positive low half")
            << color_variable::sh_qj_color << 0x00ff7fff << 32767;
        QTest::newRow("sh_qj default colour")
            << color_variable::sh_qj_color << qint32(0xff000000u) << 0;
        QTest::newRow("xz_bj in full") << color_variable::xz_bj_color << rgb << rgb;
        QTest::newRow("xz_qj in full") << color_variable::xz_qj_color << rgb << rgb;
        QTest::newRow("dh_bj default colour")
            << color_variable::dh_bj_color << qint32(0xff000000u) << qint32(0xff000000u);
        QTest::newRow("dh_qj in full") << color_variable::dh_qj_color << rgb << rgb;
    }
    void getters()
    {
        QFETCH(color_variable, variable);
        QFETCH(qint32, value);
        QFETCH(qint32, expected);
        lumora::host::set_color(variable, value);
        QCOMPARE(get(variable), std::optional<qint32>(expected));
        // Each getter reads its own variable only.
        for (const color_variable other : all) {
            if (other != variable)
                QCOMPARE(get(other), std::nullopt);
        }
        lumora::host::set_color(variable, std::nullopt);
        QCOMPARE(get(variable), std::nullopt);
    }

    void a_colour_without_value_gives_no_value()
    {
        for (const color_variable v : all)
            QCOMPARE(get(v), std::nullopt);
        // The smallest colour value is a value like any other.
        lumora::host::set_color(color_variable::xz_qj_color, std::numeric_limits<qint32>::min());
        QCOMPARE(lumora::get_xzqj(), std::optional<qint32>(std::numeric_limits<qint32>::min()));
    }
};

QTEST_APPLESS_MAIN(colors_test)
#include "colors_test.moc"
