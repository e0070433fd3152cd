#include "param_cipher.h"
#include "param_codec.h"
#include "signon_parameter.h"
#include "tnw_selvane_openssl.h"

#include <QProcess>
#include <QtTest>

#include <optional>
#include <vector>

namespace {

const QString agent_key_hex = QStringLiteral("37717769726c2e7a656e626f2e6b6174");

// The openssl tool as the independent implementation: "enc" with AES-128-CBC, key and IV
// given in hex, the input on stdin.
bool openssl_enc(const QStringList& direction, const QByteArray& input, QByteArray& output,
                 const QString& key_hex = agent_key_hex)
{
    QProcess tool;
    tool.start(QStringLiteral("openssl"),
               QStringList{"enc"} + direction +
                   QStringList{"-aes-128-cbc", "-K", key_hex, "-iv", key_hex});
    if (!tool.waitForStarted(30000))
        return false;
    tool.write(input);
    tool.closeWriteChannel();
    if (!tool.waitForFinished(60000) || tool.exitStatus() != QProcess::NormalExit ||
        tool.exitCode() != 0)
        return false;
    output = tool.readAllStandardOutput();
    return true;
}

// The step made to fail (or, for final_length, to miscount) through the cipher's seam, and
// the contexts the library made and the cipher freed meanwhile.
using tnw_param_cipher::step;
std::optional<step> failing;
int contexts_made = 0;
int contexts_freed = 0;

int injected(step at, int result)
{
    if (at == step::context && result == 1)
        ++contexts_made;
    if (at == step::release)
        ++contexts_freed;
    if (failing != at)
        return result;
    return at == step::final_length ? result - 1 : 0;
}

enum failing_step
{
    fail_none,
    fail_context,
    fail_cipher,
    fail_init,
    fail_update,
    fail_final,
    fail_count
};

} // namespace

class tst_crypto : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void encrypt_data();
    void encrypt();
    void known_answer_data();
    void known_answer();
    void decrypt_round_trip_data();
    void decrypt_round_trip();
    void decrypt_rejects_data();
    void decrypt_rejects();
    void injected_failure_data();
    void injected_failure();

    void codec_data();
    void codec();
    void codec_round_trips_every_byte();
    void decode_rejects_data();
    void decode_rejects();

    void time_stamp_data();
    void time_stamp();
};

void tst_crypto::cleanup()
{
    tnw_param_cipher::set_step_filter(nullptr);
}

void tst_crypto::encrypt_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("capacity"); // 0: the three-argument call with the flow's area
    QTest::addColumn<int>("result");
    QTest::addColumn<QByteArray>("plain");

    const QByteArray hangul("userId=\xea\xb9\x80\xeb\xaf\xbc\xec\xa4\x80&currentTime=2024-01-31 "
                            "09:05:07");
    QTest::newRow("an empty input gives one block of padding")
        << QByteArray() << 0 << 16 << QByteArray();
    QTest::newRow("one byte gives one block") << QByteArray("a") << 0 << 16 << QByteArray("a");
    QTest::newRow("15 bytes give one block")
        << QByteArray(15, 'b') << 0 << 16 << QByteArray(15, 'b');
    QTest::newRow("16 bytes get a whole extra block")
        << QByteArray(16, 'c') << 0 << 32 << QByteArray(16, 'c');
    QTest::newRow("an embedded NUL stops the input")
        << QByteArray("abc\0def", 7) << 0 << 16 << QByteArray("abc");
    QTest::newRow("non-ASCII text is encrypted over its UTF-8 bytes")
        << hangul << 0 << 64 << hangul;
    QTest::newRow("8191 bytes fill the flow's area exactly")
        << QByteArray(8191, 'd') << 0 << 8192 << QByteArray(8191, 'd');
    QTest::newRow("8192 bytes do not fit the flow's area")
        << QByteArray(8192, 'e') << 0 << -1 << QByteArray();
    QTest::newRow("20000 bytes do not fit the flow's area")
        << QByteArray(20000, 'f') << 0 << -1 << QByteArray();
    QTest::newRow("8192 bytes fit an area sized from the input")
        << QByteArray(8192, 'e') << tnw_param_cipher::ciphertext_size(8192) << 8208
        << QByteArray(8192, 'e');
    QTest::newRow("20000 bytes fit an area sized from the input")
        << QByteArray(20000, 'f') << tnw_param_cipher::ciphertext_size(20000) << 20016
        << QByteArray(20000, 'f');
    QTest::newRow("an area of exactly the ciphertext's size suffices")
        << QByteArray(16, 'g') << 32 << 32 << QByteArray(16, 'g');
    QTest::newRow("an area one byte short is not written")
        << QByteArray(16, 'g') << 31 << -1 << QByteArray();
    QTest::newRow("an area of no bytes is not written") << QByteArray() << -5 << -1 << QByteArray();
}

