#include "kdsterm/KDSTerm.h"

#include <charconv>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "base/TextConvert.h"
#include "client/DSClientCommand.h"
#include "client/DSClientConnection.h"
#include "client/DSClientTableReader.h"
#include "data/DBXDataTypes.h"
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

int Call(const TTermOptions& Options, const std::vector<std::string>& Args, std::ostream& Out) {
    if (Args.empty())
        throw TUsageError("call needs the alias of a server method (Class.Method)");
    TTermSession Session(Options);
    TDSClientConnection& Connection = Session.Connection();
    Connection.Connect();
    std::unique_ptr<TDSClientCommand> Command = Connection.Prepare(Utf8ToUtf16(Args[0]));
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
    if (Args.size() - 1 != Inputs.size())
        throw TUsageError(Args[0] + " takes " + std::to_string(Inputs.size()) + " argument" +
                          (Inputs.size() == 1 ? "" : "s") +
                          (Names.empty() ? std::string() : " (" + Names + ")") + ", not " +
                          std::to_string(Args.size() - 1));
    for (size_t I = 0; I < Inputs.size(); ++I)
        SetArgument(Parameters.Parameter(Inputs[I]), Args[I + 1]);
    Command->Execute();
    int32_t Result = -1;
    for (int32_t I = 0; I < Command->Parameters().Count(); ++I) {
        const int32_t Direction = Command->Parameters().Parameter(I).ParameterDirection();
        if (Direction == PD::ReturnParameter) {
            Result = I;
        } else if (Direction == PD::OutParameter || Direction == PD::InOutParameter) {
            Out << Utf16ToUtf8(Command->Parameters().Parameter(I).Name()) << ": ";
            PrintResult(*Command, I, Out);
        }
    }
    if (Result >= 0)
        PrintResult(*Command, Result, Out);
    Command->Close();
    Connection.Disconnect();
    return TTermExit::Ok;
}

using TTermCommand = std::function<int(const TTermOptions& Options,
                                       const std::vector<std::string>& Args, std::ostream& Out)>;

struct TTermCommandEntry {
    const char* Name;
    TTermCommand Run;
};

const std::vector<TTermCommandEntry>& Commands() {
    static const std::vector<TTermCommandEntry> List = {
        {"probe", Probe},
        {"call", Call},
    };
    return List;
}

} // namespace

int RunKDSTerm(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
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
                return Command.Run(Options, Rest, Out);
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
