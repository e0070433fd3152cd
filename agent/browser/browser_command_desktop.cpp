#include "browser_command.h"

namespace {

bool is_address_code(QChar code)
{
    return code == QLatin1Char('u') || code == QLatin1Char('U') || code == QLatin1Char('f') ||
           code == QLatin1Char('F');
}

// Expands the field codes of one Exec argument. %i stands for two arguments and is handled by
// the caller when it forms an argument of its own; inside a longer argument it is dropped,
// like the deprecated codes (%d %D %n %N %v %m), unknown codes and a trailing lone "%".
QString expand_argument(const QString& piece, const tnw_desktop_entry& entry,
                        const QString& address, bool& carried)
{
    QString result;
    for (int i = 0; i < piece.size(); ++i) {
        if (piece.at(i) != QLatin1Char('%')) {
            result += piece.at(i);
            continue;
        }
        if (++i == piece.size())
            break;
        const QChar code = piece.at(i);
        if (is_address_code(code)) {
            result += address;
            carried = true;
        } else if (code == QLatin1Char('%')) {
            result += QLatin1Char('%');
        } else if (code == QLatin1Char('c')) {
            result += entry.name;
        } else if (code == QLatin1Char('k')) {
            result += entry.location;
        }
    }
    return result;
}

} // namespace

std::optional<tnw_browser_command>
browser_command_from_desktop_entry(const tnw_desktop_entry& entry, const QString& address)
{
    if (entry.exec.isEmpty())
        return std::nullopt;
    bool in_program = false;
    const QString program = expand_argument(entry.exec.first(), entry, address, in_program);
    if (program.isEmpty() || in_program)
        return std::nullopt;

    tnw_browser_command command{program, {}};
    bool carried = false;
    for (int i = 1; i < entry.exec.size(); ++i) {
        const QString& piece = entry.exec.at(i);
        if (piece == QLatin1String("%i")) {
            if (!entry.icon.isEmpty())
                command.arguments << QStringLiteral("--icon") << entry.icon;
            continue;
        }
        bool here = false;
        const QString argument = expand_argument(piece, entry, address, here);
        carried = carried || here;
        // An argument made only of codes that expand to nothing is left out altogether.
        if (argument.isEmpty() && !piece.isEmpty() && !here)
            continue;
        command.arguments << argument;
    }
    if (!carried)
        return std::nullopt;
    return command;
}