void tst_crypto::encrypt()
{
    QFETCH(QByteArray, input);
    QFETCH(int, capacity);
    QFETCH(int, result);

    const int size = capacity == 0 ? tnw_selvane_openssl::area_size : qMax(capacity, 0);
    // Exactly the area on the heap: a write past its end is an error under ASan.
    std::vector<unsigned char> first(size_t(size), 0xa5);
    std::vector<unsigned char> second(size_t(size), 0xa5);
    tnw_selvane_openssl encryptor;
    // The flow passes the character count; only the NUL may end the input.
    const int characters = QString::fromUtf8(input).size();
    auto run = [&](std::vector<unsigned char>& area) {
        return capacity == 0
                   ? encryptor.encrypt(input.constData(), characters, area.data())
                   : encryptor.encrypt(input.constData(), characters, area.data(), capacity);
    };
    QCOMPARE(run(first), result);
    QCOMPARE(run(second), result);

    const int used = qMax(result, 0);
    QVERIFY(
        std::all_of(first.begin() + used, first.end(), [](unsigned char b) { return b == 0xa5; }));
    if (result < 0)
        return;
    QVERIFY(first == second);
    QByteArray decrypted;
    QVERIFY(openssl_enc({"-d"}, QByteArray(reinterpret_cast<const char*>(first.data()), result),
                        decrypted));
    QTEST(decrypted, "plain");
}

void tst_crypto::known_answer_data()
{
    QTest::addColumn<QByteArray>("plain");
    QTest::addColumn<QString>("param");

    // K=37717769726c2e7a656e626f2e6b6174
    // printf '%s' "$plain" | openssl enc -aes-128-cbc -K $K -iv $K | base64 -w0 | tr '+/' '-_'
    QTest::newRow("a parameter with a requested page, one '='")
        << QByteArray("userId=alice&currentTime=2024-01-31 21:05:07&reqURI=/portal/main")
        << "mXuEFx6KHaCNq7zcCyvktQy139ip7tzcpG3DcDIx20ocEWdbXailH8H9ZTmF-ddkplZ-aO75-XGLaION-"
           "qzCHZMS_V1Ox58vY_efXrSUQdU=";
    QTest::newRow("a parameter ending in '=='")
        << QByteArray("userId=carol&currentTime=2024-02-29 23:59:59&reqURI=/a")
        << "BevSvUiKO4G4IOsrwgGPTjQD_fDYKvcbOkOPf-lkjlOAuipkcQ7UIsNWVGLoPicQZgbtnhVGMbXOBS5vlTHgTQ"
           "==";
    QTest::newRow("a parameter without a page")
        << QByteArray("userId=alice&currentTime=2024-01-31 09:05:07")
        << "mXuEFx6KHaCNq7zcCyvktQy139ip7tzcpG3DcDIx20p18vVeBvs6sfQK1cTVxBbC";
}

void tst_crypto::known_answer()
{
    QFETCH(QByteArray, plain);
    QFETCH(QString, param);

    unsigned char area[tnw_selvane_openssl::area_size] = {};
    tnw_selvane_openssl encryptor;
    const int n = encryptor.encrypt(plain.constData(), plain.size(), area);
    QVERIFY(n > 0);
    QCOMPARE(tnw_param_encode(QByteArray::fromRawData(reinterpret_cast<const char*>(area), n)),
             param);

    // What the sign-on server does with it.
    QByteArray cipher;
    QVERIFY(tnw_param_decode(param, cipher));
    QByteArray decrypted;
    QVERIFY(tnw_param_cipher::decrypt(cipher, decrypted));
    QCOMPARE(decrypted, plain);
}

