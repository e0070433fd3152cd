/* The MSI's check of the settings given at install (SERVER_IP, SERVER_PORT,
 * ENABLE_CERTIFICATE_VERIFICATION), run as an immediate custom action before anything is
 * written: a value that server.ini cannot hold as one plain value of its key ends the install
 * with the reason, shown in a box and written to the installer's log. The installer
 * (tarnwell.nsi) checks the same rules itself; the README's table states them. */
#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <wchar.h>

/* Longer than any value that passes: a longer one is refused without being read whole. */
#define VALUE_SIZE 512

static int in_set(wchar_t c, const wchar_t* set)
{
    return c != 0 && wcschr(set, c) != NULL;
}

/* A host name or an address in ASCII: no blank, control character or INI syntax (; , " [ ] =)
 * that would end the value, start a comment, a list or a section, or add a key. */
static int valid_server_ip(const wchar_t* value, size_t length)
{
    size_t i;
    if (length > 253)
        return 0;
    for (i = 0; i < length; ++i) {
        const wchar_t c = value[i];
        if (!((c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
              in_set(c, L".-_:")))
            return 0;
    }
    return 1;
}

/* Digits alone, no leading zero, 1 to 65535. */
static int valid_server_port(const wchar_t* value, size_t length)
{
    size_t i;
    long number = 0;
    if (length > 5 || value[0] == L'0')
        return 0;
    for (i = 0; i < length; ++i) {
        if (value[i] < L'0' || value[i] > L'9')
            return 0;
        number = number * 10 + (value[i] - L'0');
    }
    return number >= 1 && number <= 65535;
}

static int valid_switch(const wchar_t* value, size_t length)
{
    (void)length;
    return wcscmp(value, L"true") == 0 || wcscmp(value, L"false") == 0;
}

struct setting
{
    const wchar_t* property;
    int (*valid)(const wchar_t* value, size_t length);
    const wchar_t* reason;
};

static const struct setting settings[] = {
    {L"SERVER_IP", valid_server_ip,
     L"SERVER_IP must be a host name or IP address of at most 253 characters: ASCII letters, "
     L"digits, '.', '-', '_' and ':' only."},
    {L"SERVER_PORT", valid_server_port, L"SERVER_PORT must be a number from 1 to 65535."},
    {L"ENABLE_CERTIFICATE_VERIFICATION", valid_switch,
     L"ENABLE_CERTIFICATE_VERIFICATION must be true or false."},
};

static void report(MSIHANDLE install, const wchar_t* reason)
{
    const MSIHANDLE record = MsiCreateRecord(1);
    /* Field 0 is a template: the reason goes in as data, never formatted itself. */
    MsiRecordSetStringW(record, 0, L"Tarnwell setup: [1]");
    MsiRecordSetStringW(record, 1, reason);
    MsiProcessMessage(install, (INSTALLMESSAGE)(INSTALLMESSAGE_ERROR | MB_OK | MB_ICONERROR),
                      record);
    MsiCloseHandle(record);
}

__declspec(dllexport) UINT __stdcall CheckSettings(MSIHANDLE install)
{
    size_t i;
    for (i = 0; i < sizeof settings / sizeof settings[0]; ++i) {
        wchar_t value[VALUE_SIZE];
        DWORD length = VALUE_SIZE;
        const UINT read = MsiGetPropertyW(install, settings[i].property, value, &length);
        /* Not given, or given empty: the key in server.ini stays as it is. */
        if (read == ERROR_SUCCESS && length == 0)
            continue;
        if (read != ERROR_SUCCESS || !settings[i].valid(value, length)) {
            report(install, settings[i].reason);
            return ERROR_INSTALL_FAILURE;
        }
    }
    return ERROR_SUCCESS;
}
