// EchoString over TCP on 127.0.0.1 against a raw TCP echo server of the
// same shape, measured in the same run:
//   - the program's server (container, TCP transport, full protocol stack)
//     answering {"method":"execute","params":[{"handle":[0]},{"data":[3,"ab]}]}
//     with {"result":[{"data":[4,<C0 22 61 62>]}]};
//   - a raw server with a thread per connection that reads a request of the
//     same size and writes a reply of the same size, nothing else.
// Three ways to call: one connection, one request at a time; 64 connections
// at once (64 client threads); 64 requests sent in one write on one
// connection, then 64 replies read. Both servers get the very same client
// code. main prints requests per second and the ratio server/raw for each.

#include <arpa/inet.h>
#include <atomic>
#include <benchmark/benchmark.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <list>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "RecordingReporter.h"
#include "server/DSTCPServerTransport.h"
#include "server/KDSServerContainerUnit.h"
#include "server/wire/DSSocket.h"

namespace {

using namespace kds;

const std::string Connect = "{\"method\":\"connect\",\"params\":[{}]}";
const std::string Prepare = "{\"method\":\"prepare\",\"params\":[-1,false,\"KDS.ServerMethod\","
                            "\"TServerMethods1.EchoString\"]}";
const std::string Request =
    "{\"method\":\"execute\",\"params\":[{\"handle\":[0]},{\"data\":[3,\"ab]}]}";
const std::string Reply = "{\"result\":[{\"data\":[4,\xC0\"ab]}]}";
constexpr int Pipelined = 64;
constexpr int Connections = 64;

void SendAll(int Fd, const std::string& Bytes) {
    size_t Sent = 0;
    while (Sent < Bytes.size()) {
        const ssize_t N = ::send(Fd, Bytes.data() + Sent, Bytes.size() - Sent, MSG_NOSIGNAL);
        if (N < 0 && errno == EINTR)
            continue;
        if (N <= 0)
            throw std::runtime_error("send failed");
        Sent += static_cast<size_t>(N);
    }
}

// Reads exactly Count bytes into Buffer.
void ReceiveAll(int Fd, char* Buffer, size_t Count) {
    size_t Got = 0;
    while (Got < Count) {
        const ssize_t N = ::recv(Fd, Buffer + Got, Count - Got, 0);
        if (N < 0 && errno == EINTR)
            continue;
        if (N <= 0)
            throw std::runtime_error("connection ended");
        Got += static_cast<size_t>(N);
    }
}

// Reads a connect reply, whose length depends on the handle, to its "]}".
void ReceiveConnectReply(int Fd) {
    std::string Got;
    char C = 0;
    while (Got.size() < 2 || Got.compare(Got.size() - 2, 2, "]}") != 0) {
        ReceiveAll(Fd, &C, 1);
        Got.push_back(C);
    }
}

int ConnectTo(uint16_t Port) {
    const int Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    A.sin_port = htons(Port);
    if (::connect(Fd, reinterpret_cast<const sockaddr*>(&A), sizeof A) != 0) {
        ::close(Fd);
        throw std::runtime_error("connect failed");
    }
    const int On = 1;
    ::setsockopt(Fd, IPPROTO_TCP, TCP_NODELAY, &On, sizeof On);
    return Fd;
}

// The baseline: a listener and a thread per connection that answers each
// Request-sized read with a Reply-sized write.
class TRawEchoServer {
public:
    TRawEchoServer() {
        FListen.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        const int On = 1;
        ::setsockopt(FListen.Get(), SOL_SOCKET, SO_REUSEADDR, &On, sizeof On);
        sockaddr_in A{};
        A.sin_family = AF_INET;
        A.sin_addr.s_addr = htonl(INADDR_ANY);
        ::bind(FListen.Get(), reinterpret_cast<const sockaddr*>(&A), sizeof A);
        ::listen(FListen.Get(), 128);
        socklen_t L = sizeof A;
        ::getsockname(FListen.Get(), reinterpret_cast<sockaddr*>(&A), &L);
        FPort = ntohs(A.sin_port);
        FAcceptor = std::thread([this] { Accept(); });
    }
    ~TRawEchoServer() {
        FStopping = true;
        ::shutdown(FListen.Get(), SHUT_RDWR);
        FAcceptor.join();
        std::lock_guard<std::mutex> Guard(FLock);
        for (auto& C : FConnections) {
            ::shutdown(C.first.Get(), SHUT_RDWR);
            C.second.join();
        }
    }
    uint16_t Port() const { return FPort; }

private:
    void Accept() {
        while (!FStopping) {
            const int Fd = ::accept4(FListen.Get(), nullptr, nullptr, SOCK_CLOEXEC);
            if (Fd < 0) {
                if (FStopping)
                    return;
                continue;
            }
            SetConnectionOptions(Fd);
            std::lock_guard<std::mutex> Guard(FLock);
            FConnections.emplace_back(TSocketHandle(Fd), std::thread([Fd] { Serve(Fd); }));
        }
    }
    static void Serve(int Fd) {
        char In[4096];
        try {
            for (;;) {
                ReceiveAll(Fd, In, Request.size());
                SendAll(Fd, Reply);
            }
        } catch (...) {
        }
    }

