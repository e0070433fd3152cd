#include "browser_command.h"

#include <QProcess>

#include <climits>

namespace {

// The length of the place marker ("%1", "%L1", two digits at most) that starts at index i of
// text, or 0; its number goes to number. Read as QString::arg reads its markers.
int marker_at(const QString& text, int i, int& number)
{
    if (text.at(i) != QLatin1Char('%'))
        return 0;
    int j = i + 1;
    if (j < text.size() && text.at(j) == QLatin1Char('L'))
        ++j;
    if (j >= text.size() || text.at(j).digitValue() < 0)
        return 0;
    number = text.at(j++).digitValue();
    if (j < text.size() && text.at(j).digitValue() >= 0)
        number = number * 10 + text.at(j++).digitValue();
    return j - i;
}

int lowest_marker(const QStringList& pieces)
{
    int lowest = INT_MAX;
    for (const QString& piece : pieces) {
        for (int i = 0; i < piece.size(); ++i) {
            int number = 0;
            if (marker_at(piece, i, number) > 0 && number < lowest)
                lowest = number;
        }
    }
    return lowest;
}

// Replaces every marker numbered number in one pass, so markers inside the address stay as
// they are. Counts the replacements in replaced.
QString fill_marker(const QString& piece, int number, const QString& address, int& replaced)
{
    QString result;
    int i = 0;
    while (i < piece.size()) {
        int found = 0;
        const int length = marker_at(piece, i, found);
        if (length > 0 && found == number) {
            result += address;
            ++replaced;
            i += length;
        } else {
            result += piece.at(i++);
        }
    }
    return result;
}

} // namespace

std::optional<tnw_browser_command> browser_command_from_template(const QString& command_template,
                                                                 const QString& address)
{
    const QStringList pieces = QProcess::splitCommand(command_template);
    if (pieces.isEmpty())
        return std::nullopt;
    const int number = lowest_marker(pieces);
    int in_program = 0;
    fill_marker(pieces.first(), number, address, in_program);
    if (in_program > 0)
        return std::nullopt;

    tnw_browser_command command{pieces.first(), {}};
    int replaced = 0;
    for (int i = 1; i < pieces.size(); ++i)
        command.arguments << fill_marker(pieces.at(i), number, address, replaced);
    if (replaced == 0)
        return std::nullopt;
    return command;
}

std::optional<tnw_browser_command> browser_command_from_machine_value(const QString& value,
                                                                      const QString& address)
{
    const QStringList parts = value.split(QLatin1Char('"'), Qt::KeepEmptyParts);
    if (parts.size() < 2)
        return std::nullopt;
    return browser_command_from_executable(parts.at(1), address);
}

std::optional<tnw_browser_command> browser_command_from_executable(const QString& executable,
                                                                   const QString& address)
{
    if (executable.isEmpty())
        return std::nullopt;
    return tnw_browser_command{executable, {address}};
}
