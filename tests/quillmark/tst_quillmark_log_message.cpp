#include "log_line.h"

#include <QTextCodec>
#include <QtTest>

#include <climits>
#include <cstdarg>
#include <cstdint>
#include <functional>

using quillmark_detail::passthrough;

namespace {

// One format expanded both ways, as the exports do: the byte path first, then the general one
// from the same arguments.
struct expansion
{
    passthrough rule = passthrough::none;
    bool fast = false;
    QByteArray fast_bytes;
    QByteArray general_bytes;
};

QByteArray general_bytes(const QString& message)
{
    QByteArray bytes = message.toLocal8Bit();
#ifdef Q_OS_WIN
    bytes.replace('\n', "\r\n");
#endif
    return bytes;
}

expansion expand_in(passthrough rule, std::size_t room, const char* format, ...)
{
    char storage[4096];
    quillmark_detail::fixed_buffer out(storage, qMin(room, sizeof storage));
    expansion result;
    result.rule = rule;
    va_list args;
    va_start(args, format);
    result.fast = quillmark_detail::append_simple_message(out, format, args, rule);
    result.fast_bytes = QByteArray(out.data(), int(out.size()));
    result.general_bytes = general_bytes(quillmark_detail::log_message(format, args));
    va_end(args);
    return result;
}

constexpr std::size_t ample = 4096;

bool local_encoding_is_utf8()
{
    return QString::fromUtf8("\xea\xb9\x80\xf0\x9f\x98\x80").toLocal8Bit() ==
           QByteArray("\xea\xb9\x80\xf0\x9f\x98\x80");
}

} // namespace

using expansion_call = std::function<expansion()>;
Q_DECLARE_METATYPE(expansion_call)
Q_DECLARE_METATYPE(passthrough)

#define EXPAND(...)                                                                                \
    [] {                                                                                           \
        return expand_in(__VA_ARGS__);                                                             \
    }

class tst_quillmark_log_message : public QObject
{
    Q_OBJECT

private slots:
    void same_bytes_as_the_general_expansion_data();
    void same_bytes_as_the_general_expansion();
    void declined_data();
    void declined();
    void passthrough_of_codecs_data();
    void passthrough_of_codecs();
};

void tst_quillmark_log_message::same_bytes_as_the_general_expansion_data()
{
    QTest::addColumn<expansion_call>("call");
    const passthrough utf8 = passthrough::utf8;
    const passthrough ascii = passthrough::ascii;
    QTest::newRow("plain text") << expansion_call(EXPAND(utf8, ample, "benchmark line"));
    QTest::newRow("empty format") << expansion_call(EXPAND(utf8, ample, ""));
    QTest::newRow("doubled percent signs")
        << expansion_call(EXPAND(utf8, ample, "100%% done, %%%d%%", 7));
    QTest::newRow("int at its limits")
        << expansion_call(EXPAND(utf8, ample, "%d %i %d %d", INT_MIN, INT_MAX, -1, 0));
    QTest::newRow("long and long long at their limits") << expansion_call(
        EXPAND(utf8, ample, "%ld %li %lld %lli", LONG_MIN, LONG_MAX, LLONG_MIN, LLONG_MAX));
    QTest::newRow("unsigned of every width") << expansion_call(
        EXPAND(utf8, ample, "%u %u %lu %llu %zu", 0u, UINT_MAX, ULONG_MAX, ULLONG_MAX, SIZE_MAX));
    QTest::newRow("hexadecimal in both cases")
        << expansion_call(EXPAND(utf8, ample, "%x %X %lx %llX %zx %x", 0xdeadbeefu, 0xdeadbeefu,
                                 0ul, ULLONG_MAX, std::size_t(255), 10u));
    QTest::newRow("strings with placeholders of their own")
        << expansion_call(EXPAND(utf8, ample, "%s|%s|%s", "", "plain", "%1 %2 %% %s"));
    QTest::newRow("Korean argument") << expansion_call(EXPAND(utf8, ample, "user %s", "김철수"));
    QTest::newRow("Korean format")
        << expansion_call(EXPAND(utf8, ample, "사용자 %s 로그인 %d회", "kim", 3));
    QTest::newRow("four-byte sequences")
        << expansion_call(EXPAND(utf8, ample, "%s", "\xF0\x9F\x98\x80 \xF4\x8F\xBF\xBD"));
    QTest::newRow("smallest and largest sequences of each length")
        << expansion_call(EXPAND(utf8, ample, "\xC2\x80\xDF\xBF%s", "\xE0\xA0\x80\xEF\xBF\xBD"));
    QTest::newRow("line breaks in format and argument")
        << expansion_call(EXPAND(utf8, ample, "first\nsecond %s", "third\nfourth"));
    QTest::newRow("ASCII under an ASCII-keeping encoding")
        << expansion_call(EXPAND(ascii, ample, "%s %d\t%x", "plain", -5, 42u));
    QTest::newRow("exactly the room it needs")
        << expansion_call(EXPAND(utf8, 6, "%s=%d", "abc", 42));
}

