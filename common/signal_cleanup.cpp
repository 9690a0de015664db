#include "common/signal_cleanup.h"
#include "common/platform.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

#include "common/system_calls.h"
#include "common/text_format.h"

namespace {

// The handler may neither allocate nor follow a pointer that the main code could be replacing,
// so everything it reads lives in fixed buffers written only under a hold.
constexpr size_t kPathBytes = 4096;
constexpr size_t kReportBytes = 256;
constexpr size_t kSlots = 4;

struct Ending {
    int number;
    const char* name;
};
constexpr std::array<Ending, 8> kEndings = {{
    {SIGINT, "SIGINT"},
    {SIGTERM, "SIGTERM"},
#ifdef SIGHUP
    {SIGHUP, "SIGHUP"},
#else
    {0, nullptr},
#endif
#ifdef SIGQUIT
    {SIGQUIT, "SIGQUIT"},
#elif defined(SIGBREAK)
    {SIGBREAK, "SIGBREAK"}, // Ctrl+Break in a Windows console
#else
    {0, nullptr},
#endif
#ifdef SIGPIPE
    {SIGPIPE, "SIGPIPE"},
#else
    {0, nullptr},
#endif
#ifdef SIGALRM
    {SIGALRM, "SIGALRM"},
#else
    {0, nullptr},
#endif
#ifdef SIGUSR1
    {SIGUSR1, "SIGUSR1"},
#else
    {0, nullptr},
#endif
#ifdef SIGUSR2
    {SIGUSR2, "SIGUSR2"},
#else
    {0, nullptr},
#endif
}};

using PathBuffer = std::array<char, kPathBytes>;

struct Registry {
    std::array<PathBuffer, kSlots> files{};
    std::array<bool, kSlots> used{};
    PathBuffer log_path{}; // empty: no log
    PathBuffer log_temp{}; // the new file the final report is written to, beside the log
    std::array<std::array<char, kReportBytes>, kEndings.size()> reports{};
    std::array<size_t, kEndings.size()> report_sizes{};
};
Registry registry;

// 0: free; 1: the main code is changing the registry; 2: a signal is ending the run.
constexpr int kFree = 0;
constexpr int kBusy = 1;
constexpr int kEnding = 2;
std::atomic<int> state{kFree};
std::atomic<int> pending{0};
int hold_depth = 0; // main thread only
static_assert(std::atomic<int>::is_always_lock_free);

bool copy_path(PathBuffer& buffer, std::string_view path) noexcept {
    if (path.size() >= buffer.size() || path.find('\0') != std::string_view::npos) {
        buffer[0] = '\0';
        return false;
    }
    std::memcpy(buffer.data(), path.data(), path.size());
    buffer[path.size()] = '\0';
    return true;
}

int ending_index(int signal_number) noexcept {
    for (size_t i = 0; i < kEndings.size(); ++i) {
        if (kEndings[i].name != nullptr && kEndings[i].number == signal_number) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// Runs once per process, with the state at kEnding: nothing changes the registry any more.
void end_run(int signal_number) noexcept {
    for (size_t i = 0; i < kSlots; ++i) {
        if (registry.used[i]) {
            signal_safe_remove(registry.files[i].data());
        }
    }
    const int index = ending_index(signal_number);
    if (registry.log_path[0] != '\0' && index >= 0) {
        const auto at = static_cast<size_t>(index);
        signal_safe_replace(registry.log_temp.data(), registry.log_path.data(),
                            registry.reports[at].data(), registry.report_sizes[at]);
    }
    signal_safe_end(signal_number);
}

extern "C" void on_ending_signal(int signal_number) {
    for (;;) {
        int expected = kFree;
        if (state.compare_exchange_strong(expected, kEnding)) {
            end_run(signal_number);
            return;
        }
        if (expected == kEnding) {
            return; // another signal is ending the run already
        }
        // The main code holds the registry: it acts on the signal when it lets go. If it let
        // go before seeing it (this handler runs on another thread), try again.
        pending.store(signal_number);
        if (state.load() != kFree) {
            return;
        }
    }
}

} // namespace

void signal_cleanup_install() noexcept {
#ifdef SIGXFSZ
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    for (const Ending& ending : kEndings) {
        if (ending.name == nullptr) {
            continue;
        }
        if (std::signal(ending.number, on_ending_signal) == SIG_IGN) {
            std::signal(ending.number, SIG_IGN);
        }
    }
}

SignalHold::SignalHold() noexcept {
    if (hold_depth++ > 0) {
        return;
    }
    int expected = kFree;
    while (!state.compare_exchange_strong(expected, kBusy)) {
        // Only a signal ending the run (on another thread) can hold the state: the program is
        // about to end, and nothing may change the registry meanwhile.
        expected = kFree;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

SignalHold::~SignalHold() {
    if (--hold_depth > 0) {
        return;
    }
    state.store(kFree);
    const int signal_number = pending.exchange(0);
    if (signal_number != 0) {
        int expected = kFree;
        if (state.compare_exchange_strong(expected, kEnding)) {
            end_run(signal_number);
        }
    }
}

void signal_cleanup_set_log(std::string_view path, ProgressLogLayout layout) noexcept {
    SignalHold hold;
    registry.log_path[0] = '\0';
    if (path.empty()) {
        return;
    }
    try {
        const std::filesystem::path log = path_from_utf8(path);
        const std::filesystem::path folder = log.has_parent_path() ? log.parent_path() : ".";
        std::random_device entropy;
        const std::string temp = path_to_utf8(
            folder / text_format(".vekmrk-stop-%08x.tmp", static_cast<unsigned>(entropy())));
        if (!copy_path(registry.log_temp, temp)) {
            return;
        }
        for (size_t i = 0; i < kEndings.size(); ++i) {
            const Ending& ending = kEndings[i];
            registry.report_sizes[i] = 0;
            if (ending.name == nullptr) {
                continue;
            }
            const std::string message =
                text_format("Stopped by signal %d (%s)", ending.number, ending.name);
            const std::string bytes = progress_log_bytes(layout, -signal_exit_status(ending.number),
                                                         0, 0.0, message.c_str());
            if (bytes.size() > kReportBytes) {
                continue;
            }
            std::memcpy(registry.reports[i].data(), bytes.data(), bytes.size());
            registry.report_sizes[i] = bytes.size();
        }
        copy_path(registry.log_path, path);
    } catch (...) {
        registry.log_path[0] = '\0';
    }
}

int signal_cleanup_add(std::string_view path) noexcept {
    SignalHold hold;
    for (size_t i = 0; i < kSlots; ++i) {
        if (!registry.used[i]) {
            if (!copy_path(registry.files[i], path)) {
                return -1;
            }
            registry.used[i] = true;
            return static_cast<int>(i);
        }
    }
    return -1;
}

void signal_cleanup_drop(int slot) noexcept {
    if (slot < 0 || static_cast<size_t>(slot) >= kSlots) {
        return;
    }
    SignalHold hold;
    registry.used[static_cast<size_t>(slot)] = false;
}
