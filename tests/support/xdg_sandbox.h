#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVector>

#include <optional>

// A private desktop for GIO in a temporary folder: its own data and config directories, a
// browser stand-in that records the arguments it is started with, desktop entries and the
// default-application settings. GIO reads the XDG directories once per process, so a sandbox
// applies to a child process (environment()) or to this process before GIO's first use.
class xdg_sandbox
{
public:
    xdg_sandbox();

    bool is_valid() const { return m_valid; }
    QString recorder_path() const;
    QString entry_path(const QString& id) const;

    // A desktop entry named "Sandbox Browser" whose Exec line is the quoted recorder path
    // followed by arguments; extra lines go into the entry as they are.
    bool add_entry(const QString& id, const QString& arguments, const QString& extra = QString());
    // The default handler of scheme in mimeapps.list (the user's choice).
    bool set_default(const QString& scheme, const QString& id);
    // A handler of scheme known only from applications/mimeinfo.cache.
    bool set_cached(const QString& scheme, const QString& id);

    QProcessEnvironment environment() const;
    void apply_to_this_process() const;

    // The recorder's arguments, for each of its starts in order.
    QVector<QStringList> starts() const;
    // Those of its last start, once it has run.
    std::optional<QStringList> recorded() const;

private:
    bool append(const QString& path, const QString& header, const QString& line) const;

    QTemporaryDir m_dir;
    bool m_valid = false;
};
