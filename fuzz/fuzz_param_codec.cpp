// The parameter's text form. Any bytes encode to text of the variant's alphabet that decodes
// back to the same bytes; any text, read as bytes or as UTF-16, either decodes to bytes that
// encode back to that very text or is refused without touching the result.
#include "fuzz_require.h"
#include "param_codec.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

void check_round_trip(const QByteArray& bytes)
{
    const QString text = tnw_param_encode(bytes);
    TNW_FUZZ_REQUIRE(!text.contains(QLatin1Char('+')) && !text.contains(QLatin1Char('/')));
    TNW_FUZZ_REQUIRE(text.size() == (bytes.size() + 2) / 3 * 4);
    QByteArray decoded;
    TNW_FUZZ_REQUIRE(tnw_param_decode(text, decoded));
    TNW_FUZZ_REQUIRE(decoded == bytes);
}

void check_decode(const QString& text)
{
    const QByteArray untouched = QByteArrayLiteral("untouched");
    QByteArray decoded = untouched;
    if (!tnw_param_decode(text, decoded)) {
        TNW_FUZZ_REQUIRE(decoded == untouched);
        return;
    }
    TNW_FUZZ_REQUIRE(tnw_param_encode(decoded) == text);
}

QString as_utf16(const std::uint8_t* data, std::size_t size)
{
    std::vector<char16_t> units(size / 2);
    if (!units.empty())
        std::memcpy(units.data(), data, units.size() * 2);
    return QString::fromUtf16(units.data(), static_cast<int>(units.size()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto* chars = reinterpret_cast<const char*>(data);
    const int length = static_cast<int>(size);
    check_round_trip(QByteArray(chars, length));
    check_decode(QString::fromLatin1(chars, length));
    check_decode(as_utf16(data, size));
    return 0;
}
