#include "signon_flow.h"

#include "browser/run_browser.h"
#include "identity/sso_user_area.h"
#include "identity/tnw_selvane_sso.h"
#include "param_cipher.h"
#include "param_codec.h"
#include "server/tnw_selvane_auth.h"
#include "signon_parameter.h"
#include "tnw_selvane_openssl.h"

#include <QByteArray>
#include <QDebug>
#include <QObject>
#include <QVector>

namespace {

// Whom the user was found to be, or why not.
struct identity
{
    bool found = false;
    QString user_id;
    QString failure_text; // the box text when not found
};

identity from_account(const tnw_platform& platform)
{
    QString principal;
    if (!platform.account_name || !platform.account_name(principal)) {
        qWarning("AD Server not found");
        return {false, QString(), QObject::tr("The SSO auth failed.")};
    }
    qInfo() << principal;
    return {true, principal.split(QLatin1Char('@')).first(), QString()};
}

identity from_sso_agent(tnw_selvane_sso& sso)
{
    if (sso.is_safe_pc_running() != tnw_sso_agent_running) {
        qWarning("SSO Agent Not Running");
        return {false, QString(), QObject::tr("The SSO agent is not running.")};
    }
    tnw_sso_areas areas;
    QByteArray user_id;
    if (sso.get_curr_user_info(areas.second, areas.user_id) != 0 ||
        !tnw_sso_read_user_id(areas.user_id, user_id)) {
        qWarning("User Information is unkown");
        return {false, QString(), QObject::tr("User information could not be verified.")};
    }
    qInfo() << user_id.constData();
    return {true, QString::fromUtf8(user_id), QString()};
}

identity find_identity(const tnw_platform& platform, tnw_selvane_sso& sso)
{
    if (!sso.load_library())
        return from_account(platform);
    const identity who = from_sso_agent(sso);
    sso.free_library();
    return who;
}

// The encoded, encrypted parameter; false when encryption failed.
bool encrypted_parameter(const QString& parameter, QString& encoded)
{
    const QByteArray input = parameter.toUtf8();
    const int capacity = tnw_param_cipher::ciphertext_size(input.size());
    if (capacity < 0)
        return false;
    QVector<unsigned char> area(capacity, 0);
    tnw_selvane_openssl encryptor(nullptr);
    const int written = encryptor.encrypt(input.constData(), input.size(), area.data(), capacity);
    if (written < 0)
        return false;
    encoded = tnw_param_encode(
        QByteArray::fromRawData(reinterpret_cast<const char*>(area.constData()), written));
    return true;
}

int fail(const tnw_platform& platform, const QString& text, tnw_selvane_auth& auth,
         const QString& request_path)
{
    platform.show_box(tnw_box_kind::information, QObject::tr("auth"), text);
    run_browser(tnw_failure_address(auth.get_url(QString()), request_path), auth.get_server_ip(),
                auth.m_server_port, platform);
    return -1;
}

} // namespace

int tnw_sign_on(const QString& request_path, const tnw_platform& platform)
{
    tnw_selvane_auth auth(nullptr);
    auth.load_server_config();

    tnw_selvane_sso sso(nullptr, platform.sso_library_path);
    const identity who = find_identity(platform, sso);
    if (!who.found)
        return fail(platform, who.failure_text, auth, request_path);

    const QString parameter = tnw_parameter_string(
        who.user_id, tnw_time_stamp(QDateTime::currentDateTime()), request_path);
    qDebug() << parameter;
    QString encoded;
    if (!encrypted_parameter(parameter, encoded)) {
        qWarning("Parameter encryption failed");
        return fail(platform, QObject::tr("The SSO auth failed."), auth, request_path);
    }
    qDebug() << encoded;

    const QString address =
        auth.get_url(QString()) + QStringLiteral("/signin/sso?param=") + encoded;
    qInfo() << "full path : " << address;
    run_browser(address, auth.get_server_ip(), auth.m_server_port, platform);
    return 1;
}
