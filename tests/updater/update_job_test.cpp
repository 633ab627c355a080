// The update procedure against real update servers: SQLite and the suite's PostgreSQL.

#include "connection.h"
#include "install_step.h"
#include "random_bytes.h"
#include "recording_view.h"
#include "staged_install.h"
#include "test_files.h"
#include "texts.h"
#include "update_job.h"
#include "update_job_p.h"
#include "update_server.h"
#include "update_server_fixture.h"

#include <rt/value/decimal.h>
#include <rt/value/format_version.h>
#include <rt/value/profile.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>

using namespace qorv;
using namespace qorv::test;

namespace {

/// A value that announces `announced` bytes and delivers `data` in pieces of at most `piece`.
class fake_reader : public rt::blob_reader {
public:
    fake_reader(QByteArray data, qint64 announced, qint64 piece)
        : data_(std::move(data)), announced_(announced), piece_(piece)
    {
    }
    std::int64_t size() const override { return announced_; }
    bool is_null() const override { return false; }
    std::int64_t read(std::span<std::byte> buffer) override
    {
        const qint64 n = std::min({piece_, qint64(buffer.size()), data_.size() - at_});
        std::memcpy(buffer.data(), data_.constData() + at_, std::size_t(n));
        at_ += n;
        return n;
    }

private:
    QByteArray data_;
    qint64 announced_, piece_, at_ = 0;
};

const QByteArray installed_ini =
    "; settings of this installation\r\n[qorv]\r\nservername=abc\r\nver=\"1.0\"\r\n"
    "[other]\r\nkey=value\r\n";

} // namespace

class update_job_test : public QObject {
    Q_OBJECT

private:
    void add_backend_rows(const char* name, const QList<QVariant>& values)
    {
        for (const char* backend : {"sqlite", "postgresql", "odbc", "pgbouncer"}) {
            QTestData& row = QTest::addRow("%s: %s", backend, name) << QString::fromLatin1(backend);
            for (const QVariant& v : values)
                row.append(v.metaType().id(), v.constData());
        }
    }

private slots:
    void files_are_written_in_order_chunk_by_chunk_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QStringList>("names"); // in the order they are stored
        QTest::addColumn<QList<qsizetype>>("sizes");
        QTest::addColumn<QStringList>("expected_order");

