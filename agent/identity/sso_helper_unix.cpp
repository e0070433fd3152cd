#include "sso_helper.h"

// Every library the agent can load here has its own bitness: no helper.
struct tnw_sso_helper::process
{
};

tnw_sso_helper::tnw_sso_helper(std::unique_ptr<process> running) : m_process(std::move(running)) {}

tnw_sso_helper::~tnw_sso_helper() = default;

std::unique_ptr<tnw_sso_helper> tnw_sso_helper::start(const QString&, QString& failure)
{
    failure = QStringLiteral("no 32-bit helper on this platform");
    return nullptr;
}

tnw_sso_helper::reply tnw_sso_helper::is_safe_pc_running()
{
    return {};
}

tnw_sso_helper::reply tnw_sso_helper::get_curr_user_info(char*, char*)
{
    return {};
}

bool tnw_sso_helper::release()
{
    return false;
}
