// Deterministic sample data: a small linear congruential generator, so that every start shows
// the same candidates and a screenshot can be compared with the last one.

#include "sample_data.h"

#include <cstdint>

namespace {

class generator {
public:
    explicit generator(std::uint32_t seed) : state_(seed) {}
    /// A number in 0 … n - 1.
    int below(int n)
    {
        state_ = state_ * 1664525u + 1013904223u;
        return static_cast<int>((state_ >> 8) % static_cast<std::uint32_t>(n));
    }

private:
    std::uint32_t state_;
};

const QString surnames =
    QStringLiteral("王李张刘陈杨黄赵吴周徐孙马朱胡郭何高林罗郑梁谢宋唐许韩冯邓曹"
                   "彭曾肖田董袁潘于蒋蔡余杜叶程苏魏吕丁任沈姚卢姜崔钟谭陆汪范"
                   "金石廖贾夏韦付方白邹孟熊秦邱江尹薛闫段雷侯龙史陶黎贺顾毛郝");
const QString given = QStringLiteral("伟芳娜秀英敏静丽强磊军洋勇艳杰娟涛明超秀兰霞平刚桂英华建国"
                                     "建华志强文博思远子涵雨萱浩然欣怡梓轩晨曦佳琪宇航俊杰");

} // namespace

QStringList sample_subjects()
{
    return {QStringLiteral("语文"), QStringLiteral("数学"), QStringLiteral("英语"),
            QStringLiteral("物理"), QStringLiteral("化学"), QStringLiteral("生物"),
            QStringLiteral("政治"), QStringLiteral("历史"), QStringLiteral("地理")};
}

QList<candidate> sample_candidates(int count)
{
    generator g(20260708u);
    const QStringList subjects = sample_subjects();
    QList<candidate> list;
    list.reserve(count);
    for (int i = 0; i < count; ++i) {
        candidate c;
        c.zkzh = QStringLiteral("2026%1").arg(110001 + i, 6, 10, QLatin1Char('0'));
        c.xm = surnames.at(g.below(surnames.size()));
        const int length = g.below(3) == 0 ? 1 : 2;
        for (int k = 0; k < length; ++k)
            c.xm += given.at(g.below(given.size()));
        c.xb = g.below(2) == 0 ? QStringLiteral("男") : QStringLiteral("女");
        c.km = subjects.at(g.below(subjects.size()));
        // Scores gather around the seventies, as real ones do.
        c.cj = std::min(100, 35 + g.below(26) + g.below(26) + g.below(16));
        list.push_back(c);
    }
    return list;
}
