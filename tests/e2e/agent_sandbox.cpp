#include "agent_sandbox.h"

#include "log_files.h"

#include "ccache_writer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

bool write_file(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

bool copy_into(const QString& source, const QString& folder)
{
    return QFile::copy(source, folder + QLatin1Char('/') + QFileInfo(source).fileName());
}

} // namespace

agent_sandbox::agent_sandbox(translation_state translation, browser_handlers handlers)
{
    m_valid = m_dir.isValid() && copy_program(translation) && make_desktop(handlers);
}

QString agent_sandbox::program() const
{
    return m_dir.filePath(QStringLiteral("app/tarnwell"));
}

bool agent_sandbox::copy_program(translation_state translation)
{
    const QDir built = QFileInfo(QStringLiteral(TNW_E2E_PROGRAM)).dir();
    const QString app = m_dir.filePath(QStringLiteral("app"));
    if (!QDir().mkpath(app + QStringLiteral("/config")) ||
        !copy_into(QStringLiteral(TNW_E2E_PROGRAM), app))
        return false;
    // Links are copied as files: the loader asks for the soname and finds it either way.
    const QStringList libraries = built.entryList({QStringLiteral("libquillmark.so*")});
    if (libraries.isEmpty())
        return false;
    for (const QString& library : libraries) {
        if (!copy_into(built.filePath(library), app))
            return false;
    }
    if (translation == translation_state::no_folder)
        return true;
    if (!QDir().mkpath(app + QStringLiteral("/translator")))
        return false;
    if (translation == translation_state::folder_without_file)
        return true;
    if (translation == translation_state::damaged_file)
        return write_file(app + QStringLiteral("/translator/") +
                              QFileInfo(QStringLiteral(TNW_TEST_TRANSLATION)).fileName(),
                          QByteArrayLiteral("not a translation"));
    return copy_into(QStringLiteral(TNW_TEST_TRANSLATION), app + QStringLiteral("/translator"));
}

bool agent_sandbox::make_desktop(browser_handlers handlers)
{
    const QDir root(m_dir.path());
    const QString runtime = m_dir.filePath(QStringLiteral("runtime"));
    const bool made =
        m_desktop.is_valid() && root.mkpath(QStringLiteral("home")) &&
        root.mkpath(QStringLiteral("runtime")) &&
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (handlers == browser_handlers::http_only_through_wrapper) {
        const QString id = QStringLiteral("wrapped-browser.desktop");
        const QString entry = QStringLiteral("[Desktop Entry]\nType=Application\nName=Wrapped "
                                             "Browser\nExec=env FOO=1 \"%1\" %u\n")
                                  .arg(m_desktop.recorder_path());
        return made && write_file(m_desktop.entry_path(id), entry.toUtf8()) &&
               m_desktop.set_default(QStringLiteral("http"), id);
    }
    return made &&
           m_desktop.add_entry(QStringLiteral("recording-browser.desktop"), QStringLiteral("%u")) &&
           m_desktop.set_default(QStringLiteral("https"),
                                 QStringLiteral("recording-browser.desktop")) &&
           m_desktop.set_default(QStringLiteral("http"),
                                 QStringLiteral("recording-browser.desktop"));
}

bool agent_sandbox::set_server_port(quint16 port)
{
    const QString ini = QStringLiteral("[server]\nip=127.0.0.1\nport=%1\n"
                                       "enable_certificate_verification=false\n")
                            .arg(port);
    return write_file(m_dir.filePath(QStringLiteral("app/config/server.ini")), ini.toUtf8());
}

bool agent_sandbox::write_credential_cache(const QByteArray& principal)
{
    const QByteArray cache = "FILE:" + QFile::encodeName(m_dir.filePath(QStringLiteral("krb5cc")));
    return tnw_write_demo_ccache(cache.constData(), principal.constData()) == 0;
}

QProcessEnvironment agent_sandbox::environment(const QString& display) const
{
    // The parent's environment stays for PATH and the sanitizers' options; everything that
    // points at a desktop, a home or a Kerberos cache is replaced.
    QProcessEnvironment environment = m_desktop.environment();
    for (const char* name : {"QT_QPA_PLATFORM", "XDG_CURRENT_DESKTOP", "WAYLAND_DISPLAY",
                             "DBUS_SESSION_BUS_ADDRESS", "XAUTHORITY"})
        environment.remove(QLatin1String(name));
    const auto set = [&environment](const char* name, const QString& value) {
        environment.insert(QLatin1String(name), value);
    };
    set("DISPLAY", display);
    set("LANG", QStringLiteral("C.UTF-8"));
    set("LC_ALL", QStringLiteral("C.UTF-8"));
    set("HOME", path(QStringLiteral("home")));
    set("XDG_CACHE_HOME", path(QStringLiteral("home/.cache")));
    set("XDG_RUNTIME_DIR", path(QStringLiteral("runtime")));
    set("KRB5CCNAME", QStringLiteral("FILE:") + path(QStringLiteral("krb5cc")));
    // The library beside the copy, whatever run path the build gave the program.
    set("LD_LIBRARY_PATH", path(QStringLiteral("app")));
    // Later options win, so the suppressions join whatever the caller asked the sanitizer for.
    QString sanitizer = environment.value(QStringLiteral("ASAN_OPTIONS"));
    if (!sanitizer.isEmpty())
        sanitizer += QLatin1Char(':');
    set("ASAN_OPTIONS", sanitizer + QStringLiteral("suppressions=" TNW_E2E_ASAN_SUPPRESSIONS));
    return environment;
}

QVector<QStringList> agent_sandbox::browser_starts() const
{
    return m_desktop.starts();
}

QStringList agent_sandbox::log_file_names() const
{
    return QDir(m_dir.filePath(QStringLiteral("app/logs"))).entryList(QDir::Files, QDir::Name);
}

QString agent_sandbox::log_text() const
{
    QStringList lines;
    for (const QString& name : log_file_names())
        lines += tnw_test::file_lines(m_dir.filePath(QStringLiteral("app/logs/") + name));
    return lines.join(QLatin1Char('\n'));
}
