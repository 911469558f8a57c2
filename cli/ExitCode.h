#pragma once

#include "protocol/ServerConnection.h"

namespace Cli {

// What the program's exit status tells a script; listed in --help and the README.
enum ExitCode {
    Success = 0,
    UsageError = 1,
    ConnectionFailed = 2,
    RequestRefused = 3,
    JobFailed = 4,
    JobKilledOrGone = 5,
    TimedOut = 6,
    LocalFileError = 7,
    // The shell's own convention for a program ended by Ctrl+C.
    Interrupted = 130
};

inline ExitCode exitCodeFor(VLK::ServerConnection::Failure failure)
{
    using Failure = VLK::ServerConnection::Failure;
    switch (failure) {
    case Failure::None:
        return Success;
    case Failure::Refused:
        return RequestRefused;
    case Failure::Timeout:
        return TimedOut;
    case Failure::LocalFile:
        return LocalFileError;
    case Failure::Interrupted:
        return Interrupted;
    case Failure::Connection:
    case Failure::Login:
    case Failure::Protocol:
        break;
    }
    return ConnectionFailed;
}

} // namespace Cli
