// The walk's checking mode.
//
// Before the first command of a connection acts on the chip, the walk goes
// over the rest of that connection's commands in checking mode: every handler
// reads and checks its sub-options as it always does (words, values, file
// names, files present and readable, sector ranges and image placement on the
// identified chip) and stops where it would act on the chip or write a file.
// What a command means for the ones after it is carried as when it runs: the
// settings it changes (the external bank enabled, the file and address a
// later "-d" reuses) and the files it writes, which later commands may then
// name before they exist. Everything is put back when the check ends.
#ifndef TARNFLASH_CLI_LINECHECK_H
#define TARNFLASH_CLI_LINECHECK_H

#include <string>

class CCom;

namespace LineCheck {

// True while the walk checks.
bool Active();
// Starts checking the commands of the connection; its settings and the
// chip's description are kept aside.
void Begin(CCom* com);
// Ends checking and puts everything back as it was at Begin. The device
// record is only put back when com still holds it: a check that ended the
// run has closed the connection, and with it the record.
void End(CCom* com);

// A file that a checked command writes (an upload, "-usd --get").
void NoteWrittenFile(const std::string& path);
// Whether an earlier command of the checked line writes this file: it need
// not exist yet, and what it will hold is checked when it is used.
bool IsWrittenByLine(const std::string& path);

}  // namespace LineCheck

#endif
