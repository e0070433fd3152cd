#include "tnw_selvane_sso.h"

#include <QDebug>

tnw_selvane_sso::tnw_selvane_sso(QObject* parent)
    : tnw_selvane_sso(parent, QStringLiteral(TARNWELL_SSO_LIBRARY))
{}

tnw_selvane_sso::tnw_selvane_sso(QObject* parent, const QString& library_path)
    : QObject(parent), m_library_path(library_path)
{}

tnw_selvane_sso::~tnw_selvane_sso() = default;

bool tnw_selvane_sso::load_library()
{
    // A second load would lose the first handle.
    if (m_module || m_helper)
        return true;
    QString failure;
    bool x86_library = false;
    m_module = tnw_sso_module::open(m_library_path, failure, x86_library);
    if (m_module)
        return true;
    if (x86_library) {
        m_helper = tnw_sso_helper::start(m_library_path, failure);
        if (m_helper)
            return true;
    }
    // The path as it is, a blank, then " not found": two operands of the stream.
    qInfo().noquote() << m_library_path << " not found";
    // A library that is there but does not load would otherwise look like no client at all.
    if (!failure.isEmpty())
        qInfo().noquote() << failure;
    return false;
}

int tnw_selvane_sso::is_safe_pc_running()
{
    if (m_helper) {
        const tnw_sso_helper::reply reply = m_helper->is_safe_pc_running();
        return reply.what == tnw_sso_helper::outcome::answered ? reply.result : -1;
    }
    const auto running = reinterpret_cast<tnw_is_safe_pc_running_fn>(
        tnw_sso_module::find(m_module, "IsSafePCRunning"));
    // Without the export the agent cannot say it runs; the caller takes any value but 3 so.
    if (!running)
        return -1;
    return running();
}

int tnw_selvane_sso::get_curr_user_info(char* second_area, char* user_id_area)
{
    if (m_helper) {
        const tnw_sso_helper::reply reply = m_helper->get_curr_user_info(user_id_area, second_area);
        if (reply.what != tnw_sso_helper::outcome::no_export)
            return reply.what == tnw_sso_helper::outcome::answered ? reply.result : -1;
    } else if (const auto user_info = reinterpret_cast<tnw_get_curr_user_info_fn>(
                   tnw_sso_module::find(m_module, "GetCurrUserInfo"))) {
        return user_info(1, user_id_area, second_area);
    }
    qInfo() << "Get Current User Info Get Proc Address Failed";
    return -1;
}

bool tnw_selvane_sso::free_library()
{
    if (m_helper) {
        const bool released = m_helper->release();
        m_helper.reset();
        return released;
    }
    const bool released = tnw_sso_module::close(m_module);
    m_module = nullptr;
    return released;
}
