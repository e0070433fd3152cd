// The three ways a browser command is composed, for any template, registry value, Exec line and
// address. Each composition runs twice: once with the address, once with a stand-in text that
// occurs nowhere in the input. The address must go exactly where the stand-in went, as it is:
// never into the program, never split into more arguments, never read for markers of its own.
// Where the input has exactly one place for the address, it must be one whole argument.
#include "browser/browser_command.h"
#include "fuzz_require.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>

namespace {

// Private-use characters, which the input is kept free of.
const QString stand_in = QStringLiteral("\uE000\uE001");

QString text_from(FuzzedDataProvider& input, std::size_t most)
{
    QString text = QString::fromStdString(input.ConsumeRandomLengthString(most));
    return text.remove(stand_in.at(0));
}

// Text without any place marker or field code, and without quotes: whatever it holds, it
// cannot take the address.
QString plain_text_from(FuzzedDataProvider& input, std::size_t most)
{
    return text_from(input, most).remove(QLatin1Char('%')).remove(QLatin1Char('"'));
}

using composition = std::optional<tnw_browser_command>;

// The relation between the composition with the address and the one with the stand-in.
void check_carried(const composition& with_address, const composition& with_stand_in,
                   const QString& address)
{
    TNW_FUZZ_REQUIRE(with_address.has_value() == with_stand_in.has_value());
    if (!with_stand_in)
        return;
    TNW_FUZZ_REQUIRE(!with_stand_in->program.contains(stand_in));
    TNW_FUZZ_REQUIRE(with_address->program == with_stand_in->program);
    TNW_FUZZ_REQUIRE(with_address->arguments.size() == with_stand_in->arguments.size());
    bool carried = false;
    for (int i = 0; i < with_stand_in->arguments.size(); ++i) {
        QString expected = with_stand_in->arguments.at(i);
        carried = carried || expected.contains(stand_in);
        expected.replace(stand_in, address);
        TNW_FUZZ_REQUIRE(with_address->arguments.at(i) == expected);
    }
    TNW_FUZZ_REQUIRE(carried);
}

// With a single place for it, the stand-in is one whole argument and appears nowhere else.
void check_one_whole_argument(const composition& with_stand_in)
{
    TNW_FUZZ_REQUIRE(with_stand_in.has_value());
    int whole = 0;
    int inside = 0;
    for (const QString& argument : with_stand_in->arguments) {
        whole += argument == stand_in ? 1 : 0;
        inside += argument.count(stand_in);
    }
    TNW_FUZZ_REQUIRE(whole == 1 && inside == 1);
}

void fuzz_template(FuzzedDataProvider& input, const QString& address)
{
    const QString command_template = text_from(input, 512);
    check_carried(browser_command_from_template(command_template, address),
                  browser_command_from_template(command_template, stand_in), address);
}

// A quoted program, options, then the marker as an argument of its own.
void fuzz_template_single_marker(FuzzedDataProvider& input, const QString& address)
{
    QString program = plain_text_from(input, 64).trimmed();
    if (program.isEmpty())
        program = QStringLiteral("browser");
    const QString options = plain_text_from(input, 128);
    const QString command_template =
        QLatin1Char('"') + program + QStringLiteral("\" ") + options + QStringLiteral(" %1");
    const composition with_stand_in = browser_command_from_template(command_template, stand_in);
    check_one_whole_argument(with_stand_in);
    TNW_FUZZ_REQUIRE(with_stand_in->program == program);
    check_carried(browser_command_from_template(command_template, address), with_stand_in, address);
}

void fuzz_machine_value(FuzzedDataProvider& input, const QString& address)
{
    const QString value = text_from(input, 512);
    const composition with_stand_in = browser_command_from_machine_value(value, stand_in);
    if (with_stand_in) {
        TNW_FUZZ_REQUIRE(with_stand_in->arguments == QStringList{stand_in});
        TNW_FUZZ_REQUIRE(!with_stand_in->program.isEmpty());
    }
    check_carried(browser_command_from_machine_value(value, address), with_stand_in, address);
}

tnw_desktop_entry entry_from(FuzzedDataProvider& input)
{
    tnw_desktop_entry entry;
    entry.name = text_from(input, 32);
    entry.icon = text_from(input, 32);
    entry.location = text_from(input, 64);
    const int pieces = input.ConsumeIntegralInRange(0, 8);
    for (int i = 0; i < pieces; ++i)
        entry.exec << text_from(input, 64);
    return entry;
}

void fuzz_desktop_entry(FuzzedDataProvider& input, const QString& address)
{
    const tnw_desktop_entry entry = entry_from(input);
    check_carried(browser_command_from_desktop_entry(entry, address),
                  browser_command_from_desktop_entry(entry, stand_in), address);
}

// An Exec line whose only field code is one address code standing alone.
void fuzz_desktop_entry_single_code(FuzzedDataProvider& input, const QString& address)
{
    tnw_desktop_entry entry;
    entry.name = text_from(input, 32);
    QString program = plain_text_from(input, 64);
    if (program.isEmpty())
        program = QStringLiteral("browser");
    entry.exec << program;
    const int before = input.ConsumeIntegralInRange(0, 4);
    for (int i = 0; i < before; ++i)
        entry.exec << plain_text_from(input, 32);
    const char* const codes[] = {"%u", "%U", "%f", "%F"};
    entry.exec << QLatin1String(codes[input.ConsumeIntegralInRange(0, 3)]);
    const int after = input.ConsumeIntegralInRange(0, 4);
    for (int i = 0; i < after; ++i)
        entry.exec << plain_text_from(input, 32);

    const composition with_stand_in = browser_command_from_desktop_entry(entry, stand_in);
    check_one_whole_argument(with_stand_in);
    TNW_FUZZ_REQUIRE(with_stand_in->program == program);
    check_carried(browser_command_from_desktop_entry(entry, address), with_stand_in, address);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    using route = void (*)(FuzzedDataProvider&, const QString&);
    static const route routes[] = {fuzz_template, fuzz_template_single_marker, fuzz_machine_value,
                                   fuzz_desktop_entry, fuzz_desktop_entry_single_code};
    const int chosen = input.ConsumeIntegralInRange(0, int(std::size(routes)) - 1);
    const QString address = text_from(input, 256);
    routes[chosen](input, address);
    return 0;
}
