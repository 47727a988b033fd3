#include "kdsterm/KDSTerm.h"

#include <charconv>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <unistd.h>

#include "base/TextConvert.h"
#include "client/DSClientCommand.h"
#include "client/DSClientConnection.h"
#include "client/DSClientTableReader.h"
#include "data/DBXDataTypes.h"
#include "data/DBXJSON.h"
#include "kdsterm/ChannelWatch.h"
#include "kdsterm/TermOutput.h"

namespace kds {

namespace {

namespace DT = TDBXDataTypes;
namespace PD = TDBXParameterDirections;

struct TTermOptions {
    std::string Host = "127.0.0.1";
    uint16_t Port = 16000;
    int TimeoutSeconds = 10;
};

// A command line that cannot be run as given.
class TUsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

const char* const UsageText =
    "usage: kdsterm [--host H] [--port P] [--timeout S] COMMAND\n"
    "commands:\n"
    "  probe                 filter probe and connect: the connection handle and\n"
    "                        the server's version\n"
    "  call ALIAS [ARG...]   run a server method (TServerMethods1.EchoString ab)\n"
    "  list classes          the server classes, one a line\n"
    "  list methods [CLASS]  the method aliases (of CLASS), one a line\n"
    "  describe class NAME | describe method NAME\n"
    "                        the description as JSON\n"
    "  table METHOD [ARG...] a method's table result (GetServerMethods)\n"
    "  watch [--channel KDSChannel] [--id ID]\n"
    "                        subscribe and print each message (reset) until\n"
    "                        interrupted; subscribes again after a lost\n"
    "                        connection or a server restart\n"
    "exit status: 0 success, 1 error reply, 2 server not reached, 64 usage\n";

int ParseNumber(const std::string& Text, int Low, int High, const char* What) {
    int Value = 0;
    const char* End = Text.data() + Text.size();
    const auto [Ptr, Error] = std::from_chars(Text.data(), End, Value);
    if (Text.empty() || Error != std::errc() || Ptr != End || Value < Low || Value > High)
        throw TUsageError(std::string(What) + " must be a number from " + std::to_string(Low) +
                          " to " + std::to_string(High) + ", not \"" + Text + "\"");
    return Value;
}

// An open and connected connection to the server the options name.
class TTermSession {
public:
    explicit TTermSession(const TTermOptions& Options) {
        const std::chrono::milliseconds Limit(Options.TimeoutSeconds * 1000);
        FConnection.Open(Options.Host, Options.Port,
                         Limit.count() > 0 ? Limit : std::chrono::milliseconds(24 * 3600 * 1000));
        FConnection.SetReplyTimeout(Limit);
    }
    TDSClientConnection& Connection() { return FConnection; }

private:
    TDSClientConnection FConnection;
};

int Probe(const TTermOptions& Options, const std::vector<std::string>& Args, std::ostream& Out) {
    if (!Args.empty())
        throw TUsageError("probe takes no arguments");
    TTermSession Session(Options);
    Session.Connection().Probe();
    const TDSConnectInfo Info = Session.Connection().Connect();
    Out << "connection handle " << Info.ConnectionHandle << '\n'
        << "server " << Utf16ToUtf8(Info.ProductName) << ", protocol version "
        << Info.ProtocolVersion << '\n';
    Session.Connection().Disconnect();
    return TTermExit::Ok;
}

void PrintResult(TDSClientCommand& Command, int32_t Ordinal, std::ostream& Out) {
    TDBXParameter& P = Command.Parameters().Parameter(Ordinal);
    if (P.DataType() == DT::TableType) {
        TDSClientTableReader* Table = Command.Table(Ordinal);
        if (Table == nullptr) {
            Out << "null\n";
            return;
        }
        PrintTable(*Table, Out);
        Table->Close();
        return;
    }
    Out << ValueText(P.Value()) << '\n';
}

// A security token of 16 hex digits for this run's subscriptions: only
// this process may close them.
std::string NewToken() {
    std::random_device Random;
    std::string Token;
    static const char Digits[] = "0123456789abcdef";
    for (int I = 0; I < 16; ++I)
        Token.push_back(Digits[Random() % 16]);
    return Token;
}

// Prepares Alias on Connection, sets one argument per in parameter and
// executes it.
std::unique_ptr<TDSClientCommand> Execute(TDSClientConnection& Connection, const std::string& Alias,
                                          const std::vector<std::string>& Arguments) {
    std::unique_ptr<TDSClientCommand> Command = Connection.Prepare(Utf8ToUtf16(Alias));
    TDBXParameterList& Parameters = Command->Parameters();
    std::vector<int32_t> Inputs;
    std::string Names;
    for (int32_t I = 0; I < Parameters.Count(); ++I) {
        const int32_t Direction = Parameters.Parameter(I).ParameterDirection();
        if (Direction == PD::InParameter || Direction == PD::InOutParameter) {
            Inputs.push_back(I);
            Names += (Names.empty() ? "" : ", ") + Utf16ToUtf8(Parameters.Parameter(I).Name());
        }
    }
    if (Arguments.size() != Inputs.size())
        throw TUsageError(Alias + " takes " + std::to_string(Inputs.size()) + " argument" +
                          (Inputs.size() == 1 ? "" : "s") +
                          (Names.empty() ? std::string() : " (" + Names + ")") + ", not " +
                          std::to_string(Arguments.size()));
    for (size_t I = 0; I < Inputs.size(); ++I)
        SetArgument(Parameters.Parameter(Inputs[I]), Arguments[I]);
    Command->Execute();
    return Command;
}

int32_t ResultOrdinal(TDSClientCommand& Command) {
    for (int32_t I = 0; I < Command.Parameters().Count(); ++I)
        if (Command.Parameters().Parameter(I).ParameterDirection() == PD::ReturnParameter)
            return I;
    return -1;
}

int Call(const TTermOptions& Options, const std::vector<std::string>& Args, std::ostream& Out) {
    if (Args.empty())
        throw TUsageError("call needs the alias of a server method (Class.Method)");
    TTermSession Session(Options);
    TDSClientConnection& Connection = Session.Connection();
    Connection.Connect();
    std::unique_ptr<TDSClientCommand> Command =
        Execute(Connection, Args[0], std::vector<std::string>(Args.begin() + 1, Args.end()));
    for (int32_t I = 0; I < Command->Parameters().Count(); ++I) {
        const int32_t Direction = Command->Parameters().Parameter(I).ParameterDirection();
        if (Direction == PD::OutParameter || Direction == PD::InOutParameter) {
            Out << Utf16ToUtf8(Command->Parameters().Parameter(I).Name()) << ": ";
            PrintResult(*Command, I, Out);
        }
    }
    const int32_t Result = ResultOrdinal(*Command);
    if (Result >= 0)
        PrintResult(*Command, Result, Out);
    Command->Close();
    Connection.Disconnect();
    return TTermExit::Ok;
}

// Runs a DSAdmin method whose result is JSON and answers that result.
std::unique_ptr<TJSONValue> JsonResultOf(const TTermOptions& Options, const std::string& Alias,
                                         const std::vector<std::string>& Arguments) {
    TTermSession Session(Options);
    TDSClientConnection& Connection = Session.Connection();
    Connection.Connect();
    std::unique_ptr<TDSClientCommand> Command = Execute(Connection, Alias, Arguments);
    const int32_t Result = ResultOrdinal(*Command);
    if (Result < 0 || Command->Parameters().Parameter(Result).DataType() != DT::JsonValueType)
        throw TDSProtocolError(Alias + " did not answer JSON");
    TDBXValue& Value = Command->Parameters().Parameter(Result).Value();
    std::unique_ptr<TJSONValue> Json;
    if (!Value.IsNull())
        Json = Value.GetJSONValue()->Clone();
    Command->Close();
    Connection.Disconnect();
    return Json;
}

// list classes | list methods [CLASS]: one name per line.
int List(const TTermOptions& Options, const std::vector<std::string>& Args, std::ostream& Out) {
    std::unique_ptr<TJSONValue> Names;
    if (Args.size() == 1 && Args[0] == "classes")
        Names = JsonResultOf(Options, "DSAdmin.ListClasses", {});
    else if ((Args.size() == 1 || Args.size() == 2) && Args[0] == "methods")
        Names = JsonResultOf(Options, "DSAdmin.ListMethods",
                             {Args.size() == 2 ? Args[1] : std::string()});
    else
        throw TUsageError("list takes \"classes\" or \"methods [CLASS]\"");
    const auto* Array = dynamic_cast<const TJSONArray*>(Names.get());
    if (Array == nullptr)
        throw TDSProtocolError("The server's list is not a JSON array");
    for (int32_t I = 0; I < Array->Size(); ++I)
        Out << Utf16ToUtf8(Array->Get(I)->Value()) << '\n';
    return TTermExit::Ok;
}

// describe class NAME | describe method NAME: the description's JSON.
int Describe(const TTermOptions& Options, const std::vector<std::string>& Args, std::ostream& Out) {
    if (Args.size() != 2 || (Args[0] != "class" && Args[0] != "method"))
        throw TUsageError("describe takes \"class NAME\" or \"method NAME\"");
    const std::unique_ptr<TJSONValue> Description = JsonResultOf(
        Options, Args[0] == "class" ? "DSAdmin.DescribeClass" : "DSAdmin.DescribeMethod",
        {Args[1]});
    Out << (Description ? Utf16ToUtf8(Description->ToString()) : std::string("null")) << '\n';
    return TTermExit::Ok;
}

// table METHOD [ARG...]: a method whose result is a table (DSAdmin's when
// METHOD names no class), its rows as aligned columns and their number.
int Table(const TTermOptions& Options, const std::vector<std::string>& Args, std::ostream& Out) {
    if (Args.empty())
        throw TUsageError("table needs a method whose result is a table (GetServerMethods)");
    const std::string Alias =
        Args[0].find('.') == std::string::npos ? "DSAdmin." + Args[0] : Args[0];
    TTermSession Session(Options);
    TDSClientConnection& Connection = Session.Connection();
    Connection.Connect();
    std::unique_ptr<TDSClientCommand> Command =
        Execute(Connection, Alias, std::vector<std::string>(Args.begin() + 1, Args.end()));
    const int32_t Result = ResultOrdinal(*Command);
    TDSClientTableReader* Reader = Result >= 0 ? Command->Table(Result) : nullptr;
    if (Reader == nullptr)
        throw TUsageError(Alias + " does not answer a table");
    const int64_t Rows = PrintTable(*Reader, Out);
    Out << Rows << (Rows == 1 ? " row" : " rows") << '\n';
    Reader->Close();
    Command->Close();
    Connection.Disconnect();
    return TTermExit::Ok;
}

// watch [--channel NAME] [--id ID]: see kdsterm/ChannelWatch.h.
int Watch(const TTermOptions& Options, const std::vector<std::string>& Args, std::ostream& Out,
          std::ostream& Err, const TWatchHooks& Hooks) {
    TWatchSettings Settings;
    Settings.Host = Options.Host;
    Settings.Port = Options.Port;
    Settings.Timeout = std::chrono::milliseconds(Options.TimeoutSeconds * 1000);
    Settings.Id = "kdsterm-" + std::to_string(::getpid());
    Settings.Token = NewToken();
    for (size_t I = 0; I < Args.size(); I += 2) {
        if (I + 1 >= Args.size())
            throw TUsageError(Args[I] + " needs a value");
        if (Args[I] == "--channel")
            Settings.Channel = Args[I + 1];
        else if (Args[I] == "--id")
            Settings.Id = Args[I + 1];
        else
            throw TUsageError("watch takes --channel NAME and --id ID, not " + Args[I]);
    }
    if (Settings.Channel.empty() || Settings.Id.empty())
        throw TUsageError("watch needs a channel name and an id that are not empty");
    if (Hooks.Adjust)
        Hooks.Adjust(Settings);
    TChannelWatch Watcher(std::move(Settings), Out, Err);
    if (Hooks.Started)
        Hooks.Started(Watcher);
    return Watcher.Run();
}

using TTermCommand =
    std::function<int(const TTermOptions& Options, const std::vector<std::string>& Args,
                      std::ostream& Out, std::ostream& Err, const TWatchHooks& Hooks)>;

struct TTermCommandEntry {
    const char* Name;
    TTermCommand Run;
};

template <int (*Run)(const TTermOptions&, const std::vector<std::string>&, std::ostream&)>
int Plain(const TTermOptions& Options, const std::vector<std::string>& Args, std::ostream& Out,
          std::ostream&, const TWatchHooks&) {
    return Run(Options, Args, Out);
}

const std::vector<TTermCommandEntry>& Commands() {
    static const std::vector<TTermCommandEntry> Entries = {
        {"probe", Plain<Probe>},       {"call", Plain<Call>},   {"list", Plain<List>},
        {"describe", Plain<Describe>}, {"table", Plain<Table>}, {"watch", Watch},
    };
    return Entries;
}

} // namespace

int RunKDSTerm(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
    return RunKDSTerm(Args, Out, Err, TWatchHooks());
}

int RunKDSTerm(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err,
               const TWatchHooks& Hooks) {
    TTermOptions Options;
    size_t At = 0;
    try {
        for (; At < Args.size() && Args[At].rfind("--", 0) == 0; ++At) {
            const std::string& Option = Args[At];
            if (Option == "--help") {
                Out << UsageText;
                return TTermExit::Ok;
            }
            if (At + 1 >= Args.size())
                throw TUsageError(Option + " needs a value");
            const std::string& Value = Args[++At];
            if (Option == "--host")
                Options.Host = Value;
            else if (Option == "--port")
                Options.Port = static_cast<uint16_t>(ParseNumber(Value, 1, 65535, "--port"));
            else if (Option == "--timeout")
                Options.TimeoutSeconds = ParseNumber(Value, 0, 86400, "--timeout");
            else
                throw TUsageError("unknown option " + Option);
        }
        if (At >= Args.size())
            throw TUsageError("no command given");
        const std::vector<std::string> Rest(Args.begin() + static_cast<std::ptrdiff_t>(At) + 1,
                                            Args.end());
        for (const TTermCommandEntry& Command : Commands())
            if (Args[At] == Command.Name)
                return Command.Run(Options, Rest, Out, Err, Hooks);
        throw TUsageError("unknown command " + Args[At]);
    } catch (const TUsageError& E) {
        Err << "kdsterm: " << E.what() << '\n' << UsageText;
        return TTermExit::Usage;
    } catch (const TDSArgumentError& E) {
        Err << "kdsterm: " << E.what() << '\n';
        return TTermExit::Usage;
    } catch (const TDSRemoteError& E) {
        Err << E.ErrorCode() << ": " << E.Message() << '\n';
        return TTermExit::ErrorReply;
    } catch (const std::exception& E) {
        Err << "kdsterm: " << E.what() << '\n';
        return TTermExit::Unreachable;
    } catch (...) {
        Err << "kdsterm: unknown error\n";
        return TTermExit::Unreachable;
    }
}

} // namespace kds
