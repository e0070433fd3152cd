#include "agent_runner.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QProcess>

namespace {

// Generous for a sanitizer build on a busy machine; a sign-on takes well under a second.
constexpr int run_limit_ms = 60000;
constexpr int poll_ms = 50;
// A box that is still there this long after Enter gets Enter again (the first one may have
// come before it had the focus).
constexpr qint64 repress_ms = 500;

} // namespace

agent_outcome run_agent(const virtual_display& display, const QString& program,
                        const QStringList& arguments, const QProcessEnvironment& environment,
                        const QString& working_folder)
{
    agent_outcome outcome;
    QProcess agent;
    agent.setProcessEnvironment(environment);
    if (!working_folder.isEmpty())
        agent.setWorkingDirectory(working_folder);
    agent.start(program, arguments);
    if (!agent.waitForStarted(run_limit_ms)) {
        outcome.errors = agent.errorString();
        return outcome;
    }
    const QDeadlineTimer deadline(run_limit_ms);
    QHash<QString, QDeadlineTimer> pressed; // window id -> when to press Enter again
    while (!agent.waitForFinished(poll_ms)) {
        if (deadline.hasExpired()) {
            agent.kill();
            agent.waitForFinished();
            outcome.errors = QString::fromLocal8Bit(agent.readAllStandardError());
            return outcome;
        }
        for (const QString& id : display.titled_windows()) {
            const auto known = pressed.constFind(id);
            if (known != pressed.constEnd() && !known->hasExpired())
                continue;
            if (known == pressed.constEnd())
                outcome.box_titles << display.window_title(id);
            pressed.insert(id, QDeadlineTimer(repress_ms));
            display.press_return();
        }
    }
    outcome.ended = agent.exitStatus() == QProcess::NormalExit;
    outcome.exit_code = agent.exitCode();
    outcome.errors = QString::fromLocal8Bit(agent.readAllStandardError());
    return outcome;
}