void tst_crypto::decrypt_round_trip_data()
{
    QTest::addColumn<QByteArray>("plain");
    QTest::addColumn<bool>("by_tool");

    for (bool by_tool : {false, true}) {
        const char* who = by_tool ? "the openssl tool" : "the agent";
        QTest::addRow("an empty text encrypted by %s", who) << QByteArray() << by_tool;
        QTest::addRow("one whole block encrypted by %s", who) << QByteArray(16, 'h') << by_tool;
        QTest::addRow("bytes with NULs encrypted by %s", who)
            << QByteArray("\0\x01\xff\0tail", 8) << by_tool;
        QTest::addRow("20000 bytes encrypted by %s", who) << QByteArray(20000, 'i') << by_tool;
    }
}

void tst_crypto::decrypt_round_trip()
{
    QFETCH(QByteArray, plain);
    QFETCH(bool, by_tool);

    QByteArray cipher;
    QVERIFY(by_tool ? openssl_enc({"-e"}, plain, cipher)
                    : tnw_param_cipher::encrypt(plain, cipher));
    QCOMPARE(cipher.size(), tnw_param_cipher::ciphertext_size(plain.size()));
    QByteArray decrypted("stale");
    QVERIFY(tnw_param_cipher::decrypt(cipher, decrypted));
    QCOMPARE(decrypted, plain);
}

void tst_crypto::decrypt_rejects_data()
{
    QTest::addColumn<QByteArray>("cipher");

    const QByteArray plain("userId=alice&currentTime=2024-01-31 09:05:07");
    QByteArray good;
    QVERIFY(tnw_param_cipher::encrypt(plain, good));
    QByteArray damaged = good;
    damaged[damaged.size() - 1] = char(damaged.at(damaged.size() - 1) ^ 0x5a);
    QByteArray other_key;
    QVERIFY(
        openssl_enc({"-e"}, plain, other_key, QStringLiteral("000102030405060708090a0b0c0d0e0f")));

    QTest::newRow("an empty ciphertext") << QByteArray();
    QTest::newRow("a length that is not a whole block") << good.left(good.size() - 1);
    QTest::newRow("a damaged last block") << damaged;
    QTest::newRow("a text made with another key") << other_key;
}

void tst_crypto::decrypt_rejects()
{
    QFETCH(QByteArray, cipher);
    QByteArray plain("untouched");
    QVERIFY(!tnw_param_cipher::decrypt(cipher, plain));
    QCOMPARE(plain, QByteArray("untouched"));
}

void tst_crypto::injected_failure_data()
{
    QTest::addColumn<int>("step");
    QTest::addColumn<bool>("decrypting");

    for (bool decrypting : {false, true}) {
        const char* way = decrypting ? "decrypting" : "encrypting";
        QTest::addRow("%s without a failure works", way) << int(fail_none) << decrypting;
        QTest::addRow("%s without a context", way) << int(fail_context) << decrypting;
        QTest::addRow("%s without a cipher", way) << int(fail_cipher) << decrypting;
        QTest::addRow("%s with a failing initialisation", way) << int(fail_init) << decrypting;
        QTest::addRow("%s with a failing update", way) << int(fail_update) << decrypting;
        QTest::addRow("%s with a failing final step", way) << int(fail_final) << decrypting;
    }
    QTest::newRow("encrypting with a final step that miscounts") << int(fail_count) << false;
}

void tst_crypto::injected_failure()
{
    QFETCH(int, step);
    QFETCH(bool, decrypting);

    QByteArray cipher;
    QVERIFY(tnw_param_cipher::encrypt(QByteArray("userId=dave"), cipher));

    using cipher_step = tnw_param_cipher::step;
    const std::optional<cipher_step> steps[] = {
        std::nullopt,        cipher_step::context, cipher_step::cipher,      cipher_step::init,
        cipher_step::update, cipher_step::final,   cipher_step::final_length};
    failing = steps[step];
    contexts_made = contexts_freed = 0;
    tnw_param_cipher::set_step_filter(injected);

    bool worked = false;
    if (decrypting) {
        QByteArray plain;
        worked = tnw_param_cipher::decrypt(cipher, plain);
    } else {
        unsigned char area[tnw_selvane_openssl::area_size] = {};
        tnw_selvane_openssl encryptor;
        const int n = encryptor.encrypt("userId=dave", 11, area);
        QVERIFY(n == -1 || n == 16);
        worked = n == 16;
    }
    tnw_param_cipher::set_step_filter(nullptr);

    QCOMPARE(worked, step == fail_none);
    // A context that the library gave is freed also when the cipher cannot go on with it.
    QCOMPARE(contexts_made, 1);
    QCOMPARE(contexts_freed, contexts_made);
}

