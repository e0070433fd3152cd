#pragma once

#include "platform/platform.h"

#include <QString>

// The sign-on after start-up: settings, identity, the encrypted parameter, the browser.
// Returns 1 when the sign-on address was handed to the browser launch, else -1.
int tnw_sign_on(const QString& request_path, const tnw_platform& platform);
