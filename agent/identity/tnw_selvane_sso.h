#pragma once

#include "sso_helper.h"
#include "sso_module.h"

#include <QObject>
#include <QString>

#include <memory>

// What IsSafePCRunning answers when the SSO agent runs; any other answer means it does not.
constexpr int tnw_sso_agent_running = 3;

// Client of the SSO agent's outside library: loads it, asks whether the agent runs and who
// is signed in, and releases it. Lookups are not cached; every query looks its export up.
class tnw_selvane_sso : public QObject
{
    Q_OBJECT

public:
    // Uses the library path the agent was built with.
    explicit tnw_selvane_sso(QObject* parent = nullptr);
    tnw_selvane_sso(QObject* parent, const QString& library_path);
    // Does not release the library: the caller calls free_library() once it is done.
    ~tnw_selvane_sso() override;

    QString library_path() const { return m_library_path; }

    // False, with the info line "<path>  not found", when the library cannot be loaded; when
    // it is there but would not load, a second info line says why. A 32-bit library in the
    // 64-bit agent is loaded by the 32-bit helper (sso_helper.h), and every call below goes
    // there; a request the helper could not answer counts as the export's failure.
    bool load_library();
    // The export's answer unchanged (tnw_sso_agent_running: the agent runs); -1 without
    // library or export.
    int is_safe_pc_running();
    // Asks the export with (1, user_id_area, second_area) and returns its answer unchanged
    // (0: the user ID is in user_id_area). Both areas hold tnw_sso_area_size bytes. The second
    // area comes first here and last in the export's call: callers and the export each keep
    // their own order. -1, with the info line "Get Current User Info Get Proc Address Failed",
    // without the export.
    int get_curr_user_info(char* second_area, char* user_id_area);
    // Releases a loaded library once; false, doing nothing, when none is loaded.
    bool free_library();

private:
    tnw_sso_module::handle m_module = nullptr;
    std::unique_ptr<tnw_sso_helper> m_helper;
    QString m_library_path;
};
