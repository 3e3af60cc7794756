// Ctrl-C (SIGINT) and SIGTERM. Both are blocked in every thread of the
// program and taken by one waiting thread, so that no transfer is ever cut
// inside a frame. The first signal asks the operation being waited for to
// stop at its next safe point: a data transfer after the block in flight; a
// step that configures the chip (protection, option bytes, OTP, sLib, the
// external bank) runs to its end. The walk then ends the run. A second signal
// ends the process at once.
#ifndef TARNFLASH_CLI_INTERRUPT_H
#define TARNFLASH_CLI_INTERRUPT_H

#include <string>

class COperation;

namespace Interrupt {

// Blocks both signals and starts the thread that waits for them. Called
// once, before any other thread exists.
void Install();
// The signal that interrupted the run (SIGINT or SIGTERM); 0 while none.
int Signal();
// The run's exit code after the signal: 128 + its number (130, 143).
int ExitCode();
// "Interrupted by SIGINT." or "Interrupted by SIGTERM."
std::string Text();

// The operation a command now waits for (null: none). A signal that arrives
// while it runs stops it at its next safe point.
void Watch(COperation* operation);

}  // namespace Interrupt

#endif
