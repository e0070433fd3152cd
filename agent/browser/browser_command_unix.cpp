// GIO's headers come first: they name struct members "signals", which Qt defines as a macro.
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include "browser_command.h"

#include <QFile>

#include <memory>

namespace {

struct g_object_deleter
{
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct g_free_deleter
{
    void operator()(gpointer memory) const { g_free(memory); }
};
struct g_strv_deleter
{
    void operator()(gchar** vector) const { g_strfreev(vector); }
};

using app_info_ptr = std::unique_ptr<GAppInfo, g_object_deleter>;

// The user's default handler of a URI scheme, by the desktop's MIME-applications rules.
app_info_ptr default_handler(const char* scheme)
{
    return app_info_ptr(g_app_info_get_default_for_uri_scheme(scheme));
}

// Splits an Exec line by its quoting rules. g_app_info_get_executable cannot be used for the
// program: it cuts the line at the first blank, also inside a quoted path.
QStringList split_exec(const char* commandline)
{
    gint count = 0;
    gchar** vector = nullptr;
    if (commandline == nullptr || !g_shell_parse_argv(commandline, &count, &vector, nullptr))
        return {};
    const std::unique_ptr<gchar*, g_strv_deleter> owner(vector);
    QStringList pieces;
    for (gint i = 0; i < count; ++i)
        pieces << QFile::decodeName(vector[i]);
    return pieces;
}

tnw_desktop_entry desktop_entry(GAppInfo* info)
{
    tnw_desktop_entry entry;
    entry.exec = split_exec(g_app_info_get_commandline(info));
    entry.name = QString::fromUtf8(g_app_info_get_name(info));
    if (G_IS_DESKTOP_APP_INFO(info)) {
        GDesktopAppInfo* desktop = G_DESKTOP_APP_INFO(info);
        const std::unique_ptr<gchar, g_free_deleter> icon(
            g_desktop_app_info_get_string(desktop, G_KEY_FILE_DESKTOP_KEY_ICON));
        entry.icon = QString::fromUtf8(icon.get());
        entry.location = QFile::decodeName(g_desktop_app_info_get_filename(desktop));
    }
    return entry;
}

} // namespace

// The https handler's full command line plays the part of the user's chosen open command; the
// http handler's program alone that of the machine's.
std::optional<tnw_browser_command> default_browser_command(const QString& address)
{
    if (const app_info_ptr https = default_handler("https"))
        return browser_command_from_desktop_entry(desktop_entry(https.get()), address);
    if (const app_info_ptr http = default_handler("http"))
        return browser_command_from_executable(
            split_exec(g_app_info_get_commandline(http.get())).value(0), address);
    return std::nullopt;
}