void tst_crypto::codec_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");

    QTest::newRow("no bytes, no text") << QByteArray() << "";
    QTest::newRow("one byte, two '='") << QByteArray("f") << "Zg==";
    QTest::newRow("two bytes, one '='") << QByteArray("fo") << "Zm8=";
    QTest::newRow("three bytes, no '='") << QByteArray("foo") << "Zm9v";
    QTest::newRow("six bytes") << QByteArray("foobar") << "Zm9vYmFy";
    QTest::newRow("'+' and '/' of the standard alphabet become '-' and '_'")
        << QByteArray("\xfb\xff", 2) << "-_8=";
    QTest::newRow("a whole group of '+'") << QByteArray("\xfb\xef\xbe", 3) << "----";
    QTest::newRow("a whole group of '/'") << QByteArray("\xff\xff\xff", 3) << "____";
}

void tst_crypto::codec()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(tnw_param_encode(bytes), text);
    QByteArray decoded("stale");
    QVERIFY(tnw_param_decode(text, decoded));
    QCOMPARE(decoded, bytes);
}

void tst_crypto::codec_round_trips_every_byte()
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    // Every length of the last group, every byte value in every place of a group.
    for (int start = 0; start < 3; ++start) {
        for (int length = 0; length <= 4; ++length) {
            const QByteArray bytes = all.mid(start) + all.left(length);
            const QString text = tnw_param_encode(bytes);
            QVERIFY(!text.contains('+') && !text.contains('/'));
            QCOMPARE(text.size(), (bytes.size() + 2) / 3 * 4);
            QByteArray decoded;
            QVERIFY(tnw_param_decode(text, decoded));
            QCOMPARE(decoded, bytes);
        }
    }
}

void tst_crypto::decode_rejects_data()
{
    QTest::addColumn<QString>("text");

    QTest::newRow("the standard alphabet's '+' and '/'") << "+_8=";
    QTest::newRow("a '/' of the standard alphabet") << "-/8=";
    QTest::newRow("a length that is not a multiple of 4") << "Zm9vY";
    QTest::newRow("a missing '='") << "Zg=";
    QTest::newRow("no '=' at all where two are due") << "Zg";
    QTest::newRow("three '='") << "Z===";
    QTest::newRow("'=' inside the text") << "Zg==Zm9v";
    QTest::newRow("unused bits that are not zero") << "Zh==";
    QTest::newRow("a line break") << "Zm9v\nYmFy";
    QTest::newRow("a blank") << "Zm9v YmFy";
    QTest::newRow("a percent-escaped '='") << "Zm8%3D";
    QTest::newRow("a character outside Latin-1") << QString::fromUtf8("Zm9\xea\xb9\x80");
    QTest::newRow("a Latin-1 letter outside the alphabet") << QString::fromUtf8("Zm9\xc3\xa9");
}

void tst_crypto::decode_rejects()
{
    QFETCH(QString, text);
    QByteArray bytes("untouched");
    QVERIFY(!tnw_param_decode(text, bytes));
    QCOMPARE(bytes, QByteArray("untouched"));
}

void tst_crypto::time_stamp_data()
{
    QTest::addColumn<QDateTime>("local_time");
    QTest::addColumn<QString>("stamp");

    // The test runs under a locale with digits of its own (see the test's environment).
    QTest::newRow("a morning in the 24-hour form, in ASCII digits")
        << QDateTime(QDate(2024, 1, 31), QTime(9, 5, 7)) << QStringLiteral("2024-01-31 09:05:07");
    QTest::newRow("the same moment in the evening")
        << QDateTime(QDate(2024, 1, 31), QTime(21, 5, 7)) << QStringLiteral("2024-01-31 21:05:07");
}

void tst_crypto::time_stamp()
{
    QFETCH(QDateTime, local_time);
    QTEST(tnw_time_stamp(local_time), "stamp");
}

QTEST_GUILESS_MAIN(tst_crypto)
#include "tst_crypto.moc"
