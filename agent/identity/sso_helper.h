#pragma once

#include <QString>

#include <memory>

// A 32-bit SSO client library cannot load into the 64-bit agent. The agent's 32-bit helper
// program, beside it, loads the library in a process of its own and answers over two pipes;
// a library that crashes or hangs there ends that process, never the agent. Each request waits
// a bounded time; a helper that does not answer in time, or answers what no request asked, is
// ended. Windows only: elsewhere start() never gives a helper.
class tnw_sso_helper
{
public:
    enum class outcome
    {
        answered,  // result holds the export's own answer
        no_export, // the library lacks the export
        failed,    // no answer: the helper crashed, hung or answered out of turn, and is ended
    };
    struct reply
    {
        outcome what = outcome::failed;
        int result = -1;
    };

    // Starts the helper from the program's own folder and has it load the library. Null when
    // it did not, with failure saying why in a line for the log.
    static std::unique_ptr<tnw_sso_helper> start(const QString& library_path, QString& failure);
    // Ends a helper that is still running.
    ~tnw_sso_helper();

    reply is_safe_pc_running();
    // Both areas hold TNW_SSO32_AREA_SIZE bytes and come back whole, as the export left them
    // in the helper (zero-filled first there); untouched when the request failed.
    reply get_curr_user_info(char* user_id_area, char* second_area);
    // Releases the library and ends the helper; true when the helper reports the release done.
    bool release();

private:
    struct process;
    explicit tnw_sso_helper(std::unique_ptr<process> running);
    std::unique_ptr<process> m_process;
};
