#pragma once
// What happens when a signal ends a run. The signals that end a program (interrupt, terminate,
// hang-up, quit, broken pipe, alarm, the two user signals) remove every file registered here
// (temporary files that would otherwise stay behind), replace the progress log with a final
// report of status -(128 + n), and then end the program by that same signal, so that its exit
// status reads 128 + n. SIGXFSZ is ignored: a write past the file-size limit then fails like
// any other write and is reported as one.
//
//   signal_cleanup_install();                       // first thing in the driver
//   signal_cleanup_set_log(log_path, ProgressLogLayout::Encoder);
//   {
//       SignalHold hold;                            // a signal now waits for the end of `hold`
//       create the temporary file;
//       slot = signal_cleanup_add(temp_path);
//   }
//   ... write it, rename it over its target ...
//   signal_cleanup_drop(slot);
//
// All functions are called from the main thread. A signal that arrives while a SignalHold
// lives is acted on when the outermost one ends, so that the registry is never read half
// written and no file is created without being registered.

#include <csignal>
#include <string_view>

#include "common/progress_log.h"

// Installs the handlers; a signal that the program was started with ignored stays ignored (a
// background job of a shell ignores interrupts). Ignores SIGXFSZ.
void signal_cleanup_install() noexcept;

// The progress log that gets the final report, in this layout; an empty path: none.
void signal_cleanup_set_log(std::string_view path, ProgressLogLayout layout) noexcept;

// Registers a file to be removed when a signal ends the run. Returns its slot, or -1 when the
// path is too long or every slot is taken (the file is then not removed by a signal).
int signal_cleanup_add(std::string_view path) noexcept;

// Forgets a slot that signal_cleanup_add returned (-1 is accepted and does nothing).
void signal_cleanup_drop(int slot) noexcept;

// The exit status of a program ended by signal `signal_number`: 128 + n.
constexpr int signal_exit_status(int signal_number) noexcept {
    return 128 + signal_number;
}

// Holds signals back while it lives: one that arrives meanwhile is acted on at the end of the
// outermost hold. Keep holds short and never around a call that can block.
class SignalHold {
public:
    SignalHold() noexcept;
    ~SignalHold();
    SignalHold(const SignalHold&) = delete;
    SignalHold& operator=(const SignalHold&) = delete;
};
