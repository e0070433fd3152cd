#pragma once

#include "virtual_display.h"

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

struct agent_outcome
{
    bool ended = false; // within the time limit, by itself
    int exit_code = 0;
    QStringList box_titles; // one per window shown, in order
    QString errors;         // standard error, where sanitizer reports land
};

// Runs the program on the display to its end, reading the title of every window it shows and
// closing it with Enter, as a user would; in working_folder when one is given.
agent_outcome run_agent(const virtual_display& display, const QString& program,
                        const QStringList& arguments, const QProcessEnvironment& environment,
                        const QString& working_folder = QString());
