#include "start_detached.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <csignal>
#include <vector>

#include <spawn.h>
#include <unistd.h>

// posix_spawn rather than a fork: the new process does not get a copy of the agent's address
// space and page tables first (QProcess::startDetached forks twice), which made the start the
// costliest step of the agent's pass. The browser's process is the agent's child; when it ends
// first it stays a zombie only until the agent ends, a moment later.

namespace {

// A spawn attribute or file-action object, destroyed with its owner when it was made.
template <typename T, int (*make)(T*), int (*destroy)(T*)> struct spawn_object
{
    T value;
    bool valid = make(&value) == 0;
    ~spawn_object()
    {
        if (valid)
            destroy(&value);
    }
};
using spawn_attributes =
    spawn_object<posix_spawnattr_t, posix_spawnattr_init, posix_spawnattr_destroy>;
using spawn_actions = spawn_object<posix_spawn_file_actions_t, posix_spawn_file_actions_init,
                                   posix_spawn_file_actions_destroy>;

// The user's home folder, or the root folder without one. The agent's own current folder is
// wherever it was started from, which may be a folder another user filled: a browser command
// that names a program by a relative path (a wrapper such as env handed the address) must not
// find it there.
QByteArray working_folder()
{
    const QString home = QDir::homePath();
    return QFile::encodeName(QFileInfo(home).isDir() ? home : QDir::rootPath());
}

// As a detached start does: a session of its own, no blocked signals, and SIGPIPE back at its
// default should this process ignore it.
bool prepare(spawn_attributes& spawn)
{
    sigset_t none;
    sigset_t reset;
    sigemptyset(&none);
    sigemptyset(&reset);
    sigaddset(&reset, SIGPIPE);
    const short flags = POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    return spawn.valid && posix_spawnattr_setflags(&spawn.value, flags) == 0 &&
           posix_spawnattr_setsigmask(&spawn.value, &none) == 0 &&
           posix_spawnattr_setsigdefault(&spawn.value, &reset) == 0;
}

} // namespace

bool tnw_start_detached(const QString& program, const QStringList& arguments)
{
    if (program.isEmpty())
        return false;
    std::vector<QByteArray> encoded{QFile::encodeName(program)};
    for (const QString& argument : arguments)
        encoded.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& piece : encoded)
        argv.push_back(piece.data());
    argv.push_back(nullptr);

    spawn_attributes spawn;
    spawn_actions actions;
    const QByteArray folder = working_folder();
    if (!prepare(spawn) || !actions.valid ||
        posix_spawn_file_actions_addchdir_np(&actions.value, folder.constData()) != 0)
        return false;
    pid_t child = 0;
    return posix_spawnp(&child, argv.front(), &actions.value, &spawn.value, argv.data(), environ) ==
           0;
}
