// The bit functions, system probes and colour getters through the C ABI, as a host uses them:
// liblumora.so opened with dlopen, every function looked up by its own name.

#include <lumora/lumora_c.h>

#include <QTest>

#include <dlfcn.h>

class bits_probes_colors_capi_test : public QObject {
    Q_OBJECT

    void* handle_ = nullptr;

    template <typename F> F fn(const char* name)
    {
        void* f = dlsym(handle_, name);
        if (!f)
            qFatal("%s is not exported", name);
        return reinterpret_cast<F>(f);
    }

    int last_error() { return fn<int (*)()>("lumora_last_error")(); }

private slots:
    void initTestCase()
    {
        handle_ = dlopen(LUMORA_PATH, RTLD_NOW | RTLD_LOCAL);
        QVERIFY2(handle_, dlerror());
    }
    void cleanupTestCase() { dlclose(handle_); }

    void bit_functions_data()
    {
        QTest::addColumn<QByteArray>("function");
        QTest::addColumn<quint32>("a");
        QTest::addColumn<qint32>("b");
        QTest::addColumn<quint32>("expected");
        QTest::addColumn<int>("error");
        QTest::newRow("and") << QByteArray("uf_bitand") << 12u << 10 << 8u << int(lumora_ok);
        QTest::newRow("or") << QByteArray("uf_bitor") << 12u << 10 << 14u << int(lumora_ok);
        QTest::newRow("xor") << QByteArray("uf_bitxor") << 65537u << 1 << 0u << int(lumora_ok);
        QTest::newRow("shl") << QByteArray("uf_bitshl") << 3u << 31 << 2147483648u
                             << int(lumora_ok);
        QTest::newRow("shl negative")
            << QByteArray("uf_bitshl") << 5u << -1 << 0u << int(lumora_ok);
        QTest::newRow("shr") << QByteArray("uf_bitshr") << 4294967295u << 30 << 3u
                             << int(lumora_ok);
        QTest::newRow("shr negative")
            << QByteArray("uf_bitshr") << 5u << -1 << 0u << int(lumora_division_by_zero);
    }
    void bit_functions()
    {
        QFETCH(QByteArray, function);
        QFETCH(quint32, a);
        QFETCH(qint32, b);
        QFETCH(quint32, expected);
        QFETCH(int, error);
        quint32 result = 0;
        if (function.endsWith("shl") || function.endsWith("shr"))
            result = fn<uint32_t (*)(uint32_t, int16_t)>(function)(a, static_cast<int16_t>(b));
        else
            result = fn<uint32_t (*)(uint32_t, uint32_t)>(function)(a, static_cast<quint32>(b));
        QCOMPARE(result, expected);
        QCOMPARE(last_error(), error);
    }

    void an_error_lasts_until_the_next_call()
    {
        const auto shr = fn<uint32_t (*)(uint32_t, int16_t)>("uf_bitshr");
        shr(1, -3);
        QCOMPARE(last_error(), int(lumora_division_by_zero));
        QCOMPARE(last_error(), int(lumora_division_by_zero));
        QCOMPARE(fn<uint32_t (*)(uint32_t, uint32_t)>("uf_bitand")(3, 1), 1u);
        QCOMPARE(last_error(), int(lumora_ok));
    }

    void probes()
    {
        const auto present = fn<int (*)(const char*, const char*)>("of_apifunctionpresent");
        QCOMPARE(present("printf", "libc.so.6"), 1);
        QCOMPARE(present("no_such_function_anywhere", "libc.so.6"), 0);
        QCOMPARE(present("\xef\xbb\xbfprintf", "libc.so.6"), 0); // U+FEFF is part of the name
        QCOMPARE(present(nullptr, "libc.so.6"), 0);
        QCOMPARE(present("printf", nullptr), 0);
        QCOMPARE(last_error(), int(lumora_ok));

        char* answer = fn<char* (*)()>("of_infoversion64bit")();
        QVERIFY(answer);
        const QByteArray text(answer);
        fn<void (*)(char*)>("lumora_free")(answer);
        QVERIFY(text == "64bits" || text == "32bits");
        QCOMPARE(fn<int (*)()>("lumora_blniswin64bit")(), text == "64bits" ? 1 : 0);
#if defined(__x86_64__)
        QCOMPARE(text, QByteArray("64bits"));
#endif
    }

    void colour_getters()
    {
        const auto set = fn<int (*)(int, int32_t)>("lumora_host_set_color");
        const auto clear = fn<int (*)(int)>("lumora_host_clear_color");
        const auto shqj = fn<int (*)(int16_t*)>("get_shqj");
        const auto dhbj = fn<int (*)(int32_t*)>("get_dhbj");

        QCOMPARE(set(lumora_sh_qj_color, 0x00ff8040), 1);
        int16_t low = 0;
        QCOMPARE(shqj(&low), 1);
        QCOMPARE(low, int16_t(-32704));
        QCOMPARE(shqj(nullptr), 1);

        QCOMPARE(set(lumora_dh_bj_color, 0x00ff8040), 1);
        int32_t full = 0;
        QCOMPARE(dhbj(&full), 1);
        QCOMPARE(full, 0x00ff8040);

        QCOMPARE(clear(lumora_dh_bj_color), 1);
        full = 17;
        QCOMPARE(dhbj(&full), 0);
        QCOMPARE(full, 17); // left alone

        for (const char* getter : {"get_shbj", "get_xzbj", "get_xzqj", "get_dhqj"}) {
            int32_t v = 0;
            QCOMPARE(fn<int (*)(int32_t*)>(getter)(&v), 0);
        }
        QCOMPARE(set(6, 1), -1);
        QCOMPARE(set(-1, 1), -1);
        QCOMPARE(clear(99), -1);
    }
};

QTEST_APPLESS_MAIN(bits_probes_colors_capi_test)
#include "bits_probes_colors_capi_test.moc"