    TSocketHandle FListen;
    uint16_t FPort = 0;
    std::atomic<bool> FStopping{false};
    std::thread FAcceptor;
    std::mutex FLock;
    std::list<std::pair<TSocketHandle, std::thread>> FConnections;
};

// The program's server, on a port of the system's choosing.
class TProgramServer {
public:
    TProgramServer()
        : FContainer([] {
              auto T = std::make_unique<TDSTCPServerTransport>(u"DSTCPServerTransport1");
              T->SetPort(0);
              return T;
          }) {}
    uint16_t Port() const {
        return static_cast<TDSTCPServerTransport*>(FContainer.Transport())->BoundPort();
    }

private:
    TServerContainer1 FContainer;
};

TRawEchoServer& Raw() {
    static TRawEchoServer Server;
    return Server;
}
TProgramServer& Program() {
    static TProgramServer Server;
    return Server;
}

// A client connection ready for Request: on the program's server it has
// connected and prepared EchoString (handle 0).
TSocketHandle Ready(bool OnProgram) {
    TSocketHandle S(ConnectTo(OnProgram ? Program().Port() : Raw().Port()));
    if (OnProgram) {
        char Buffer[512];
        SendAll(S.Get(), Connect);
        ReceiveConnectReply(S.Get());
        SendAll(S.Get(), Prepare);
        // The prepare reply: its length does not depend on the handle.
        ReceiveAll(S.Get(), Buffer,
                   std::strlen("{\"result\":[{\"handle\":[0]},{\"fields\":[0,false]},"
                               "{\"parameters\":[2,[26,0,1,0,0,\"Value\",0,0,0],"
                               "[26,0,4,0,0,\"ReturnParameter\",0,0,0]]}]}"));
    }
    return S;
}

void RoundTrips(benchmark::State& State, bool OnProgram) {
    TSocketHandle S;
    try {
        S = Ready(OnProgram);
    } catch (const std::exception& E) {
        State.SkipWithError(E.what());
        return;
    }
    char Buffer[512];
    for (auto _ : State) {
        SendAll(S.Get(), Request);
        ReceiveAll(S.Get(), Buffer, Reply.size());
    }
    if (std::memcmp(Buffer, Reply.data(), Reply.size()) != 0)
        State.SkipWithError("wrong reply");
    State.SetItemsProcessed(State.iterations());
}

void PipelinedTrips(benchmark::State& State, bool OnProgram) {
    TSocketHandle S;
    try {
        S = Ready(OnProgram);
    } catch (const std::exception& E) {
        State.SkipWithError(E.what());
        return;
    }
    std::string Batch;
    for (int I = 0; I < Pipelined; ++I)
        Batch += Request;
    std::string Replies(Reply.size() * Pipelined, '\0');
    for (auto _ : State) {
        SendAll(S.Get(), Batch);
        ReceiveAll(S.Get(), Replies.data(), Replies.size());
    }
    if (Replies.compare(0, Reply.size(), Reply) != 0)
        State.SkipWithError("wrong reply");
    State.SetItemsProcessed(State.iterations() * Pipelined);
}

void Echo_Raw_OneConnection(benchmark::State& S) {
    RoundTrips(S, false);
}
void Echo_Server_OneConnection(benchmark::State& S) {
    RoundTrips(S, true);
}
void Echo_Raw_64Connections(benchmark::State& S) {
    RoundTrips(S, false);
}
void Echo_Server_64Connections(benchmark::State& S) {
    RoundTrips(S, true);
}
void Echo_Raw_Pipelined64(benchmark::State& S) {
    PipelinedTrips(S, false);
}
void Echo_Server_Pipelined64(benchmark::State& S) {
    PipelinedTrips(S, true);
}

BENCHMARK(Echo_Raw_OneConnection)->UseRealTime()->MinTime(1.0);
BENCHMARK(Echo_Server_OneConnection)->UseRealTime()->MinTime(1.0);
BENCHMARK(Echo_Raw_64Connections)->Threads(Connections)->UseRealTime()->MinTime(1.0);
BENCHMARK(Echo_Server_64Connections)->Threads(Connections)->UseRealTime()->MinTime(1.0);
BENCHMARK(Echo_Raw_Pipelined64)->UseRealTime()->MinTime(1.0);
BENCHMARK(Echo_Server_Pipelined64)->UseRealTime()->MinTime(1.0);

// The shared reporter, plus each run's items per second (summed over the
// threads of a multi-threaded run).
class TRateReporter : public kds::bench::TRecordingReporter {
public:
    std::map<std::string, double> Rates;

