// Timings of lumora's text services for bench/lumora.sh, which sets them beside their peers.
//
//   lumora_bench md5 FILE        best wall seconds of uf_md5file on FILE
//   lumora_bench text DIR        replace and getsep on DIR/big.txt, replace on DIR/ascii.txt,
//                                hexencode and urlencode on DIR/mixed.txt (UTF-8 files written
//                                by lumora_peers.py)
//
// Each line printed is "case seconds" (best of QORV_BENCH_RUNS runs, default 3). For hexencode a
// line "memory case ratio" follows: the memory the result holds over the memory its characters
// need; above 1.1 the benchmark fails.

#include <lumora/lumora.h>

#include <QFile>
#include <QString>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <utility>

namespace {

int runs()
{
    const char* env = std::getenv("QORV_BENCH_RUNS");
    const int n = env ? std::atoi(env) : 3;
    return n > 0 ? n : 3;
}

/// Best wall time of `f` over the runs; `check` sees the last result so nothing is optimised
/// away and a wrong answer stops the benchmark.
template <typename F> double best(F&& f)
{
    double best_seconds = std::numeric_limits<double>::max();
    for (int i = 0; i < runs(); ++i) {
        const auto start = std::chrono::steady_clock::now();
        f();
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        best_seconds = std::min(best_seconds, elapsed.count());
    }
    return best_seconds;
}

void report(const char* name, double seconds)
{
    std::printf("%s %.6f\n", name, seconds);
    std::fflush(stdout);
}

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "lumora_bench: %s\n", what);
    std::exit(1);
}

QString read_text(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        fail("cannot read the text files");
    return QString::fromUtf8(f.readAll());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
        fail("usage: lumora_bench md5 FILE | text DIR");
    const QString arg = QString::fromLocal8Bit(argv[2]);

    if (qstrcmp(argv[1], "md5") == 0) {
        const lumora::u_orlen_md5 md5{};
        QString digest;
        report("md5file", best([&] {
                   if (!md5.uf_md5file(arg, digest).isEmpty())
                       fail("uf_md5file failed");
               }));
        std::fprintf(stderr, "digest %s\n", qPrintable(digest.toLower()));
        return 0;
    }

    const lumora::u_orlen_fun fun{};
    const QString big = read_text(arg + "/big.txt");
    const QString mixed = read_text(arg + "/mixed.txt");
    const QString sep = QStringLiteral(";");
    const QString with = QStringLiteral(", ");

    const QString ascii = read_text(arg + "/ascii.txt");

    std::size_t sink = 0;
    report("replace_mixed", best([&] { sink += fun.replace(big, sep, with)->size(); }));
    report("replace_ascii", best([&] { sink += fun.replace(ascii, sep, with)->size(); }));
    report("getsep", best([&] { sink += fun.getsep(big, sep, 0).size(); }));
    const std::pair<const char*, lumora::encoding> encodings[] = {
        {"hexencode_utf8", lumora::encoding::utf8},
        {"hexencode_utf16", lumora::encoding::utf16le},
        {"hexencode_ansi", lumora::encoding::ansi}};
    for (const auto& [name, code] : encodings) {
        QString result;
        report(name, best([&] {
                   result = QString(); // the old result does not live on beside the new one
                   result = fun.hexencode(mixed, code);
               }));
        sink += result.size();
        const double ratio =
            double(result.capacity()) / double(std::max<qsizetype>(1, result.size()));
        std::printf("memory %s %.3f\n", name, ratio);
        if (ratio > 1.1)
            fail("a hexencode result holds more than 10% more memory than it needs");
    }
    report("urlencode_utf8",
           best([&] { sink += fun.urlencode(mixed, lumora::encoding::utf8).size(); }));
    if (sink == 0)
        fail("no output");
    return 0;
}
