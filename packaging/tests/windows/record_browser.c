/* A stand-in browser for the wine package test: appends the arguments it was started with, as
 * Windows splits its command line, to "<own path>.calls" in UTF-8: the count, then each
 * argument, separated by tabs, one line per start. */
#include <windows.h>

#include <shellapi.h>
#include <stdio.h>
#include <wchar.h>

static void write_utf8(FILE* file, const wchar_t* text)
{
    char buffer[8192];
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof buffer, NULL, NULL);
    if (size > 0)
        fputs(buffer, file);
}

int wmain(void)
{
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    wchar_t path[MAX_PATH + 8];
    const DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
    if (!arguments || length == 0 || length >= MAX_PATH)
        return 1;
    wcscat(path, L".calls");
    FILE* file = _wfopen(path, L"ab");
    if (!file)
        return 1;
    fprintf(file, "%d", count - 1);
    for (int i = 1; i < count; ++i) {
        fputc('\t', file);
        write_utf8(file, arguments[i]);
    }
    fputc('\n', file);
    fclose(file);
    LocalFree(arguments);
    return 0;
}