void tst_quillmark_log_message::same_bytes_as_the_general_expansion()
{
    QFETCH(expansion_call, call);
    const expansion result = call();
    // The general path writes in the local encoding; the UTF-8 rule stands for one.
    if (result.rule == passthrough::utf8 && !local_encoding_is_utf8())
        QSKIP("the local encoding is not UTF-8 (a Windows code page), which never takes this rule");
    QVERIFY(result.fast);
    QCOMPARE(result.fast_bytes, result.general_bytes);
}

void tst_quillmark_log_message::declined_data()
{
    QTest::addColumn<expansion_call>("call");
    const passthrough utf8 = passthrough::utf8;
    const passthrough ascii = passthrough::ascii;
    const passthrough none = passthrough::none;
    QTest::newRow("a width") << expansion_call(EXPAND(utf8, ample, "%5d", 3));
    QTest::newRow("a flag") << expansion_call(EXPAND(utf8, ample, "%05d", 3));
    QTest::newRow("a precision") << expansion_call(EXPAND(utf8, ample, "%.2s", "abc"));
    QTest::newRow("a character") << expansion_call(EXPAND(utf8, ample, "%c", 'x'));
    QTest::newRow("a floating-point number") << expansion_call(EXPAND(utf8, ample, "%f", 1.5));
    QTest::newRow("a pointer") << expansion_call(
        EXPAND(utf8, ample, "%p", static_cast<void*>(nullptr)));
    QTest::newRow("a short") << expansion_call(EXPAND(utf8, ample, "%hd", 70000));
    QTest::newRow("a signed size") << expansion_call(EXPAND(utf8, ample, "%zd", std::size_t(1)));
    QTest::newRow("a wide string") << expansion_call(EXPAND(utf8, ample, "%ls", u"wide"));
    QTest::newRow("a percent sign at the end") << expansion_call(EXPAND(utf8, ample, "50%"));
    QTest::newRow("a null string")
        << expansion_call(EXPAND(utf8, ample, "%s", static_cast<const char*>(nullptr)));
    QTest::newRow("broken UTF-8 in the format") << expansion_call(EXPAND(utf8, ample, "\xC3("));
    QTest::newRow("broken UTF-8 in an argument")
        << expansion_call(EXPAND(utf8, ample, "%s", "ok \xFF"));
    QTest::newRow("a lead byte ending the text")
        << expansion_call(EXPAND(utf8, ample, "%s", "\xF0\x9F\x98"));
    QTest::newRow("a sequence split by a conversion")
        << expansion_call(EXPAND(utf8, ample, "\xEA\xB9%s", "\x80"));
    QTest::newRow("an overlong sequence") << expansion_call(EXPAND(utf8, ample, "%s", "\xC0\xAF"));
    QTest::newRow("a surrogate") << expansion_call(EXPAND(utf8, ample, "%s", "\xED\xA0\x80"));
    QTest::newRow("beyond the last code point")
        << expansion_call(EXPAND(utf8, ample, "%s", "\xF4\x90\x80\x80"));
    QTest::newRow("a byte order mark") << expansion_call(EXPAND(utf8, ample, "\xEF\xBB\xBFtext"));
    QTest::newRow("a noncharacter") << expansion_call(EXPAND(utf8, ample, "%s", "\xEF\xBF\xBE"));
    QTest::newRow("Korean under an ASCII-keeping encoding")
        << expansion_call(EXPAND(ascii, ample, "user %s", "김철수"));
    QTest::newRow("an encoding that changes ASCII") << expansion_call(EXPAND(none, ample, "plain"));
    QTest::newRow("one byte more than the room holds")
        << expansion_call(EXPAND(utf8, 5, "%s=%d", "abc", 42));
}

void tst_quillmark_log_message::declined()
{
    QFETCH(expansion_call, call);
    QVERIFY(!call().fast);
}

void tst_quillmark_log_message::passthrough_of_codecs_data()
{
    QTest::addColumn<QByteArray>("codec");
    QTest::addColumn<passthrough>("expected");
    QTest::newRow("UTF-8") << QByteArray("UTF-8") << passthrough::utf8;
    QTest::newRow("Latin-1") << QByteArray("ISO-8859-1") << passthrough::ascii;
    QTest::newRow("Korean code page") << QByteArray("EUC-KR") << passthrough::ascii;
    QTest::newRow("UTF-16") << QByteArray("UTF-16LE") << passthrough::none;
    QTest::newRow("UTF-32") << QByteArray("UTF-32BE") << passthrough::none;
    QTest::newRow("none at all") << QByteArray() << passthrough::none;
}

void tst_quillmark_log_message::passthrough_of_codecs()
{
    QFETCH(QByteArray, codec);
    QFETCH(passthrough, expected);
    QTextCodec* found = codec.isEmpty() ? nullptr : QTextCodec::codecForName(codec);
    if (!codec.isEmpty() && !found)
        QSKIP("this Qt has no such codec");
    QCOMPARE(quillmark_detail::passthrough_for(found), expected);
}

QTEST_APPLESS_MAIN(tst_quillmark_log_message)
#include "tst_quillmark_log_message.moc"
