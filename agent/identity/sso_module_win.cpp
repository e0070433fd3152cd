#include "sso_module.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <windows.h>

namespace tnw_sso_module {

namespace {

QString load_failure(DWORD error)
{
    switch (error) {
    case ERROR_MOD_NOT_FOUND:
        return QStringLiteral("a DLL it needs is missing");
    case ERROR_BAD_EXE_FORMAT:
        return QStringLiteral("not a 64-bit library");
    default:
        return QStringLiteral("the library could not be loaded");
    }
}

// The machine its PE header names, or 0 when the file is no PE file.
quint16 pe_machine(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray dos = file.read(64);
    if (dos.size() != 64 || !dos.startsWith("MZ"))
        return 0;
    const quint32 pe_offset = qFromLittleEndian<quint32>(dos.constData() + 0x3c);
    if (!file.seek(pe_offset))
        return 0;
    const QByteArray header = file.read(6);
    if (header.size() != 6 || !header.startsWith(QByteArray("PE\0\0", 4)))
        return 0;
    return qFromLittleEndian<quint16>(header.constData() + 4);
}

} // namespace

handle open(const QString& path, QString& failure, bool& x86_library)
{
    x86_library = false;
    if (path.isEmpty())
        return nullptr;
    // The DLLs the client imports are looked for in its own folder, then in the program's and
    // the system's; never in the current folder or along PATH. Searching the library's own
    // folder takes a full path with backslashes.
    const QString full_path = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
    HMODULE module =
        LoadLibraryExW(reinterpret_cast<const wchar_t*>(full_path.utf16()), nullptr,
                       LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    if (module)
        return module;
    const DWORD error = GetLastError();
    if (error == ERROR_BAD_EXE_FORMAT && pe_machine(full_path) == IMAGE_FILE_MACHINE_I386) {
        x86_library = true;
        return nullptr;
    }
    // No client installed: nothing more to say than the caller's own line. The error code
    // cannot tell: a missing file and a missing DLL that the file imports may both give 126.
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND &&
        QFileInfo(full_path).isFile())
        failure = load_failure_line(path, error);
    return nullptr;
}

QString load_failure_line(const QString& path, unsigned long error)
{
    return QStringLiteral("Loading %1 failed with error %2: %3")
        .arg(path)
        .arg(error)
        .arg(load_failure(error));
}

entry find(handle module, const char* name)
{
    // A null handle would make GetProcAddress search the program's own exports.
    if (!module)
        return nullptr;
    return reinterpret_cast<entry>(GetProcAddress(static_cast<HMODULE>(module), name));
}

bool close(handle module)
{
    return module && FreeLibrary(static_cast<HMODULE>(module)) != FALSE;
}

} // namespace tnw_sso_module
