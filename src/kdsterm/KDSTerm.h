#pragma once

// kdsterm: the installer's terminal for checking a kitchen screen's path to
// the order server. It speaks the terminals' protocol on the project's own
// codec.
//
//   kdsterm [--host H] [--port P] [--timeout S] probe
//       filter probe and connect; prints the connection handle and the
//       server's product name and protocol version
//   kdsterm [--host H] [--port P] [--timeout S] call ALIAS [ARG...]
//       prepares and executes the server method ALIAS with one argument per
//       in parameter; prints each out parameter as "Name: value" and then
//       the result: a JSON value as JSON, a table as aligned columns (every
//       batch fetched), anything else as its text
//   kdsterm [...] list classes | list methods [CLASS]
//       the server classes or method aliases (of CLASS), one a line
//   kdsterm [...] describe class NAME | describe method NAME
//       the description the server gives, as JSON on one line
//   kdsterm [...] table METHOD [ARG...]
//       a method whose result is a table (DSAdmin's when METHOD names no
//       class: table GetServerMethods); its rows as aligned columns, then
//       "N rows"
//   kdsterm [...] watch [--channel NAME] [--id ID]
//       subscribes to the channel (KDSChannel; the id defaults to
//       kdsterm-PID) and prints each message as a line, "reset" for the
//       reset, until interrupted; subscribes again after a lost connection
//       or a server restart (see kdsterm/ChannelWatch.h)
//
// Defaults: host 127.0.0.1, port 16000, a 10-second limit on connecting and
// on each reply (0: no limit).
//
// Exit status: 0 success; 1 the server answered with an error ("code:
// message" on standard error); 2 the server cannot be reached, the
// connection ended, no reply came in time, or the reply did not read as
// one; 64 the command line is wrong (usage on standard error).
//
// Threads: one call at a time per stream pair.

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace kds {

namespace TTermExit {
inline constexpr int Ok = 0;
inline constexpr int ErrorReply = 1;
inline constexpr int Unreachable = 2;
inline constexpr int Usage = 64;
} // namespace TTermExit

class TChannelWatch;
struct TWatchSettings;

// For running watch in process: Adjust may change the settings the command
// line gave (the pauses between rounds), Started is given the watcher before
// it runs (so another thread can Stop it).
struct TWatchHooks {
    std::function<void(TWatchSettings&)> Adjust;
    std::function<void(TChannelWatch&)> Started;
};

// Args: the command line without the program name.
int RunKDSTerm(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err);
int RunKDSTerm(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err,
               const TWatchHooks& Hooks);

} // namespace kds
