#include "sso_user_area.h"

bool tnw_sso_read_user_id(const char* area, QByteArray& user_id)
{
    const uint length = qstrnlen(area, tnw_sso_area_size);
    if (length == uint(tnw_sso_area_size))
        return false;
    user_id = QByteArray(area, int(length));
    return true;
}
