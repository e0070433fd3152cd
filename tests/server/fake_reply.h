#pragma once

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslConfiguration>

// A reply that never touches the network: it shows a given TLS configuration and records
// which of the two ways of ignoring TLS errors was asked of it, and whether the watched
// object had its signals blocked at that moment.
class fake_reply : public QNetworkReply
{
    Q_OBJECT

public:
    explicit fake_reply(const QSslConfiguration& config, const QObject* watched = nullptr)
        : m_config(config), m_watched(watched)
    {
        open(QIODevice::ReadOnly);
    }

    void abort() override {}
    void ignoreSslErrors() override
    {
        ++ignore_all_calls;
        watched_blocked_when_ignoring = m_watched && m_watched->signalsBlocked();
    }

    int ignore_all_calls = 0;
    bool watched_blocked_when_ignoring = false;
    QList<QList<QSslError>> ignored_lists;

protected:
    qint64 readData(char*, qint64) override { return -1; }
    void sslConfigurationImplementation(QSslConfiguration& config) const override
    {
        config = m_config;
    }
    void ignoreSslErrorsImplementation(const QList<QSslError>& errors) override
    {
        ignored_lists.append(errors);
    }

private:
    QSslConfiguration m_config;
    const QObject* m_watched;
};
