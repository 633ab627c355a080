// The system probes: libraries the process has loaded and libraries it has not (which must stay
// unloaded), the loader's search, the symbol table and cache readers on good and damaged input,
// the 64-bit answer, and the record structures.

#include "sysinfo_p.h"
#include "test_files.h"

#include <lumora/numeric/n_cst_numerical.h>
#include <lumora/sysinfo/probes.h>
#include <lumora/sysinfo/structures.h>

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/ioctl.h>
#include <sys/personality.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <set>

using qorv::test::read_file;

namespace {

/// The paths of every object the process has loaded.
std::multiset<std::string> loaded_objects()
{
    std::multiset<std::string> names;
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            static_cast<std::multiset<std::string>*>(data)->insert(info->dlpi_name ? info->dlpi_name
                                                                                   : "");
            return 0;
        },
        &names);
    return names;
}

/// The path of the loaded object whose file name is `name`, or "".
QString loaded_path(const QString& name)
{
    for (const std::string& path : loaded_objects()) {
        const QString p = QString::fromStdString(path);
        if (QFileInfo(p).fileName() == name)
            return p;
    }
    return QString();
}

/// The path of the dynamic loader of this process.
QString loaded_loader()
{
    for (const std::string& path : loaded_objects()) {
        const QString p = QString::fromStdString(path);
        if (QFileInfo(p).fileName().startsWith(QLatin1String("ld-linux")))
            return p;
    }
    return QString();
}

/// `image` without its section table, which the loader never reads: the header no longer points to
/// it and the file ends where the last loadable segment does.
QByteArray without_sections(QByteArray image)
{
    ElfW(Ehdr) ehdr;
    std::memcpy(&ehdr, image.constData(), sizeof ehdr);
    std::uint64_t end = 0;
    for (unsigned i = 0; i < ehdr.e_phnum; ++i) {
        ElfW(Phdr) phdr;
        std::memcpy(&phdr, image.constData() + ehdr.e_phoff + i * sizeof phdr, sizeof phdr);
        if (phdr.p_type == PT_LOAD)
            end = std::max<std::uint64_t>(end, phdr.p_offset + phdr.p_filesz);
    }
    ehdr.e_shoff = 0;
    ehdr.e_shnum = 0;
    ehdr.e_shstrndx = 0;
    std::memcpy(image.data(), &ehdr, sizeof ehdr);
    image.truncate(static_cast<qsizetype>(end));
    return image;
}

/// Restores LD_LIBRARY_PATH when it goes out of scope.
struct library_path_guard {
    QByteArray saved = qgetenv("LD_LIBRARY_PATH");
    bool had = qEnvironmentVariableIsSet("LD_LIBRARY_PATH");
    ~library_path_guard()
    {
        if (had)
            qputenv("LD_LIBRARY_PATH", saved);
        else
            qunsetenv("LD_LIBRARY_PATH");
    }
};

/// A cache file in the current format listing (name, path) pairs, preceded by the obsolete
/// table when `with_old_table`.
QByteArray make_cache(const QList<std::pair<QByteArray, QByteArray>>& entries, bool with_old_table)
{
    QByteArray prefix;
    if (with_old_table) {
        prefix = QByteArray("ld.so-1.7.0", 11);
        prefix.append('\0');
        const std::uint32_t n = 2;
        prefix.append(reinterpret_cast<const char*>(&n), 4);
        prefix.append(QByteArray(2 * 12, '\x5a')); // old entries, never read
        while (prefix.size() % 8)
            prefix.append('\0');
    }
    QByteArray header("glibc-ld.so.cache1.1", 20);
    const auto count = static_cast<std::uint32_t>(entries.size());
    QByteArray strings;
    QByteArray table;
    const std::uint32_t strings_start = 48 + count * 24;
    for (const auto& [name, path] : entries) {
        const std::int32_t flags = 0x0303;
        const std::uint32_t key = strings_start + static_cast<std::uint32_t>(strings.size());
        strings.append(name).append('\0');
        const std::uint32_t value = strings_start + static_cast<std::uint32_t>(strings.size());
        strings.append(path).append('\0');
        const std::uint32_t osversion = 0;
        const std::uint64_t hwcap = 0;
        table.append(reinterpret_cast<const char*>(&flags), 4);
        table.append(reinterpret_cast<const char*>(&key), 4);
        table.append(reinterpret_cast<const char*>(&value), 4);
        table.append(reinterpret_cast<const char*>(&osversion), 4);
        table.append(reinterpret_cast<const char*>(&hwcap), 8);
    }
    const auto string_size = static_cast<std::uint32_t>(strings.size());
    header.append(reinterpret_cast<const char*>(&count), 4);
    header.append(reinterpret_cast<const char*>(&string_size), 4);
    header.append(QByteArray(20, '\0')); // flags, padding, extension offset, unused
    return prefix + header + table + strings;
}

} // namespace

