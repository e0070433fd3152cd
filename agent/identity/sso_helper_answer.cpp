#include "sso_helper_answer.h"

#include "sso32_protocol.h"

#include <QtEndian>

int tnw_sso_answer_size(char request)
{
    switch (request) {
    case TNW_SSO32_LOAD:
    case TNW_SSO32_RUNNING:
    case TNW_SSO32_RELEASE:
        return TNW_SSO32_ANSWER_SIZE;
    case TNW_SSO32_USER:
        return TNW_SSO32_USER_ANSWER_SIZE;
    default:
        return 0;
    }
}

namespace {

bool allowed_status(char request, int status)
{
    switch (request) {
    case TNW_SSO32_LOAD:
        return status == TNW_SSO32_DONE || status == TNW_SSO32_NOT_LOADED;
    case TNW_SSO32_RUNNING:
    case TNW_SSO32_USER:
        return status == TNW_SSO32_DONE || status == TNW_SSO32_NO_EXPORT;
    default:
        return status == TNW_SSO32_DONE;
    }
}

} // namespace

bool tnw_sso_read_answer(char request, const QByteArray& bytes, tnw_sso_helper_answer& answer)
{
    const int size = tnw_sso_answer_size(request);
    if (size == 0 || bytes.size() != size || bytes.at(0) != request)
        return false;
    const int status = static_cast<unsigned char>(bytes.at(1));
    if (!allowed_status(request, status))
        return false;
    answer.status = status;
    answer.number = qFromLittleEndian<qint32>(bytes.constData() + 2);
    answer.user_id.clear();
    answer.second.clear();
    if (request == TNW_SSO32_USER) {
        answer.user_id = bytes.mid(TNW_SSO32_ANSWER_SIZE, TNW_SSO32_AREA_SIZE);
        answer.second = bytes.mid(TNW_SSO32_ANSWER_SIZE + TNW_SSO32_AREA_SIZE, TNW_SSO32_AREA_SIZE);
    }
    return true;
}
