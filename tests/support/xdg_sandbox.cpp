#include "xdg_sandbox.h"

#include <QDir>
#include <QFile>

namespace {

bool write_file(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

} // namespace

xdg_sandbox::xdg_sandbox()
{
    // The blank in the program's folder checks that quoted paths are never split.
    const QDir root(m_dir.path());
    m_valid = m_dir.isValid() && root.mkpath(QStringLiteral("data/applications")) &&
              root.mkpath(QStringLiteral("config")) && root.mkpath(QStringLiteral("system")) &&
              root.mkpath(QStringLiteral("browser bin"));
    // One file per start, NUL-separated, renamed into place so a reader never sees half a
    // record; the names sort in the order of the starts.
    const QString script =
        QStringLiteral("#!/bin/sh\nf=$(mktemp '%1/.start.XXXXXX') && printf '%s\\0' \"$@\" > "
                       "\"$f\" && mv \"$f\" \"%1/start-$(date +%s%N)-$$\"\n")
            .arg(m_dir.filePath(QStringLiteral("starts")));
    m_valid = m_valid && root.mkpath(QStringLiteral("starts"));
    m_valid = m_valid && write_file(recorder_path(), script.toUtf8()) &&
              QFile::setPermissions(recorder_path(),
                                    QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QString xdg_sandbox::recorder_path() const
{
    return m_dir.filePath(QStringLiteral("browser bin/record-argv"));
}

QString xdg_sandbox::entry_path(const QString& id) const
{
    return m_dir.filePath(QStringLiteral("data/applications/") + id);
}

bool xdg_sandbox::add_entry(const QString& id, const QString& arguments, const QString& extra)
{
    const QString entry = QStringLiteral("[Desktop Entry]\nType=Application\n"
                                         "Name=Sandbox Browser\nExec=\"%1\" %2\n%3\n")
                              .arg(recorder_path(), arguments, extra);
    return write_file(entry_path(id), entry.toUtf8());
}

bool xdg_sandbox::set_default(const QString& scheme, const QString& id)
{
    return append(m_dir.filePath(QStringLiteral("config/mimeapps.list")),
                  QStringLiteral("[Default Applications]"),
                  QStringLiteral("x-scheme-handler/%1=%2").arg(scheme, id));
}

bool xdg_sandbox::set_cached(const QString& scheme, const QString& id)
{
    return append(m_dir.filePath(QStringLiteral("data/applications/mimeinfo.cache")),
                  QStringLiteral("[MIME Cache]"),
                  QStringLiteral("x-scheme-handler/%1=%2;").arg(scheme, id));
}

bool xdg_sandbox::append(const QString& path, const QString& header, const QString& line) const
{
    QFile file(path);
    const bool fresh = !file.exists();
    if (!file.open(QIODevice::Append))
        return false;
    const QString text =
        (fresh ? header + QLatin1Char('\n') : QString()) + line + QLatin1Char('\n');
    return file.write(text.toUtf8()) > 0;
}

QProcessEnvironment xdg_sandbox::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), m_dir.path());
    environment.insert(QStringLiteral("XDG_DATA_HOME"), m_dir.filePath(QStringLiteral("data")));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("XDG_DATA_DIRS"), m_dir.filePath(QStringLiteral("system")));
    environment.insert(QStringLiteral("XDG_CONFIG_DIRS"), m_dir.filePath(QStringLiteral("system")));
    environment.insert(QStringLiteral("GIO_USE_VFS"), QStringLiteral("local"));
    // A desktop name would make GIO read "<desktop>-mimeapps.list" files as well.
    environment.remove(QStringLiteral("XDG_CURRENT_DESKTOP"));
    return environment;
}

void xdg_sandbox::apply_to_this_process() const
{
    const QProcessEnvironment environment = this->environment();
    for (const QString& name : environment.keys())
        qputenv(name.toLocal8Bit().constData(), environment.value(name).toLocal8Bit());
    qunsetenv("XDG_CURRENT_DESKTOP");
}

QVector<QStringList> xdg_sandbox::starts() const
{
    const QDir folder(m_dir.filePath(QStringLiteral("starts")));
    QVector<QStringList> starts;
    for (const QString& name :
         folder.entryList({QStringLiteral("start-*")}, QDir::Files, QDir::Name)) {
        QFile file(folder.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        QStringList arguments;
        for (const QByteArray& argument : file.readAll().split('\0'))
            arguments << QString::fromUtf8(argument);
        arguments.removeLast(); // after the last NUL
        starts << arguments;
    }
    return starts;
}

std::optional<QStringList> xdg_sandbox::recorded() const
{
    const QVector<QStringList> all = starts();
    if (all.isEmpty())
        return std::nullopt;
    return all.last();
}