    void ReportRuns(const std::vector<Run>& Runs) override {
        TRecordingReporter::ReportRuns(Runs);
        for (const Run& R : Runs) {
            if (R.error_occurred)
                continue;
            // A plain run, or the median of repeated ones.
            if (R.run_type == Run::RT_Aggregate && R.aggregate_name != "median")
                continue;
            if (const auto It = R.counters.find("items_per_second"); It != R.counters.end())
                Rates[R.run_name.function_name] = It->second;
        }
    }
};

} // namespace

int main(int argc, char** argv) {
    RaiseOpenFileLimit();
    IgnoreSigPipe();
    benchmark::Initialize(&argc, argv);
    TRateReporter Reporter;
    benchmark::RunSpecifiedBenchmarks(&Reporter);
    struct TLine {
        const char* Mode;
        const char* Raw;
        const char* Server;
        double Aim;
    };
    const TLine Lines[] = {
        {"1 connection", "Echo_Raw_OneConnection", "Echo_Server_OneConnection", 0.8},
        {"64 connections", "Echo_Raw_64Connections", "Echo_Server_64Connections", 0.7},
        {"64 pipelined", "Echo_Raw_Pipelined64", "Echo_Server_Pipelined64", 0.5},
    };
    std::printf("\n%-16s %14s %14s %10s %6s\n", "EchoString", "raw req/s", "server req/s",
                "server/raw", "aim");
    for (const TLine& L : Lines) {
        const double Raw = Reporter.Rates[L.Raw];
        const double Server = Reporter.Rates[L.Server];
        if (Raw <= 0 || Server <= 0)
            continue;
        std::printf("%-16s %14.0f %14.0f %10.2f %6.1f\n", L.Mode, Raw, Server, Server / Raw, L.Aim);
    }
    benchmark::Shutdown();
    return 0;
}
