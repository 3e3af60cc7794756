#ifndef TARNFLASH_CLI_PROGRESS_H
#define TARNFLASH_CLI_PROGRESS_H

// The console side of a running operation: starting it with the console
// callback, the callback that prints its course, and the wait of the command
// that started it.

#include "operations/Operation.h"

#include <string>

class CCom;

// Installs GetOperationInfo on the connection's current operation, starts
// it and records the connection as the one whose operation runs.
void Start(CCom* connection);
// Ends the wait: detaches the callback, then clears the running flag.
void Stop();
// The console callback; runs on the operation's thread.
void GetOperationInfo(InfoType type, void* info);
// Display name of an operation type.
std::string GetOperatioStringName(OP_Type type);
// Text printed when an operation of this type reports INFO_TYPE_DONE.
std::string GetOperationSuccessString(OP_Type type);

// The wait every command performs right after it has asked the link for an
// operation: raise the flags, start, wait for the end. True exactly when the
// operation reported success. The wait wakes as soon as the operation's
// thread ends; a thread that ended without a final report is a failure.
bool WaitOperation(CCom* connection);
// The same wait for a given operation (not necessarily the link's).
bool RunOperation(COperation* operation, CCom* connection);

#endif
