#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// What the sign-on server reads out of one request target.
struct sign_on_request
{
    // 200, 400 (bad parameter), 403 (refused by a rule), 404 (other path) or 503 (no room left)
    int status = 400;
    QString error; // why a request was refused
    QString user_id;
    QString current_time;
    QDateTime time; // current_time read as local time, as the agent writes it
    QString req_uri;
    bool has_req_uri = false;
    QByteArray parameter; // the decrypted text, which tells a replay
};

// Reads "/signin/sso?param=<encoded>": reverses the Base64 variant, decrypts with the agent's
// cipher and key, and splits "userId=..&currentTime=..[&reqURI=..]" into its fields.
sign_on_request read_sign_on_request(const QByteArray& target);
