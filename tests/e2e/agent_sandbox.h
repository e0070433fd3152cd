#pragma once

#include "xdg_sandbox.h"

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVector>

enum class translation_state
{
    installed,
    folder_without_file,
    damaged_file,
    no_folder,
};

enum class browser_handlers
{
    // The recording program handles https and http.
    recording,
    // Only an http handler, whose Exec line starts the recording program through a wrapper
    // ("env FOO=1 <recorder> %u"), as some packaged browsers have it.
    http_only_through_wrapper,
};

// One run's world: a copy of the program with its library and translation in a folder of its
// own (so config/ and logs/ beside it are private), and a private desktop whose default https
// handler is a script that records how it was started. Nothing of the user's own desktop
// settings, Kerberos cache or home is seen by the program.
class agent_sandbox
{
public:
    explicit agent_sandbox(translation_state translation = translation_state::installed,
                           browser_handlers handlers = browser_handlers::recording);

    bool is_valid() const { return m_valid; }
    QString program() const;
    QString path(const QString& relative) const { return m_dir.filePath(relative); }

    // config/server.ini naming the server at 127.0.0.1 and port.
    bool set_server_port(quint16 port);
    // A Kerberos credential cache naming principal; without one the cache named in the
    // environment does not exist.
    bool write_credential_cache(const QByteArray& principal);

    QProcessEnvironment environment(const QString& display) const;

    // The argument lists of the recorded browser starts, in order.
    QVector<QStringList> browser_starts() const;
    // The names of the files in logs/ and their text, all together.
    QStringList log_file_names() const;
    QString log_text() const;

private:
    bool copy_program(translation_state translation);
    bool make_desktop(browser_handlers handlers);

    QTemporaryDir m_dir;
    xdg_sandbox m_desktop;
    bool m_valid = false;
};
