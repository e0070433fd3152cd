#pragma once

#include <QByteArray>

// One answer of the 32-bit helper (sso32_protocol.h), read from its bytes. The bytes come from
// another process, which runs a library nobody here controls: nothing in them is trusted until
// tnw_sso_read_answer() has taken them.
struct tnw_sso_helper_answer
{
    int status = -1;
    qint32 number = 0;
    // The user request's two areas, each exactly TNW_SSO32_AREA_SIZE bytes; empty otherwise.
    QByteArray user_id;
    QByteArray second;
};

// How many bytes the answer to request has; 0 for a byte that is no request.
int tnw_sso_answer_size(char request);

// False, leaving answer as it was, unless bytes are exactly one answer to request: its size,
// its request byte, and a status that the request can have.
bool tnw_sso_read_answer(char request, const QByteArray& bytes, tnw_sso_helper_answer& answer);
