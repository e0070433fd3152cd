#include "platform.h"

#include "identity/account_name.h"
#include "start_detached.h"

#include <QMessageBox>

namespace {

void show_system_box(tnw_box_kind kind, const QString& title, const QString& text)
{
    if (kind == tnw_box_kind::warning)
        QMessageBox::warning(nullptr, title, text, QMessageBox::Ok, QMessageBox::NoButton);
    else
        QMessageBox::information(nullptr, title, text, QMessageBox::Ok, QMessageBox::NoButton);
}

} // namespace

tnw_platform tnw_system_platform()
{
    tnw_platform platform;
    platform.show_box = show_system_box;
    platform.start_detached = tnw_start_detached;
    platform.account_name = tnw_account_principal_name;
    platform.sso_library_path = QStringLiteral(TARNWELL_SSO_LIBRARY);
    return platform;
}
