#include "start_detached.h"

#include <QByteArray>
#include <QFile>

#include <csignal>
#include <vector>

#include <spawn.h>
#include <unistd.h>

// posix_spawn rather than a fork: the new process does not get a copy of the agent's address
// space and page tables first (QProcess::startDetached forks twice), which made the start the
// costliest step of the agent's pass. The browser's process is the agent's child; when it ends
// first it stays a zombie only until the agent ends, a moment later.

namespace {

struct spawn_attributes
{
    posix_spawnattr_t attributes;
    bool valid = posix_spawnattr_init(&attributes) == 0;
    ~spawn_attributes()
    {
        if (valid)
            posix_spawnattr_destroy(&attributes);
    }
};

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
    return spawn.valid && posix_spawnattr_setflags(&spawn.attributes, flags) == 0 &&
           posix_spawnattr_setsigmask(&spawn.attributes, &none) == 0 &&
           posix_spawnattr_setsigdefault(&spawn.attributes, &reset) == 0;
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
    if (!prepare(spawn))
        return false;
    pid_t child = 0;
    return posix_spawnp(&child, argv.front(), nullptr, &spawn.attributes, argv.data(), environ) ==
           0;
}
