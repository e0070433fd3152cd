#include "sso_helper.h"

#include "sso32_protocol.h"
#include "sso_helper_answer.h"
#include "sso_module.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QtEndian>

#include <cstring>
#include <vector>

#include <windows.h>

namespace {

// Starting a 32-bit process and loading the library take longer than a query.
constexpr DWORD load_wait_ms = 10000;
constexpr DWORD query_wait_ms = 5000;
// Far more than any answer: the requests are small and never block on a full pipe.
constexpr DWORD pipe_buffer = 64 * 1024;

void close_handle(HANDLE& handle)
{
    if (handle && handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
    handle = nullptr;
}

} // namespace

struct tnw_sso_helper::process
{
    HANDLE handle = nullptr;
    // Ends the helper when the agent ends, however it ends.
    HANDLE job = nullptr;
    HANDLE requests = nullptr;
    HANDLE answers = nullptr;

    ~process() { end(); }

    void end()
    {
        if (handle) {
            TerminateProcess(handle, 1);
            WaitForSingleObject(handle, 2000);
        }
        close_handle(handle);
        close_handle(requests);
        close_handle(answers);
        close_handle(job);
    }

    bool send(const QByteArray& bytes)
    {
        DWORD written = 0;
        return WriteFile(requests, bytes.constData(), DWORD(bytes.size()), &written, nullptr) &&
               written == DWORD(bytes.size());
    }

    // Up to size bytes, and whatever more the helper sent at once (an answer too long), within
    // the wait; fewer when the helper ended or the time ran out.
    QByteArray receive(int size, DWORD wait_ms)
    {
        QByteArray bytes;
        const ULONGLONG deadline = GetTickCount64() + wait_ms;
        bool ended = false;
        while (bytes.size() < size) {
            DWORD available = 0;
            if (!PeekNamedPipe(answers, nullptr, 0, nullptr, &available, nullptr))
                return bytes; // the helper's end is closed: it ended
            if (available == 0) {
                const ULONGLONG now = GetTickCount64();
                if (ended || now >= deadline)
                    return bytes;
                // Returns at once when the helper ends; the pipe is looked at once more then.
                ended = WaitForSingleObject(handle, DWORD(qMin<ULONGLONG>(deadline - now, 5))) ==
                        WAIT_OBJECT_0;
                continue;
            }
            const int old_size = bytes.size();
            bytes.resize(old_size + int(available));
            DWORD got = 0;
            if (!ReadFile(answers, bytes.data() + old_size, available, &got, nullptr)) {
                bytes.resize(old_size);
                return bytes;
            }
            bytes.resize(old_size + int(got));
        }
        return bytes;
    }

    // The answer to one request; false with the helper ended and why said in why.
    bool ask(char request, const QByteArray& arguments, DWORD wait_ms,
             tnw_sso_helper_answer& answer, QString& why)
    {
        if (!handle) {
            why = QStringLiteral("the 32-bit SSO helper was ended before");
            return false;
        }
        const int size = tnw_sso_answer_size(request);
        const QByteArray bytes =
            send(QByteArray(1, request) + arguments) ? receive(size, wait_ms) : QByteArray();
        if (tnw_sso_read_answer(request, bytes, answer))
            return true;
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(handle, &code);
        if (code != STILL_ACTIVE)
            why = QStringLiteral("the 32-bit SSO helper ended with exit code %1").arg(code);
        else if (bytes.size() < size)
            why = QStringLiteral("the 32-bit SSO helper did not answer within %1 s: ended")
                      .arg(wait_ms / 1000);
        else
            why = QStringLiteral("the 32-bit SSO helper gave a malformed answer: ended");
        end();
        return false;
    }