        const auto row = [this](const char* name, QStringList names, QList<qsizetype> sizes,
                                QStringList order) {
            add_backend_rows(name, {names, QVariant::fromValue(sizes), order});
        };
        row("one byte", {"qorv.exe"}, {1}, {"qorv.exe"});
        row("exactly one chunk", {"a.dll"}, {32765}, {"a.dll"});
        row("one byte over one chunk", {"a.dll"}, {32766}, {"a.dll"});
        row("a few megabytes", {"data.pak"}, {3 * 1024 * 1024 + 7}, {"data.pak"});
        row("ascending order with a subdirectory", {"c.bin", "lib/x.dll", "b.txt", "lib\\y.dll"},
            {10, 20, 30, 40}, {"b.txt", "c.bin", "lib/x.dll", "lib\\y.dll"});
        row("chinese names", {"考务/成绩单.xlsx", "说明.txt"}, {100000, 5},
            {"考务/成绩单.xlsx", "说明.txt"});
    }

    void files_are_written_in_order_chunk_by_chunk()
    {
        QFETCH(QString, backend);
        QFETCH(QStringList, names);
        QFETCH(QList<qsizetype>, sizes);
        QFETCH(QStringList, expected_order);

        update_server_fixture server(backend);
        NEED(server);
        QList<server_file> files;
        for (qsizetype i = 0; i < names.size(); ++i) {
            files.append({names[i], QStringLiteral("1.3"), random_bytes(sizes[i], i + 1)});
            // The same name in other versions must not be taken instead.
            files.append({names[i], QStringLiteral("1.2"), QByteArray("old")});
            files.append({names[i], QStringLiteral("1.25"), QByteArray("other")});
        }
        QVERIFY(server.add(files));
        QDir(server.install_dir()).mkpath(QStringLiteral("lib"));
        QDir(server.install_dir()).mkpath(QStringLiteral("考务"));
        QVERIFY(write_file(server.ini_file(), installed_ini));
        // An existing file is replaced, never appended to.
        QVERIFY(write_file(QDir(server.install_dir()).filePath(names[0].replace('\\', '/')),
                           QByteArray(70000, 'x')));

        auto sqlca = server.connect();
        QVERIFY(sqlca);
        update_server statements(*sqlca);
        recording_view view;
        message_log log;
        QCOMPARE(run_update(statements, QStringLiteral("1.3"), server.install_dir(),
                            server.ini_file(), view),
                 job_result::updated);

        QCOMPARE(view.file_names, expected_order);
        QCOMPARE(log.messages.size(), 1);
        QCOMPARE(log.messages[0].title, texts::title_notice);
        QCOMPARE(log.messages[0].text, texts::update_succeeded);
        QVERIFY(view.begun && view.ended);
        QCOMPARE(view.installed, QStringLiteral("1.3"));

        const qsizetype count = names.size();
        qsizetype yields = 0;
        for (qsizetype n = 0; n < count; ++n)
            QCOMPARE(view.files_lines[n], texts::files_line(count, n + 1));
        for (qsizetype i = 0; i < count; ++i) {
            const QString stored = names[i];
            QFile f(QDir(server.install_dir()).filePath(QString(stored).replace('\\', '/')));
            QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(f.fileName()));
            QCOMPARE(f.readAll(), random_bytes(sizes[i], i + 1));
            yields += 1 + (sizes[i] + chunk_size - 1) / chunk_size;
        }
        // One yield per file and one per chunk; the bar counts the chunks of each file.
        QCOMPARE(view.yields, yields);
        for (qsizetype i = 0; i < count; ++i) {
            const qsizetype chunks =
                (sizes[names.indexOf(expected_order[i])] + chunk_size - 1) / chunk_size;
            QVERIFY(view.progress.contains(std::pair<qint64, qint64>(chunks, chunks)));
        }
        QCOMPARE(view.statuses.last(), texts::storing_line(count));

        // The version is recorded in quotes; everything else in qorv.ini stays as it was.
        QFile ini(server.ini_file());
        QVERIFY(ini.open(QIODevice::ReadOnly));
        QCOMPARE(ini.readAll(), QByteArray(installed_ini).replace("ver=\"1.0\"", "ver=\"1.3\""));
        QCOMPARE(read_settings(server.ini_file()).ver, QStringLiteral("1.3"));
        // No temporary or replaced file is left behind.
        for (const QString& path : tree_contents(server.install_dir()).keys())
            QVERIFY2(!path.contains(QLatin1String(".qorv-")), qPrintable(path));
    }

    void exactly_the_announced_size_is_written_data()
    {
        QTest::addColumn<qsizetype>("delivered");
        QTest::addColumn<qsizetype>("announced");
        QTest::addColumn<qsizetype>("piece"); // largest piece one read delivers
        QTest::addColumn<bool>("accepted");
        QTest::newRow("whole reads")
            << qsizetype(100000) << qsizetype(100000) << qsizetype(1 << 20) << true;
        QTest::newRow("small pieces across chunks")
            << qsizetype(100000) << qsizetype(100000) << qsizetype(1000) << true;
        QTest::newRow("odd pieces")
            << qsizetype(70001) << qsizetype(70001) << qsizetype(32764) << true;
        QTest::newRow("one byte short in small pieces")
            << qsizetype(99999) << qsizetype(100000) << qsizetype(1000) << false;
        QTest::newRow("half delivered")
            << qsizetype(50000) << qsizetype(100000) << qsizetype(1 << 20) << false;
        QTest::newRow("longer than announced")
            << qsizetype(100001) << qsizetype(100000) << qsizetype(1 << 20) << false;
    }

    void exactly_the_announced_size_is_written()
    {
        QFETCH(qsizetype, delivered);
        QFETCH(qsizetype, announced);
        QFETCH(qsizetype, piece);
        QFETCH(bool, accepted);
        QTemporaryDir dir;
        const QByteArray data = random_bytes(delivered, 3);
        fake_reader reader(data, announced, piece);
        staged_install files(dir.path());
        QVERIFY(files.begin_file(dir.filePath(QStringLiteral("a.dll"))));
        rt::transaction sqlca;
        recording_view view;
        message_log log;
        const job_result result = detail::store_file(reader, files, sqlca, view);
        if (!accepted) {
            QCOMPARE(result, job_result::failed);
            QCOMPARE(log.messages.size(), 1);
            QCOMPARE(log.messages[0].text, texts::download_failed);
            return;
        }
        QCOMPARE(result, job_result::updated);
        QVERIFY(files.end_file());
        QVERIFY(files.commit());
        files.finish();
        QFile f(dir.filePath(QStringLiteral("a.dll")));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), data);
    }

    void a_failure_leaves_the_installation_untouched_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QList<int>>("sizes"); // -1: a null value
        QTest::addColumn<int>("close_at_yield");
        QTest::addColumn<QString>("message"); // empty: none

        const auto row = [this](const char* name, QStringList names, QList<int> sizes, int close_at,
                                QString message) {
            add_backend_rows(name, {names, QVariant::fromValue(sizes), close_at, message});
        };
        const QString download = texts::download_failed;
        const QString create = texts::create_failed;
        row("empty contents of the second file", {"a.dll", "b.dll", "c.dll"}, {40000, 0, 5}, 0,
            download);
        row("null contents of the third file", {"a.dll", "b.dll", "c.dll"}, {40000, 5, -1}, 0,
            download);
        row("missing subdirectory of the second file", {"a.dll", "nodir/b.dll", "x.dll"},
            {40000, 5, 5}, 0, create);
        row("a directory in the way", {"a.dll", "lib"}, {40000, 5}, 0, create);
        row("parent directory", {"a.dll", "../evil.dll"}, {5, 5}, 0, create);
        row("parent directory with backslashes", {"a.dll", "lib\\..\\..\\evil.dll"}, {5, 5}, 0,
            create);
        row("absolute path", {"/tmp/qorv-evil.dll"}, {5}, 0, create);
        row("drive letter", {"C:\\evil.dll"}, {5}, 0, create);
        row("empty component", {"lib//evil.dll"}, {5}, 0, create);
        row("escape through a symbolic link", {"a.dll", "outside/evil.dll"}, {5, 5}, 0, create);
        row("window closed before the first file", {"a.dll", "b.dll"}, {5, 5}, 1, QString());
        row("window closed during a chunk", {"a.dll", "b.dll"}, {100000, 5}, 3, QString());
        row("window closed before the last file", {"a.dll", "b.dll"}, {100000, 5}, 6, QString());
    }

    void a_failure_leaves_the_installation_untouched()
    {
        QFETCH(QString, backend);
        QFETCH(QStringList, names);
        QFETCH(QList<int>, sizes);
        QFETCH(int, close_at_yield);
        QFETCH(QString, message);

        update_server_fixture server(backend);
        NEED(server);
        QList<server_file> files;
        for (qsizetype i = 0; i < names.size(); ++i)
            files.append({names[i], QStringLiteral("2"),
                          sizes[i] < 0 ? QByteArray() : random_bytes(sizes[i], i + 7)});
        QVERIFY(server.add(files));

        const QDir install(server.install_dir());
        QTemporaryDir outside;
        install.mkpath(QStringLiteral("lib"));
        QVERIFY(QFile::link(outside.path(), install.filePath(QStringLiteral("outside"))));
        QVERIFY(write_file(server.ini_file(), installed_ini));
        QVERIFY(write_file(install.filePath(QStringLiteral("a.dll")), "installed a"));
        QVERIFY(write_file(install.filePath(QStringLiteral("b.dll")), "installed b"));
        QVERIFY(write_file(install.filePath(QStringLiteral("lib/keep.txt")), "keep"));
        const auto before = tree_contents(install.path());

        auto sqlca = server.connect();
        QVERIFY(sqlca);
        update_server statements(*sqlca);
        recording_view view;
        view.close_at_yield = close_at_yield;
        message_log log;
        const job_result result =
            run_update(statements, QStringLiteral("2.0"), install.path(), server.ini_file(), view);

        QCOMPARE(result, message.isEmpty() ? job_result::cancelled : job_result::failed);
        if (message.isEmpty()) {
            QVERIFY(log.messages.isEmpty());
        } else {
            QCOMPARE(log.messages.size(), 1);
            QCOMPARE(log.messages[0].title, texts::title_error);
            QCOMPARE(log.messages[0].text, message);
            QCOMPARE(log.messages[0].icon, rt::icon::stop);
        }
        QCOMPARE(tree_contents(install.path()), before);
        QVERIFY(QDir(outside.path()).isEmpty());
        QVERIFY(!QFile::exists(QStringLiteral("/tmp/qorv-evil.dll")));
        QVERIFY(!view.ended);
    }

    void what_cannot_be_cleaned_up_is_reported()
    {
        update_server_fixture server(QStringLiteral("sqlite"));
        QVERIFY(server.add({{"a.dll", "2", QByteArray(100000, 'a')}}));
        auto sqlca = server.connect();
        update_server statements(*sqlca);
        recording_view view;
        const QDir install(server.install_dir());
        // During the download the temporary file becomes a directory that cannot be removed.
        view.on_yield = [&] {
            if (view.yields != 3)
                return;
            const QStringList found = install.entryList({".qorv-n-*"}, QDir::Files | QDir::Hidden);
            QCOMPARE(found.size(), 1);
            QVERIFY(QFile::remove(install.filePath(found[0])));
            QVERIFY(install.mkpath(found[0] + QStringLiteral("/x")));
        };
        view.close_at_yield = 4;
        message_log log;
        QCOMPARE(
            run_update(statements, QStringLiteral("2.0"), install.path(), server.ini_file(), view),
            job_result::cancelled);
        QCOMPARE(log.messages.size(), 1);
        QCOMPARE(log.messages[0].title, texts::title_error);
        QVERIFY2(log.messages[0].text.contains(QLatin1String(".qorv-n-")),
                 qPrintable(log.messages[0].text));
    }

    void reserved_names_fail_before_anything_is_written_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("the journal") << ".qorv-journal";
        QTest::newRow("the journal's scratch copy in a directory") << "lib/.qorv-journal.new";
        QTest::newRow("a new file's scratch name") << ".qorv-n-0000abcd";
        QTest::newRow("a replaced file's scratch name") << "lib\\.qorv-o-0000ABCD";
        QTest::newRow("an earlier updater's temporary") << ".a.dll.qorv-new-0000abcd";
    }
    void reserved_names_fail_before_anything_is_written()
    {
        QFETCH(QString, name);
        update_server_fixture server(QStringLiteral("sqlite"));
        // Sorted first and last around the reserved one, so that it is met mid-way.
        QVERIFY(server.add(
            {{"+first.dll", "2", "first"}, {name, "2", "x"}, {"~last.dll", "2", "last"}}));
        QVERIFY(QDir(server.install_dir()).mkpath(QStringLiteral("lib")));
        QVERIFY(write_file(server.ini_file(), installed_ini));
        const auto before = tree_contents(server.install_dir());
        auto sqlca = server.connect();
        update_server statements(*sqlca);
        recording_view view;
        message_log log;
        QCOMPARE(run_update(statements, QStringLiteral("2.0"), server.install_dir(),
                            server.ini_file(), view),
                 job_result::failed);
        QCOMPARE(log.messages.size(), 1);
        QCOMPARE(log.messages[0].text, texts::reserved_name(name));
        QVERIFY(view.file_names.isEmpty()); // refused before the first file
        QCOMPARE(tree_contents(server.install_dir()), before);
    }

    void a_linked_qorv_ini_stays_a_link()
    {
        update_server_fixture server(QStringLiteral("sqlite"));
        QVERIFY(server.add({{"a.dll", "2", "a"}}));
        QTemporaryDir elsewhere;
        const QString real = elsewhere.filePath(QStringLiteral("qorv.ini"));
        QVERIFY(write_file(real, installed_ini));
        QVERIFY(QFile::link(real, server.ini_file()));
        auto sqlca = server.connect();
        update_server statements(*sqlca);
        recording_view view;
        message_log log;
        QCOMPARE(run_update(statements, QStringLiteral("2.0"), server.install_dir(),
                            server.ini_file(), view),
                 job_result::updated);
        QCOMPARE(QFileInfo(server.ini_file()).symLinkTarget(), real);
        QCOMPARE(read_settings(real).ver, QStringLiteral("2.0"));
        // Replaced in its own directory: nothing is left there or in the installation.
        QCOMPARE(QDir(elsewhere.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{"qorv.ini"});
        QCOMPARE(tree_contents(server.install_dir()).keys(), (QStringList{"a.dll", "qorv.ini"}));
    }

    void a_failed_move_is_reported_with_the_reason()
    {
        update_server_fixture server(QStringLiteral("sqlite"));
        QVERIFY(server.add({{"a.dll", "2", "new a"}}));
        QVERIFY(write_file(server.ini_file(), installed_ini));
        static QString target;
        target = QDir(server.install_dir()).filePath(QStringLiteral("a.dll"));
        // When the moves begin, a directory has taken the file's place.
        detail::set_step_hook([](const char* step) {
            if (std::strcmp(step, "sync") == 0)
                QDir().mkpath(target + QStringLiteral("/x"));
        });
        auto sqlca = server.connect();
        update_server statements(*sqlca);
        recording_view view;
        message_log log;
        const job_result result = run_update(statements, QStringLiteral("2.0"),
                                             server.install_dir(), server.ini_file(), view);
        detail::set_step_hook(nullptr);
        QCOMPARE(result, job_result::failed);
        QCOMPARE(log.messages.size(), 1);
        QCOMPARE(log.messages[0].text,
                 texts::move_failed(target, QString::fromLocal8Bit(std::strerror(EISDIR))));
        QCOMPARE(read_settings(server.ini_file()).ver, QStringLiteral("1.0"));
    }

    void a_version_without_files_is_recorded()
    {
        update_server_fixture server(QStringLiteral("sqlite"));
        QVERIFY(server.valid());
        QVERIFY(server.add({{QStringLiteral("a.dll"), QStringLiteral("1.0"), "a"}}));
        auto sqlca = server.connect();
        update_server statements(*sqlca);
        recording_view view;
        message_log log;
        QCOMPARE(run_update(statements, QStringLiteral("2.5"), server.install_dir(),
                            server.ini_file(), view),
                 job_result::updated);
        QVERIFY(view.file_names.isEmpty());
        QVERIFY(view.statuses.isEmpty());
        QCOMPARE(log.messages.size(), 1);
        QCOMPARE(read_settings(server.ini_file()).ver, QStringLiteral("2.5"));
    }

    void a_database_error_is_reported_with_its_number_data()
    {
        QTest::addColumn<QString>("backend");
        add_backend_rows("table gone", {});
    }

    void a_database_error_is_reported_with_its_number()
    {
        QFETCH(QString, backend);
        update_server_fixture server(backend);
        NEED(server);
        auto sqlca = server.connect();
        QVERIFY(sqlca);
        QVERIFY(sqlca->execute(QStringLiteral("drop table t_file")) >= 0);
        update_server statements(*sqlca);
        recording_view view;
        message_log log;
        QCOMPARE(run_update(statements, QStringLiteral("1.0"), server.install_dir(),
                            server.ini_file(), view),
                 job_result::failed);
        QCOMPARE(log.messages.size(), 1);
        QCOMPARE(log.messages[0].title, texts::title_database_error);
        QVERIFY(log.messages[0].text.startsWith(QStringLiteral("错误号：") +
                                                QString::number(sqlca->sqldbcode) + QChar(13)));
        QVERIFY(log.messages[0].text.size() > 6);
        QVERIFY(!QFile::exists(server.ini_file()));
    }

    void newest_version_compares_numbers_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QString>("local");
        QTest::addColumn<QString>("newest"); // empty: none offered

        const auto row = [this](const char* name, const char* local, const char* newest) {
            add_backend_rows(name, {QString::fromUtf8(local), QString::fromUtf8(newest)});
        };
        row("empty local version", "", "10.0");
        row("local version not a number", "v1.2", "10.0");
        row("older local version", "1.0", "10.0");
        row("ten is newer than nine and a half", "9.5", "10.0");
        row("up to date", "10", "");
        row("newer than the server", "11.25", "");
        row("three decimals", "1.2", "10.0");
    }

    void newest_version_compares_numbers()
    {
        QFETCH(QString, backend);
        QFETCH(QString, local);
        QFETCH(QString, newest);
        update_server_fixture server(backend);
        NEED(server);
        QVERIFY(server.add({{"a", "1.0", "a"},
                            {"a", "1.25", "a"},
                            {"a", "9.5", "a"},
                            {"b", "10", "b"},
                            {"a", "1.125", "a"}}));
        auto sqlca = server.connect();
        update_server statements(*sqlca);
        const auto found =
            statements.newest_version(rt::decimal::from_text(local).value_or(rt::decimal()));
        QVERIFY(sqlca->sqlcode >= 0);
        if (newest.isEmpty()) {
            QVERIFY(!found);
            QCOMPARE(sqlca->sqlcode, 100L);
        } else {
            QVERIFY(found);
            QCOMPARE(rt::format_version(*found), newest);
            // The displayed text selects the rows of that version.
            QCOMPARE(statements.file_count(rt::format_version(*found)), std::optional<qint64>(1));
        }
    }
};

QTEST_GUILESS_MAIN(update_job_test)
#include "update_job_test.moc"