class probes_test : public QObject {
    Q_OBJECT
    const QString fixture = QStringLiteral(PROBE_FIXTURE_PATH);
    QTemporaryDir work_;
    QString sectionless_;

private slots:
    void initTestCase()
    {
        QVERIFY(work_.isValid());
        sectionless_ = work_.filePath(QStringLiteral("liblumora_probe_sectionless.so"));
        QFile f(sectionless_);
        const QByteArray image = without_sections(read_file(fixture));
        QVERIFY(image.size() < read_file(fixture).size());
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(image) == image.size());
    }

    void loaded_libraries_data()
    {
        QTest::addColumn<QString>("library");
        QTest::addColumn<QString>("function");
        QTest::addColumn<bool>("expected");
        QTest::newRow("libc printf") << "libc.so.6"
                                     << "printf" << true;
        QTest::newRow("libc data symbol") << "libc.so.6"
                                          << "environ" << true;
        QTest::newRow("libc indirect function") << "libc.so.6"
                                                << "memcpy" << true;
        QTest::newRow("libc thread-local variable") << "libc.so.6"
                                                    << "errno" << true;
        QTest::newRow("libc unknown name") << "libc.so.6"
                                           << "no_such_function_anywhere" << false;
        QTest::newRow("libc version name is no function") << "libc.so.6"
                                                          << "GLIBC_2.2.5" << false;
        QTest::newRow("libm cos") << "libm.so.6"
                                  << "cos" << true;
        QTest::newRow("a dependency's export does not count") << "libm.so.6"
                                                              << "printf" << false;
        QTest::newRow("by path") << loaded_path("libc.so.6") << "printf" << true;
#if defined(__x86_64__)
        // No file of its own, and its dynamic table holds addresses the loader did not move.
        QTest::newRow("the vDSO") << "linux-vdso.so.1"
                                  << "__vdso_clock_gettime" << true;
#endif
    }
    void loaded_libraries()
    {
        QFETCH(QString, library);
        QFETCH(QString, function);
        QFETCH(bool, expected);
        QVERIFY2(!loaded_path(QFileInfo(library).fileName()).isEmpty(), "library not loaded");
        const auto before = loaded_objects();
        QCOMPARE(lumora::of_apifunctionpresent(function, library), expected);
        QCOMPARE(
            lumora::detail::loaded_library_exports(QFile::encodeName(library), function.toUtf8()),
            std::optional<bool>(expected));
        QCOMPARE(loaded_objects(), before);
    }

    // Loading state never changes the answer: every symbol the library's own table defines (as
    // readelf lists it; a plain lookup takes a name's default version) answers true, the loader's
    // own exports and functions that resolve into the vDSO (time, gettimeofday) included.
    void every_defined_symbol_of_a_loaded_library_data()
    {
        QTest::addColumn<QString>("library");
        QTest::newRow("libc") << "libc.so.6";
        QTest::newRow("the dynamic loader") << QFileInfo(loaded_loader()).fileName();
        QTest::newRow("libm") << "libm.so.6";
        QTest::newRow("libstdc++") << "libstdc++.so.6";
        QTest::newRow("Qt6Core") << "libQt6Core.so.6";
    }
    void every_defined_symbol_of_a_loaded_library()
    {
        QFETCH(QString, library);
        const QString path = loaded_path(library);
        QVERIFY2(!path.isEmpty(), "library not loaded");
        QProcess readelf;
        readelf.start(QStringLiteral("readelf"), {"-W", "--dyn-syms", path});
        QVERIFY(readelf.waitForFinished() && readelf.exitCode() == 0);
        QStringList names;
        for (const QByteArray& line : readelf.readAllStandardOutput().split('\n')) {
            // Num: Value Size Type Bind Vis Ndx Name. The version names (ABS) are no symbols;
            // thread-local variables are (dlsym gives the calling thread's instance).
            const QList<QByteArray> f = line.simplified().split(' ');
            if (f.size() < 8 || !f[0].endsWith(':') || f[0] == "Num:" || f[6] == "UND" ||
                f[6] == "ABS" || f[3] == "SECTION" || f[3] == "FILE")
                continue;
            const QByteArray& name = f[7];
            const qsizetype at = name.indexOf('@');
            if (at < 0 || name.mid(at, 2) == "@@")
                names.append(QString::fromLatin1(at < 0 ? name : name.left(at)));
        }
        QVERIFY(names.size() > 30);
        const auto before = loaded_objects();
        for (const QString& name : std::as_const(names)) {
            if (!lumora::of_apifunctionpresent(name, library))
                QFAIL(qPrintable(name + QStringLiteral(" answers 0")));
        }
        for (const char* absent : {"no_such_function_anywhere", "printf_", "_", "GLIBC_2.2.5"}) {
            if (!names.contains(QLatin1String(absent)))
                QVERIFY2(!lumora::of_apifunctionpresent(absent, library), absent);
        }
        QCOMPARE(loaded_objects(), before);
    }

    void the_file_tells_what_memory_tells()
    {
        // For a library that is loaded, reading its file gives the same answers.
        const QString libc = loaded_path(QStringLiteral("libc.so.6"));
        QVERIFY(!libc.isEmpty());
        const QByteArray image = read_file(libc);
        for (const char* name : {"printf", "malloc", "memcpy", "environ", "__errno_location",
                                 "GLIBC_2.2.5", "_IO_stdin_used", "no_such_function", "errno"}) {
            QCOMPARE(lumora::detail::elf_exports(image, name),
                     lumora::detail::loaded_library_exports("libc.so.6", name));
        }
    }

    void libraries_not_loaded_data()
    {
        QTest::addColumn<QString>("function");
        QTest::addColumn<bool>("expected");
        QTest::newRow("exported function") << "probe_fixture_function" << true;
        QTest::newRow("exported variable") << "probe_fixture_data" << true;
        QTest::newRow("thread-local variable") << "probe_fixture_thread_local" << true;
        QTest::newRow("hidden function") << "probe_fixture_hidden" << false;
        QTest::newRow("imported function") << "abort" << false;
        QTest::newRow("unknown name") << "probe_fixture_nothing" << false;
        QTest::newRow("prefix of a name") << "probe_fixture_func" << false;
        QTest::newRow("empty name") << "" << false;
    }
    void libraries_not_loaded()
    {
        QFETCH(QString, function);
        QFETCH(bool, expected);
        const auto before = loaded_objects();
        QCOMPARE(lumora::of_apifunctionpresent(function, fixture), expected);
        // Without a section table the loader finds the same symbols, and so does the probe.
        QCOMPARE(lumora::of_apifunctionpresent(function, sectionless_), expected);

        // By name, found through LD_LIBRARY_PATH as the loader would find it.
        library_path_guard guard;
        qputenv("LD_LIBRARY_PATH", QFile::encodeName(QFileInfo(fixture).absolutePath()));
        QCOMPARE(lumora::of_apifunctionpresent(function, QStringLiteral(PROBE_FIXTURE_NAME)),
                 expected);
        QCOMPARE(loaded_objects(), before);
    }

    void a_system_library_not_loaded()
    {
        const std::pair<const char*, const char*> candidates[] = {
            {"libz.so.1", "deflate"},           {"libbz2.so.1.0", "BZ2_bzCompress"},
            {"liblzma.so.5", "lzma_code"},      {"libexpat.so.1", "XML_ParserCreate"},
            {"libuuid.so.1", "uuid_generate"},  {"libzip.so.4", "zip_open"},
            {"libsqlite3.so.0", "sqlite3_open"}};
        for (const auto& [library, function] : candidates) {
            if (!loaded_path(library).isEmpty() ||
                lumora::detail::find_library_file(library).isEmpty())
                continue;
            const auto before = loaded_objects();
            QVERIFY(lumora::of_apifunctionpresent(function, library));
            QVERIFY(!lumora::of_apifunctionpresent("no_such_function_anywhere", library));
            QCOMPARE(loaded_objects(), before);
            return;
        }
        QSKIP("no system library of the list is installed and unloaded");
    }

    void what_is_never_present_data()
    {
        QTest::addColumn<std::optional<QString>>("function");
        QTest::addColumn<std::optional<QString>>("library");
        using S = std::optional<QString>;
        QTest::newRow("null function") << S() << S("libc.so.6");
        QTest::newRow("null library") << S("printf") << S();
        QTest::newRow("empty library") << S("printf") << S("");
        QTest::newRow("library that does not exist") << S("printf") << S("liblumora_nothing.so.9");
        QTest::newRow("path that does not exist") << S("printf") << S("/nonexistent/libc.so.6");
        QTest::newRow("windows name") << S("IsWow64Process") << S("kernel32");
        QTest::newRow("a file that is no library") << S("printf") << S("/etc/passwd");
        QTest::newRow("a directory") << S("printf") << S("/usr/lib");
        QTest::newRow("zero inside a name")
            << S(QStringLiteral("printf") + QChar(0) + "x") << S("libc.so.6");
    }
    void what_is_never_present()
    {
        QFETCH(std::optional<QString>, function);
        QFETCH(std::optional<QString>, library);
        const auto before = loaded_objects();
        QCOMPARE(lumora::of_apifunctionpresent(function, library), false);
        QCOMPARE(loaded_objects(), before);
    }

    // A FIFO is never opened, whether named as the library or met in the search: opening it
    // would wait for a writer. Here a writer holds it open and has filled it, so that a probe that
    // opened it would not hang but take bytes out.
    void fifos_are_never_opened_data()
    {
        QTest::addColumn<bool>("by_path");
        QTest::addColumn<bool>("expected");
        QTest::newRow("a FIFO named as the library") << true << false;
        QTest::newRow("a FIFO before the library on LD_LIBRARY_PATH") << false << true;
    }
    void fifos_are_never_opened()
    {
        QFETCH(bool, by_path);
        QFETCH(bool, expected);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString fifo = dir.filePath(QStringLiteral(PROBE_FIXTURE_NAME));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const int writer = ::open(QFile::encodeName(fifo).constData(), O_RDWR | O_NONBLOCK);
        QVERIFY(writer >= 0);
        const QByteArray image = read_file(fixture).left(4096);
        QCOMPARE(::write(writer, image.constData(), std::size_t(image.size())), image.size());

        library_path_guard guard;
        qputenv("LD_LIBRARY_PATH",
                QFile::encodeName(dir.path() + u':' + QFileInfo(fixture).absolutePath()));
        const QString library = by_path ? fifo : QStringLiteral(PROBE_FIXTURE_NAME);
        const bool answer =
            lumora::of_apifunctionpresent(QStringLiteral("probe_fixture_function"), library);
        int left = 0;
        QCOMPARE(::ioctl(writer, FIONREAD, &left), 0);
        ::close(writer);
        QCOMPARE(answer, expected);
        QCOMPARE(left, int(image.size()));
    }

    void the_search_skips_files_for_another_machine()
    {
        QTemporaryDir foreign;
        QTemporaryDir native;
        QVERIFY(foreign.isValid() && native.isValid());
        const QString name = QStringLiteral("liblumora_probe_copy.so");
        QByteArray image = read_file(fixture);
        QVERIFY(lumora::detail::elf_compatible(image));
        QVERIFY(QFile::copy(fixture, native.filePath(name)));
        // The same library claiming another machine.
        Elf64_Half other = EM_SPARCV9;
        std::memcpy(image.data() + offsetof(ElfW(Ehdr), e_machine), &other, sizeof other);
        QVERIFY(!lumora::detail::elf_compatible(image));
        QFile f(foreign.filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(image) == image.size());
        f.close();

        library_path_guard guard;
        qputenv("LD_LIBRARY_PATH", QFile::encodeName(foreign.path() + ":" + native.path()));
        QCOMPARE(lumora::detail::find_library_file(name), native.filePath(name));
        QVERIFY(lumora::of_apifunctionpresent(QStringLiteral("probe_fixture_function"), name));
        qputenv("LD_LIBRARY_PATH", QFile::encodeName(foreign.path()));
        QCOMPARE(lumora::detail::find_library_file(name), QString());
        QVERIFY(!lumora::of_apifunctionpresent(QStringLiteral("probe_fixture_function"), name));
    }

    void the_system_cache_is_read()
    {
        const QStringList paths = lumora::detail::ld_cache_paths(
            read_file(QStringLiteral("/etc/ld.so.cache")), "libc.so.6");
        QVERIFY(!paths.isEmpty());
        QVERIFY(QFileInfo(paths.first()).fileName() == QStringLiteral("libc.so.6"));
    }

    void cache_files_data()
    {
        QTest::addColumn<QByteArray>("cache");
        QTest::addColumn<QStringList>("expected");
        const QList<std::pair<QByteArray, QByteArray>> entries = {{"liba.so.1", "/x/liba.so.1"},
                                                                  {"libb.so.2", "/x/libb.so.2"},
                                                                  {"liba.so.1", "/y/liba.so.1"}};
        const QStringList both = {"/x/liba.so.1", "/y/liba.so.1"};
        const QByteArray good = make_cache(entries, false);
        QTest::newRow("current format") << good << both;
        QTest::newRow("behind the obsolete table") << make_cache(entries, true) << both;
        QTest::newRow("empty") << QByteArray() << QStringList();
        QTest::newRow("other magic") << QByteArray("not a cache at all, no") << QStringList();
        QTest::newRow("cut in the entries") << good.left(48 + 30) << QStringList();
        // Cut in the strings: the first entry's texts are whole, the others are not.
        const qsizetype first_strings_end = 48 + 3 * 24 + 10 + 13;
        QTest::newRow("cut in the strings")
            << good.left(first_strings_end) << QStringList{"/x/liba.so.1"};
        QByteArray huge = good;
        const std::uint32_t count = 0x7fffffff;
        std::memcpy(huge.data() + 20, &count, 4);
        QTest::newRow("entry count beyond the file") << huge << QStringList();
    }
    void cache_files()
    {
        QFETCH(QByteArray, cache);
        QFETCH(QStringList, expected);
        QCOMPARE(lumora::detail::ld_cache_paths(cache, "liba.so.1"), expected);
    }

    void damaged_libraries_are_read_safely()
    {
        const QByteArray image = read_file(fixture);
        QVERIFY(!image.isEmpty());
        QCOMPARE(lumora::detail::elf_exports(image, "probe_fixture_function"),
                 std::optional<bool>(true));
        QCOMPARE(lumora::detail::elf_exports(image.left(20), "probe_fixture_function"),
                 std::nullopt);
        // Every prefix length class and random damage: no answer may come from outside the
        // bytes (the sanitizers watch), and no damage may make an unknown name appear.
        for (const qsizetype length :
             {qsizetype(64), qsizetype(65), image.size() / 2, image.size() - 1}) {
            QVERIFY(lumora::detail::elf_exports(image.left(length), "no_such_name") != true);
            lumora::detail::elf_exports(image.left(length), "probe_fixture_function");
        }
        QRandomGenerator random(4711);
        for (int round = 0; round < 3000; ++round) {
            QByteArray damaged = image;
            const int changes = 1 + random.bounded(8);
            for (int i = 0; i < changes; ++i) {
                // Mostly the header and the section table, where offsets and sizes live.
                const qsizetype at = random.bounded(2) ? random.bounded(qsizetype(64))
                                                       : random.bounded(damaged.size());
                damaged[at] = static_cast<char>(random.generate());
            }
            lumora::detail::elf_exports(damaged, "probe_fixture_function");
            QVERIFY(lumora::detail::elf_exports(damaged, "zz_no_such_name_zz") != true);
        }
    }

    void library_path_elements_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("unset") << QByteArray() << QStringList();
        QTest::newRow("two") << QByteArray("/a:/b") << QStringList{"/a", "/b"};
        QTest::newRow("semicolon") << QByteArray("/a;/b") << QStringList{"/a", "/b"};
        QTest::newRow("empty element is the current directory")
            << QByteArray("/a::/b:") << QStringList{"/a", ".", "/b", "."};
    }
    void library_path_elements()
    {
        QFETCH(QByteArray, value);
        QFETCH(QStringList, expected);
        QCOMPARE(lumora::detail::library_path_directories(value), expected);
    }

    void sixty_four_bit_answers_data()
    {
        QTest::addColumn<QByteArray>("machine");
        QTest::addColumn<QString>("answer");
        QTest::newRow("x86_64") << QByteArray("x86_64") << "64bits";
        QTest::newRow("ia64") << QByteArray("ia64") << "64bits";
        QTest::newRow("i686") << QByteArray("i686") << "32bits";
        QTest::newRow("armv7l") << QByteArray("armv7l") << "32bits";
        QTest::newRow("aarch64, another architecture") << QByteArray("aarch64") << "32bits";
        QTest::newRow("unknown") << QByteArray("") << "32bits";
    }
    void sixty_four_bit_answers()
    {
        QFETCH(QByteArray, machine);
        QFETCH(QString, answer);
        lumora::blniswin64bit = answer != QLatin1String("64bits"); // the call must set it anew
        QCOMPARE(lumora::detail::infoversion64bit(machine), answer);
        QCOMPARE(lumora::blniswin64bit.load(), answer == QLatin1String("64bits"));
    }

    void this_system_data()
    {
        QTest::addColumn<bool>("linux32");
        QTest::newRow("native personality") << false;
        QTest::newRow("32-bit personality, as setarch i686 sets") << true;
    }
    void this_system()
    {
#if defined(__x86_64__)
        QFETCH(bool, linux32);
        const int previous = personality(0xffffffff);
        QVERIFY(previous != -1);
        if (linux32)
            QVERIFY(personality(PER_LINUX32) != -1);
        utsname name{};
        uname(&name);
        const QByteArray machine(name.machine);
        lumora::blniswin64bit = false;
        const QString answer = lumora::of_infoversion64bit();
        personality(static_cast<unsigned long>(previous));
        QCOMPARE(machine, linux32 ? QByteArray("i686") : QByteArray("x86_64"));
        QCOMPARE(answer, QStringLiteral("64bits"));
        QVERIFY(lumora::blniswin64bit);
#else
        QSKIP("the answer for this machine is covered by sixty_four_bit_answers");
#endif
    }

    void record_structures_data()
    {
        QTest::addColumn<const QMetaObject*>("definition");
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<QString>("type");
        QTest::addColumn<qint32>("size");
        const QStringList version = {"dwosversioninfosize", "dwmajorversion", "dwminorversion",
                                     "dwbuildnumber",       "dwplatformid",   "szcsdversion"};
        QTest::newRow("osversioninfo")
            << &lumora::osversioninfo::staticMetaObject << version << "string" << 24;
        QTest::newRow("osversioninfoex")
            << &lumora::osversioninfoex::staticMetaObject
            << version + QStringList{"wservicepackmajor", "wservicepackminor", "wsuitemask",
                                     "wproducttype", "wreserved"}
            << "string" << 44;
        QTest::newRow("sys_time") << &lumora::sys_time::staticMetaObject
                                  << QStringList{"year", "month", "dayweek", "day",
                                                 "hour", "min",   "sec",     "millsec"}
                                  << "uint" << 16;
        QTest::newRow("system_info") << &lumora::system_info::staticMetaObject
                                     << QStringList{"wprocessorarchitecture",
                                                    "wreserved",
                                                    "dwpagesize",
                                                    "lpminimumapplicationaddress",
                                                    "lpmaximumapplicationaddress",
                                                    "dwactiveprocessormask",
                                                    "dwnumberofprocessors",
                                                    "dwprocessortype",
                                                    "dwallocationgranularity",
                                                    "wprocessorlevel",
                                                    "wprocessorrevision"}
                                     << "long" << 44;
    }
    void record_structures()
    {
        QFETCH(const QMetaObject*, definition);
        QFETCH(QStringList, fields);
        QFETCH(QString, type);
        QFETCH(qint32, size);
        const auto list = lumora::variable_list(*definition);
        QStringList names;
        for (std::size_t i = 1; i < list.size(); ++i) {
            names << list[i].name;
            QCOMPARE(list[i].data_type, type);
        }
        QCOMPARE(names, fields);
        QCOMPARE(lumora::n_cst_numerical().of_sizeof(list), size);
    }
};

QTEST_GUILESS_MAIN(probes_test)
#include "probes_test.moc"
