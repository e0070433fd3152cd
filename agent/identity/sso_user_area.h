#pragma once

#include <QByteArray>

// Each of the two text areas that GetCurrUserInfo fills holds this many bytes, NUL included.
constexpr int tnw_sso_area_size = 260;

// The two areas of one user query, zero-filled.
struct tnw_sso_areas
{
    char user_id[tnw_sso_area_size] = {};
    char second[tnw_sso_area_size] = {};
};

// The user ID in its area, up to the NUL, as 8-bit text (UTF-8). False when the area is full
// to its last byte without a NUL: the text was cut, so the user counts as not returned.
bool tnw_sso_read_user_id(const char* area, QByteArray& user_id);