    // A query's answer; false, with a line for the log, when there was none.
    bool query(char request, tnw_sso_helper_answer& answer)
    {
        QString why;
        if (ask(request, QByteArray(), query_wait_ms, answer, why))
            return true;
        qInfo().noquote() << QStringLiteral("SSO query failed: %1").arg(why);
        return false;
    }
};

tnw_sso_helper::tnw_sso_helper(std::unique_ptr<process> running) : m_process(std::move(running)) {}

tnw_sso_helper::~tnw_sso_helper() = default;

std::unique_ptr<tnw_sso_helper> tnw_sso_helper::start(const QString& library_path, QString& failure)
{
    const QString full_path = QDir::toNativeSeparators(QFileInfo(library_path).absoluteFilePath());
    // The program's own folder (Qt asks the loader): never the current folder, never PATH.
    const QString folder = QCoreApplication::applicationDirPath();
    const QString program =
        QDir::toNativeSeparators(folder + QLatin1Char('/') + QLatin1String(TNW_SSO32_PROGRAM_NAME));
    const QString prefix =
        QStringLiteral("Loading %1 failed: a 32-bit library, and ").arg(library_path);
    if (folder.isEmpty() || !QFileInfo(program).isFile()) {
        failure = prefix + QStringLiteral("the 32-bit helper %1 is missing").arg(program);
        return nullptr;
    }
    if (full_path.size() > TNW_SSO32_PATH_MAX) {
        failure = prefix + QStringLiteral("its path is too long for the 32-bit helper");
        return nullptr;
    }

    auto running = std::make_unique<process>();
    // Not inheritable: only the two ends named in the list below reach the helper, and no
    // other process that the agent starts gets any of them.
    HANDLE helper_requests = nullptr;
    HANDLE helper_answers = nullptr;
    if (!CreatePipe(&helper_requests, &running->requests, nullptr, pipe_buffer))
        helper_requests = nullptr;
    if (helper_requests && !CreatePipe(&running->answers, &helper_answers, nullptr, pipe_buffer))
        helper_answers = nullptr;
    const auto give_up = [&](const QString& why) {
        failure = prefix + why;
        close_handle(helper_requests);
        close_handle(helper_answers);
        return nullptr;
    };
    if (!helper_requests || !helper_answers)
        return give_up(QStringLiteral("no pipe to its helper (error %1)").arg(GetLastError()));
    SetHandleInformation(helper_requests, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    SetHandleInformation(helper_answers, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);

    HANDLE inherited[] = {helper_requests, helper_answers};
    SIZE_T list_size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &list_size);
    std::vector<char> list_memory(list_size);
    const auto list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list_memory.data());
    if (!InitializeProcThreadAttributeList(list, 1, 0, &list_size))
        return give_up(QStringLiteral("no start of its helper (error %1)").arg(GetLastError()));
    const bool listed = UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                                  inherited, sizeof inherited, nullptr, nullptr);

    STARTUPINFOEXW startup;
    std::memset(&startup, 0, sizeof startup);
    startup.StartupInfo.cb = sizeof startup;
    startup.lpAttributeList = list;
    // The application is named: no search, no shell. The command line carries the handles.
    QString command_line = QStringLiteral("\"%1\" %2 %3")
                               .arg(program)
                               .arg(quintptr(helper_requests), 0, 16)
                               .arg(quintptr(helper_answers), 0, 16);
    std::vector<wchar_t> command(size_t(command_line.size()) + 1, L'\0');
    command_line.toWCharArray(command.data());
    PROCESS_INFORMATION info;
    std::memset(&info, 0, sizeof info);
    const BOOL started =
        listed && CreateProcessW(reinterpret_cast<const wchar_t*>(program.utf16()), command.data(),
                                 nullptr, nullptr, TRUE,
                                 CREATE_SUSPENDED | CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT,
                                 nullptr, nullptr, &startup.StartupInfo, &info);
    const DWORD start_error = GetLastError();
    DeleteProcThreadAttributeList(list);
    close_handle(helper_requests);
    close_handle(helper_answers);
    if (!started) {
        failure =
            prefix +
            QStringLiteral("its helper %1 did not start (error %2)").arg(program).arg(start_error);
        return nullptr;
    }
    running->handle = info.hProcess;
    running->job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
    std::memset(&limits, 0, sizeof limits);
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
    // Without a job (the agent's own job may forbid one), the helper still ends with its
    // input, when the agent's end of the pipe closes.
    if (!running->job ||
        !SetInformationJobObject(running->job, JobObjectExtendedLimitInformation, &limits,
                                 sizeof limits) ||
        !AssignProcessToJobObject(running->job, info.hProcess))
        close_handle(running->job);
    ResumeThread(info.hThread);
    CloseHandle(info.hThread);

    QByteArray arguments(4, '\0');
    qToLittleEndian<quint32>(quint32(full_path.size()), arguments.data());
    arguments.append(reinterpret_cast<const char*>(full_path.utf16()), full_path.size() * 2);
    tnw_sso_helper_answer answer;
    QString why;
    if (!running->ask(TNW_SSO32_LOAD, arguments, load_wait_ms, answer, why)) {
        failure = prefix + why;
        return nullptr;
    }
    // The file is there (its header was read): the helper's loader refused it.
    if (answer.status != TNW_SSO32_DONE) {
        failure = tnw_sso_module::load_failure_line(library_path, DWORD(answer.number));
        return nullptr;
    }
    return std::unique_ptr<tnw_sso_helper>(new tnw_sso_helper(std::move(running)));
}

tnw_sso_helper::reply tnw_sso_helper::is_safe_pc_running()
{
    tnw_sso_helper_answer answer;
    if (!m_process->query(TNW_SSO32_RUNNING, answer))
        return {};
    if (answer.status == TNW_SSO32_NO_EXPORT)
        return {outcome::no_export, -1};
    return {outcome::answered, answer.number};
}

tnw_sso_helper::reply tnw_sso_helper::get_curr_user_info(char* user_id_area, char* second_area)
{
    tnw_sso_helper_answer answer;
    if (!m_process->query(TNW_SSO32_USER, answer))
        return {};
    if (answer.status == TNW_SSO32_NO_EXPORT)
        return {outcome::no_export, -1};
    std::memcpy(user_id_area, answer.user_id.constData(), TNW_SSO32_AREA_SIZE);
    std::memcpy(second_area, answer.second.constData(), TNW_SSO32_AREA_SIZE);
    return {outcome::answered, answer.number};
}

bool tnw_sso_helper::release()
{
    tnw_sso_helper_answer answer;
    const bool released = m_process->query(TNW_SSO32_RELEASE, answer) && answer.number == 1;
    // It ends by itself after the answer; whatever is left of it is ended here.
    if (m_process->handle)
        WaitForSingleObject(m_process->handle, query_wait_ms);
    m_process->end();
    return released;
}
