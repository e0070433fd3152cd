#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// A browser start: the program and its arguments, handed to the process start as they are, so
// that the address stays exactly one argument whatever characters it holds.
struct tnw_browser_command
{
    QString program;
    QStringList arguments;
};

inline bool operator==(const tnw_browser_command& a, const tnw_browser_command& b)
{
    return a.program == b.program && a.arguments == b.arguments;
}

// The parts of a desktop entry that the field codes of its Exec line refer to.
struct tnw_desktop_entry
{
    QStringList exec; // the Exec line split by its quoting rules, field codes still in place
    QString name;     // translated Name, for %c
    QString icon;     // Icon, for %i; empty without one
    QString location; // the entry's file, for %k; empty when unknown
};

// The compositions below are pure: they read nothing and start nothing. Each fails (nullopt)
// rather than give a command that would not carry the address, and none of them puts the
// address into the program position.

// An open-command template of the registry form: split into pieces by the process start's
// quoting rules, then every occurrence of the lowest-numbered marker (%1 .. %99, also %L1)
// replaced by the address inside the pieces. Fails when there is no marker in the arguments.
std::optional<tnw_browser_command> browser_command_from_template(const QString& command_template,
                                                                 const QString& address);

// The machine's open command: the text between its first two double quotes is the program,
// the address its only argument; whatever follows the closing quote is not used. Fails when
// the value holds no quoted program (as the default "0" does).
std::optional<tnw_browser_command> browser_command_from_machine_value(const QString& value,
                                                                      const QString& address);

// The executable with the address as its only argument; fails for an empty executable.
std::optional<tnw_browser_command> browser_command_from_executable(const QString& executable,
                                                                   const QString& address);

// A desktop entry's Exec line with its field codes expanded: %u %U %f %F take the address,
// %% is a percent sign, %c the name, %k the location, %i "--icon" and the icon as two
// arguments; deprecated and unknown codes are dropped. Fails without an address field code.
std::optional<tnw_browser_command>
browser_command_from_desktop_entry(const tnw_desktop_entry& entry, const QString& address);

// The command that opens address in the user's default browser, looked up on this platform;
// nullopt when no browser command is found or none of them can carry the address.
std::optional<tnw_browser_command> default_browser_command(const QString& address);
