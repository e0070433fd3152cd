#pragma once

#include <QString>

// The "ip" setting is the administrator's text, put verbatim into the sign-on address that the
// browser opens. These two readings keep that address and the reachability probe on the same
// host.

// The host for the probe: an IPv4 literal, an IPv6 literal without its brackets, or a host
// name. False for anything else (an "@", "/", "?", "#", blank, quote or control character, a
// "%" other than as an IPv6 zone index, an empty text): the browser would read such an address
// as another host, or as no address at all.
bool tnw_probe_host(const QString& ip, QString& host);

// The host part of the base address: an IPv6 literal (with or without brackets in the setting)
// in brackets, its zone index with the "%" written as "%25"; any other text as it stands.
QString tnw_url_host(const QString& ip);
