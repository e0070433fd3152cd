// A host process for the teardown tests: it loads the log library through a small host library,
// logs, then ends in the way its first argument names. The test reads its exit status, its
// output and the log file it leaves.
#include <QCoreApplication>
#include <QDateTime>
#include <QString>
#include <QtGlobal>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <thread>

namespace {

std::atomic<int> g_worker_lines{0};

using export_function = void (*)(const char*, ...);
// The export INFO, for the modes that log through it at exit too.
export_function g_info = nullptr;
bool g_goodbye_line = true;

// Built before main, so destroyed after everything main sets up, the log library's own
// clean-up included.
struct says_goodbye
{
    ~says_goodbye()
    {
        if (g_worker_lines.load() > 0)
            std::printf("worker lines before teardown: %d\n", g_worker_lines.load());
        if (g_goodbye_line)
            qWarning("from a static destructor");
        if (g_info)
            g_info("from a static destructor %s", "through INFO");
    }
};
says_goodbye g_goodbye;

// Registered before the library first runs, so it runs after the library's clean-up.
void log_at_exit()
{
    qInfo("from an earlier at-exit function");
    g_info("from an earlier at-exit function %s", "through INFO");
}

void host_handler(QtMsgType, const QMessageLogContext&, const QString& message)
{
    std::fprintf(stderr, "host handler: %s\n", qPrintable(message));
}

std::atomic<bool> g_exiting{false};
std::atomic<bool> g_parked{false};

// The library reads its clock with its lock held, inside the handler: once the process is
// ending, the worker stays there a while, so the library's clean-up finds a line being written,
// and from then on the clock is a second ahead, so that line needs a fresh time stamp.
qint64 parking_clock()
{
    if (!g_exiting.load())
        return QDateTime::currentMSecsSinceEpoch();
    if (!g_parked.load()) {
        g_parked.store(true);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return QDateTime::currentMSecsSinceEpoch() + 1000;
}

// Registered after the library's clean-up, so it runs just before it.
void park_worker()
{
    g_exiting.store(true);
    while (!g_parked.load())
        std::this_thread::yield();
}

// Calls the library's handler itself, as a host that chains handlers would, so that it keeps
// doing so after the library has let go of Qt's message output.
void log_for_ever(QtMessageHandler handler)
{
    const QMessageLogContext context;
    for (int i = 0;; ++i) {
        handler(QtInfoMsg, context, QStringLiteral("worker line %1").arg(i));
        g_worker_lines.store(i + 1);
    }
}

// Eight threads log for ever, through Qt's message output or through the exports, while main
// returns and the process is torn down under them.
void start_busy_threads(bool through_qt, void* shim)
{
    const auto info = reinterpret_cast<export_function>(::dlsym(shim, "INFO"));
    for (int t = 0; t < 8; ++t) {
        std::thread([through_qt, info] {
            for (int i = 0;; ++i) {
                if (through_qt)
                    qInfo("busy line %d", i);
                else
                    info("busy line %d", i);
            }
        }).detach();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3)
        return 2;
    const QByteArray mode(argv[1]);
    void* shim = ::dlopen(argv[2], RTLD_NOW | RTLD_LOCAL);
    if (!shim) {
        std::fprintf(stderr, "%s\n", ::dlerror());
        return 3;
    }
    using start_function = void (*)(int);
    const auto start = reinterpret_cast<start_function>(::dlsym(shim, "teardown_shim_start"));
    if (!start)
        return 4;
    const bool threads_log =
        mode == "exit-while-threads-log-qt" || mode == "exit-while-threads-log-exports";
    if (threads_log) {
        // Registered before the library and Qt register theirs, so it runs after their clean-up:
        // a host's own slow clean-up, during which the writers go on with whatever is gone.
        std::atexit([] { std::this_thread::sleep_for(std::chrono::milliseconds(20)); });
    }
    if (mode == "log-at-exit") {
        g_info = reinterpret_cast<export_function>(::dlsym(shim, "INFO"));
        if (!g_info)
            return 7;
        std::atexit(&log_at_exit);
    }
    start(1);
    qInfo("logged by the helper");

    if (mode == "foreign-handler") {
        qInstallMessageHandler(&host_handler);
    } else if (mode == "unload") {
        ::dlclose(shim);
        const bool loaded = ::dlopen(QUILLMARK_SONAME, RTLD_LAZY | RTLD_NOLOAD) != nullptr;
        std::puts(loaded ? "still loaded" : "unloaded");
        std::fflush(stdout);
        qInfo("after unload");
    } else if (mode == "log-at-exit") {
        g_info("logged through %s", "INFO");
    } else if (mode == "exit-while-logging") {
        g_goodbye_line = false; // the worker's lines are the last ones

        using set_clock_function = void (*)(qint64(*)());
        const auto set_clock =
            reinterpret_cast<set_clock_function>(::dlsym(shim, "teardown_shim_set_clock"));
        if (!set_clock)
            return 6;
        set_clock(&parking_clock);
        const QtMessageHandler handler = qInstallMessageHandler(nullptr);
        qInstallMessageHandler(handler);
        std::thread(&log_for_ever, handler).detach();
        while (g_worker_lines.load() < 2000)
            std::this_thread::yield();
        std::atexit(&park_worker);
    } else if (threads_log) {
        start_busy_threads(mode.endsWith("qt"), shim);
    } else if (mode != "exit") {
        return 5;
    }
    return 0;
}
