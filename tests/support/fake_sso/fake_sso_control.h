#pragma once

#include "fake_sso_env.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

// The answers of the test SSO library, set for the calls that follow. clear() returns to the
// library's defaults (running, user returned, empty user ID) and stops a trace.
struct fake_sso_answers
{
    int running = 3;
    int result = 0;
    QByteArray user;

    void apply() const
    {
        qputenv(TNW_FAKE_SSO_RUNNING, QByteArray::number(running));
        qputenv(TNW_FAKE_SSO_RESULT, QByteArray::number(result));
        set_user(user);
    }
    // On Windows the library reads the wide environment, as wine passes the Linux side's
    // variables: the text goes there, not its bytes read in the ANSI code page.
    static void set_user(const QByteArray& user)
    {
#ifdef Q_OS_WIN
        const QString text = QString::fromUtf8(user);
        SetEnvironmentVariableW(L"" TNW_FAKE_SSO_USER,
                                reinterpret_cast<const wchar_t*>(text.utf16()));
#else
        qputenv(TNW_FAKE_SSO_USER, user);
#endif
    }
    static void clear()
    {
        qunsetenv(TNW_FAKE_SSO_RUNNING);
        qunsetenv(TNW_FAKE_SSO_RESULT);
        qunsetenv(TNW_FAKE_SSO_USER);
        qunsetenv(TNW_FAKE_SSO_TRACE);
    }
};

// Records the calls of the library's exports into a file while it lives.
class fake_sso_trace
{
public:
    explicit fake_sso_trace(const QString& file) : m_file(file)
    {
        QFile::remove(m_file);
        qputenv(TNW_FAKE_SSO_TRACE, QFile::encodeName(m_file));
    }
    ~fake_sso_trace() { qunsetenv(TNW_FAKE_SSO_TRACE); }

    // "IsSafePCRunning" and "GetCurrUserInfo <first argument>", one per call, in order.
    QStringList calls() const
    {
        QFile file(m_file);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    }

private:
    QString m_file;
};
