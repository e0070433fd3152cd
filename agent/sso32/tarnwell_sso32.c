/* tarnwell-sso32.exe: loads a 32-bit SSO client library, which the 64-bit agent cannot load
 * itself, and answers the agent's requests over the two pipes it inherits (sso32_protocol.h).
 * A fault in the library ends this process, never the agent: the agent then counts the request
 * as the export's failure. */
#include "sso32_protocol.h"

#include <windows.h>

#include <shellapi.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

typedef int(__cdecl* running_fn)(void);
typedef int(__cdecl* user_info_fn)(int kind, char* user_id, char* second);

static HANDLE requests = INVALID_HANDLE_VALUE;
static HANDLE answers = INVALID_HANDLE_VALUE;
static HMODULE library = NULL;

/* A crash in the library ends the process with a code, and shows no box that nobody would
 * close. */
static LONG WINAPI on_crash(EXCEPTION_POINTERS* exception)
{
    (void)exception;
    TerminateProcess(GetCurrentProcess(), TNW_SSO32_EXIT_CRASH);
    return EXCEPTION_EXECUTE_HANDLER;
}

static int read_all(void* buffer, DWORD size)
{
    char* at = (char*)buffer;
    while (size > 0) {
        DWORD got = 0;
        if (!ReadFile(requests, at, size, &got, NULL) || got == 0)
            return 0;
        at += got;
        size -= got;
    }
    return 1;
}

static int write_all(const void* buffer, DWORD size)
{
    const char* at = (const char*)buffer;
    while (size > 0) {
        DWORD put = 0;
        if (!WriteFile(answers, at, size, &put, NULL) || put == 0)
            return 0;
        at += put;
        size -= put;
    }
    return 1;
}

static void put_number(unsigned char* at, unsigned long number)
{
    at[0] = (unsigned char)(number & 0xff);
    at[1] = (unsigned char)((number >> 8) & 0xff);
    at[2] = (unsigned char)((number >> 16) & 0xff);
    at[3] = (unsigned char)((number >> 24) & 0xff);
}

/* The answer's head, then the areas when there are any, in one write. */
static int answer(char request, int status, unsigned long number, const char* user_id,
                  const char* second)
{
    unsigned char message[TNW_SSO32_USER_ANSWER_SIZE];
    DWORD size = TNW_SSO32_ANSWER_SIZE;
    message[0] = (unsigned char)request;
    message[1] = (unsigned char)status;
    put_number(message + 2, number);
    if (user_id) {
        memcpy(message + TNW_SSO32_ANSWER_SIZE, user_id, TNW_SSO32_AREA_SIZE);
        memcpy(message + TNW_SSO32_ANSWER_SIZE + TNW_SSO32_AREA_SIZE, second, TNW_SSO32_AREA_SIZE);
        size = TNW_SSO32_USER_ANSWER_SIZE;
    }
    return write_all(message, size);
}

static int load(void)
{
    unsigned char length_bytes[4];
    static wchar_t path[TNW_SSO32_PATH_MAX + 1];
    unsigned long length;
    if (!read_all(length_bytes, sizeof length_bytes))
        return 0;
    length = length_bytes[0] | (length_bytes[1] << 8) | ((unsigned long)length_bytes[2] << 16) |
             ((unsigned long)length_bytes[3] << 24);
    if (library || length == 0 || length > TNW_SSO32_PATH_MAX ||
        !read_all(path, (DWORD)(length * sizeof(wchar_t))))
        return 0;
    path[length] = L'\0';
    /* As the agent loads a client: the DLLs it imports come from its own folder, then the
     * system's; never from the current folder or along PATH. */
    library = LoadLibraryExW(path, NULL,
                             LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    if (!library)
        return answer(TNW_SSO32_LOAD, TNW_SSO32_NOT_LOADED, GetLastError(), NULL, NULL);
    return answer(TNW_SSO32_LOAD, TNW_SSO32_DONE, 0, NULL, NULL);
}

static int running(void)
{
    const running_fn export_fn =
        library ? (running_fn)(void (*)(void))GetProcAddress(library, "IsSafePCRunning") : NULL;
    if (!export_fn)
        return answer(TNW_SSO32_RUNNING, TNW_SSO32_NO_EXPORT, 0, NULL, NULL);
    return answer(TNW_SSO32_RUNNING, TNW_SSO32_DONE, (unsigned long)export_fn(), NULL, NULL);
}

static int user_info(void)
{
    char user_id[TNW_SSO32_AREA_SIZE];
    char second[TNW_SSO32_AREA_SIZE];
    const user_info_fn export_fn =
        library ? (user_info_fn)(void (*)(void))GetProcAddress(library, "GetCurrUserInfo") : NULL;
    memset(user_id, 0, sizeof user_id);
    memset(second, 0, sizeof second);
    if (!export_fn)
        return answer(TNW_SSO32_USER, TNW_SSO32_NO_EXPORT, 0, user_id, second);
    {
        const int result = export_fn(1, user_id, second);
        return answer(TNW_SSO32_USER, TNW_SSO32_DONE, (unsigned long)result, user_id, second);
    }
}

/* The two handle values after the program's name. */
static int take_handles(void)
{
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!arguments)
        return 0;
    if (count == 3) {
        requests = (HANDLE)(ULONG_PTR)wcstoul(arguments[1], NULL, 16);
        answers = (HANDLE)(ULONG_PTR)wcstoul(arguments[2], NULL, 16);
    }
    LocalFree(arguments);
    return count == 3 && GetFileType(requests) == FILE_TYPE_PIPE &&
           GetFileType(answers) == FILE_TYPE_PIPE;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR command_line, int show)
{
    (void)instance;
    (void)previous;
    (void)command_line;
    (void)show;
    SetErrorMode(SEM_NOGPFAULTERRORBOX | SEM_FAILCRITICALERRORS);
    SetUnhandledExceptionFilter(on_crash);
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    if (!take_handles())
        return TNW_SSO32_EXIT_USAGE;
    for (;;) {
        char request;
        int ok;
        if (!read_all(&request, 1))
            return 0;
        switch (request) {
        case TNW_SSO32_LOAD:
            ok = load();
            break;
        case TNW_SSO32_RUNNING:
            ok = running();
            break;
        case TNW_SSO32_USER:
            ok = user_info();
            break;
        case TNW_SSO32_RELEASE: {
            const BOOL released = library && FreeLibrary(library);
            library = NULL;
            answer(TNW_SSO32_RELEASE, TNW_SSO32_DONE, released ? 1 : 0, NULL, NULL);
            return 0;
        }
        default:
            return TNW_SSO32_EXIT_PROTOCOL;
        }
        if (!ok)
            return TNW_SSO32_EXIT_PROTOCOL;
    }
}
