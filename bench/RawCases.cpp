// The baselines: the raw fetch loop, the raw logout, the generator, and the start-up
// launcher. Nothing here creates a Qt application, so their memory is fbclient's and
// the rows' alone.
#include "Cases.h"
#include "Generate.h"
#include "Measure.h"
#include "RawFirebird.h"

#include <chrono>
#include <cstring>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace bench {
namespace {

const char* const kListStatement = "select * from USER_REGISTRY";

void requireRows(const RawRows& rows, long expected)
{
    if (long(rows.rowCount()) != expected) {
        throw std::runtime_error("read " + std::to_string(rows.rowCount()) + " rows, expected " +
                                 std::to_string(expected));
    }
}

/// One fetch as the list does it: its own transaction, committed after the last row.
void fetchList(Firebird::IAttachment* attachment, RawRows& rows)
{
    Ref<Firebird::ITransaction> transaction = startTransaction(attachment);
    fetchAll(attachment, transaction.get(), kListStatement, rows);
    commit(transaction);
}

/// steady_clock is CLOCK_MONOTONIC on Linux: one clock for every process, so the
/// child's "painted" moment can be set against our start.
long long monotonicNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

int generateCase(const Options& options)
{
    const GenerateResult result =
        generateUserRegistry(options.database, options.rows, options.batch);
    Report report;
    report.add("rows", double(options.rows));
    report.add("create_s", result.createSeconds);
    report.add("load_s", result.loadSeconds);
    report.add("index_s", result.indexSeconds);
    report.add("total_s", result.createSeconds + result.loadSeconds + result.indexSeconds);
    report.print();
    return 0;
}

int rawListCase(const Options& options)
{
    // The window has made its profile connection before the list is asked for, so
    // fbclient (or the embedded engine) is loaded and warm; the same holds here.
    Ref<Firebird::IAttachment> profile = attach(options.database);
    RawRows rows;
    const Stopwatch clock;
    Ref<Firebird::IAttachment> attachment = attach(options.database);
    fetchList(attachment.get(), rows);
    const double seconds = clock.seconds();
    const double cpu = clock.cpuSeconds();
    requireRows(rows, options.rows);
    detach(attachment);
    detach(profile);

    Report report;
    report.add("rows", double(rows.rowCount()));
    report.add("list_s", seconds);
    report.add("cpu_s", cpu);
    report.add("maxrss_kib", double(peakRssKib()));
    report.print();
    return 0;
}

int rawLogoutCase(const Options& options)
{
    // Two attachments, as the window has: lookup and update on one, the list on the other.
    Ref<Firebird::IAttachment> queries = attach(options.database);
    Ref<Firebird::IAttachment> list = attach(options.database);
    auto shown = std::make_unique<RawRows>();
    fetchList(list.get(), *shown);
    requireRows(*shown, options.rows);
    const std::string user = shown->firstText(shown->rowCount() / 2);

    const Stopwatch clock;
    Ref<Firebird::ITransaction> lookup = startTransaction(queries.get());
    const bool found = runWithText(queries.get(), lookup.get(),
                                   "select user_name from user_registry where user_name=?", user);
    commit(lookup);
    if (!found)
        throw std::runtime_error("user " + user + " not found");
    const double lookupSeconds = clock.seconds();
    Ref<Firebird::ITransaction> update = startTransaction(queries.get());
    runWithText(queries.get(), update.get(),
                "update user_registry set user_log_in=0 where user_name=?", user);
    commit(update);
    const double updateSeconds = clock.seconds() - lookupSeconds;
    auto fresh = std::make_unique<RawRows>();
    fetchList(list.get(), *fresh);
    shown = std::move(fresh);
    const double seconds = clock.seconds();
    const double cpu = clock.cpuSeconds();
    requireRows(*shown, options.rows);

    detach(list);
    detach(queries);
    Report report;
    report.add("rows", double(shown->rowCount()));
    report.add("logout_s", seconds);
    report.add("cpu_s", cpu);
    report.add("lookup_update_s", lookupSeconds + updateSeconds);
    report.add("maxrss_kib", double(peakRssKib()));
    report.print();
    return 0;
}

int startupCase(char** argv)
{
    int out[2];
    if (pipe(out) != 0)
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);

    const long long started = monotonicNs();
    pid_t child = 0;
    const int failed = posix_spawn(&child, argv[0], &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (failed)
        throw std::runtime_error(std::string("cannot start ") + argv[0]);

    std::string said;
    char buffer[4096];
    for (ssize_t got; (got = read(out[0], buffer, sizeof buffer)) > 0;)
        said.append(buffer, std::size_t(got));
    close(out[0]);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    const long long ended = monotonicNs();

    const std::string key = "painted_ns=";
    const auto at = said.find(key);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || at == std::string::npos)
        throw std::runtime_error(std::string(argv[0]) + " did not report its first paint");
    const long long painted = std::stoll(said.substr(at + key.size()));

    Report report;
    report.add("startup_s", double(painted - started) / 1e9);
    report.add("process_s", double(ended - started) / 1e9);
    report.add("maxrss_kib", double(usage.ru_maxrss));
    // The child's own CPU time, start to exit: what other load on the machine barely moves.
    const auto seconds = [](const timeval& t) {
        return double(t.tv_sec) + double(t.tv_usec) / 1e6;
    };
    report.add("cpu_s", seconds(usage.ru_utime) + seconds(usage.ru_stime));
    report.print();
    return 0;
}

} // namespace bench
