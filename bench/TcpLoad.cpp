// Load runs of the program's server over TCP on 127.0.0.1 (port 0), in one
// process: what a kitchen full of terminals costs and what rough peers do.
//   1. 1000 idle connections for 10 s: the process's CPU time from
//      /proc/self/stat (the clients do nothing meanwhile, so it is the
//      server's), as a share of one core; aim under 0.5 %.
//   2. 1000 connections x 100 EchoString calls, 1000 requests in flight at
//      a time: every reply compared byte for byte; aim 0 errors.
//   3. Peers that reset mid-request and mid-reply: the server keeps serving
//      and every handle comes back.
//   4. Stop with 500 open connections: how long it takes; every thread
//      joined; aim under 1 s.
// Exit status 0 when every aim is met, 1 otherwise.
//
//   bench_tcp_load [idle-seconds]   (10 by default)

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "server/DSServer.h"
#include "server/DSTCPServerTransport.h"
#include "server/KDSServerContainerUnit.h"
#include "server/wire/DSSocket.h"

namespace {

using namespace kds;
using TClock = std::chrono::steady_clock;

const std::string Connect = "{\"method\":\"connect\",\"params\":[{}]}";
const std::string Prepare = "{\"method\":\"prepare\",\"params\":[-1,false,\"KDS.ServerMethod\","
                            "\"TServerMethods1.EchoString\"]}";
const std::string PrepareReply =
    "{\"result\":[{\"handle\":[0]},{\"fields\":[0,false]},{\"parameters\":[2,"
    "[26,0,1,0,0,\"Value\",0,0,0],[26,0,4,0,0,\"ReturnParameter\",0,0,0]]}]}";
const std::string Request =
    "{\"method\":\"execute\",\"params\":[{\"handle\":[0]},{\"data\":[3,\"ab]}]}";
const std::string Reply = "{\"result\":[{\"data\":[4,\xC0\"ab]}]}";

bool SendAll(int Fd, const std::string& Bytes) {
    size_t Sent = 0;
    while (Sent < Bytes.size()) {
        const ssize_t N = ::send(Fd, Bytes.data() + Sent, Bytes.size() - Sent, MSG_NOSIGNAL);
        if (N < 0 && errno == EINTR)
            continue;
        if (N <= 0)
            return false;
        Sent += static_cast<size_t>(N);
    }
    return true;
}

bool ReceiveExactly(int Fd, std::string& Out, size_t Count) {
    Out.resize(Count);
    size_t Got = 0;
    while (Got < Count) {
        const ssize_t N = ::recv(Fd, Out.data() + Got, Count - Got, 0);
        if (N < 0 && errno == EINTR)
            continue;
        if (N <= 0)
            return false;
        Got += static_cast<size_t>(N);
    }
    return true;
}

TSocketHandle ConnectTo(uint16_t Port) {
    TSocketHandle S(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    A.sin_port = htons(Port);
    if (::connect(S.Get(), reinterpret_cast<const sockaddr*>(&A), sizeof A) != 0)
        throw std::runtime_error("connect failed: " + SystemErrorText(errno));
    const int On = 1;
    ::setsockopt(S.Get(), IPPROTO_TCP, TCP_NODELAY, &On, sizeof On);
    return S;
}

// A connect reply, whose length depends on the handle, read to its "]}".
bool ReceiveConnectReply(int Fd) {
    std::string Got, One;
    while (Got.size() < 2 || Got.compare(Got.size() - 2, 2, "]}") != 0) {
        if (Got.size() > 64 || !ReceiveExactly(Fd, One, 1))
            return false;
        Got += One;
    }
    return Got.rfind("{\"result\":[", 0) == 0;
}

// Connected and EchoString prepared; false when any step failed.
bool MakeReady(int Fd) {
    std::string Got;
    return SendAll(Fd, Connect) && ReceiveConnectReply(Fd) && SendAll(Fd, Prepare) &&
           ReceiveExactly(Fd, Got, PrepareReply.size()) && Got == PrepareReply;
}

// utime + stime of this process in seconds.
double ProcessCpuSeconds() {
    std::ifstream Stat("/proc/self/stat");
    std::string Text((std::istreambuf_iterator<char>(Stat)), std::istreambuf_iterator<char>());
    std::istringstream Fields(Text.substr(Text.rfind(')') + 2));
    std::string Field;
    long long Utime = 0, Stime = 0;
    // After the command name the state is field 3; utime is 14, stime 15.
    for (int I = 3; I <= 15 && Fields >> Field; ++I) {
        if (I == 14)
            Utime = std::stoll(Field);
        else if (I == 15)
            Stime = std::stoll(Field);
    }
    return static_cast<double>(Utime + Stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

template <typename TCondition> bool WaitUntil(TCondition Condition, std::chrono::seconds Limit) {
    const auto Deadline = TClock::now() + Limit;
    while (!Condition()) {
        if (TClock::now() > Deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::unique_ptr<TServerContainer1> MakeServer() {
    return std::make_unique<TServerContainer1>([] {
        auto T = std::make_unique<TDSTCPServerTransport>(u"DSTCPServerTransport1");
        T->SetPort(0);
        return T;
    });
}

TDSTCPServerTransport& TransportOf(TServerContainer1& C) {
    return static_cast<TDSTCPServerTransport&>(*C.Transport());
}

bool Verdict(const char* What, bool Met) {
    std::printf("  %-60s %s\n", What, Met ? "met" : "NOT MET");
    return Met;
}

} // namespace

int main(int argc, char** argv) {
    IgnoreSigPipe();
    const uint64_t Limit = RaiseOpenFileLimit();
    const int IdleSeconds = argc > 1 ? std::atoi(argv[1]) : 10;
    std::printf("open file limit %llu\n", static_cast<unsigned long long>(Limit));
    bool AllMet = true;
    auto Server = MakeServer();
    TDSTCPServerTransport& Transport = TransportOf(*Server);
    const uint16_t Port = Transport.BoundPort();

    // 1 and 2: a thousand terminals.
    std::vector<TSocketHandle> Clients;
    int SetupErrors = 0;
    for (int I = 0; I < 1000; ++I) {
        Clients.push_back(ConnectTo(Port));
        SetupErrors += MakeReady(Clients.back().Get()) ? 0 : 1;
    }
    WaitUntil([&] { return Transport.ThreadCount() == 1000; }, std::chrono::seconds(10));
    std::printf("\n1000 idle connections for %d s (%d connection threads)\n", IdleSeconds,
                Transport.ThreadCount());
    const double CpuBefore = ProcessCpuSeconds();
    const auto WallBefore = TClock::now();
    std::this_thread::sleep_for(std::chrono::seconds(IdleSeconds));
    const double Cpu = ProcessCpuSeconds() - CpuBefore;
    const double Wall = std::chrono::duration<double>(TClock::now() - WallBefore).count();
    const double Share = 100.0 * Cpu / Wall;
    std::printf("  CPU time %.3f s over %.1f s: %.3f %% of one core\n", Cpu, Wall, Share);
    AllMet &= Verdict("idle cost under 0.5 % of one core", Share < 0.5);

    std::printf("\n1000 connections x 100 EchoString calls, 1000 in flight\n");
    int Errors = SetupErrors;
    std::string Got;
    const auto CallsStart = TClock::now();
    for (int Round = 0; Round < 100; ++Round) {
        for (TSocketHandle& C : Clients)
            Errors += SendAll(C.Get(), Request) ? 0 : 1;
        for (TSocketHandle& C : Clients)
            Errors += ReceiveExactly(C.Get(), Got, Reply.size()) && Got == Reply ? 0 : 1;
    }
    const double CallSeconds = std::chrono::duration<double>(TClock::now() - CallsStart).count();
    std::printf("  100000 calls in %.2f s (%.0f calls/s), %d errors\n", CallSeconds,
                100000 / CallSeconds, Errors);
    AllMet &= Verdict("0 errors", Errors == 0);
    Clients.clear();
    AllMet &= Verdict(
        "every handle back after the clients closed",
        WaitUntil([&] { return Transport.ConnectionCount() == 0 && Transport.ThreadCount() == 0; },
                  std::chrono::seconds(10)));

    // 3: rough peers.
    std::printf("\n50 peers that reset: 25 mid-request, 25 mid-reply\n");
    std::string Many;
    for (int I = 0; I < 20000; ++I)
        Many += Request;
    for (int I = 0; I < 50; ++I) {
        TSocketHandle C = ConnectTo(Port);
        MakeReady(C.Get());
        if (I % 2 == 0) {
            SendAll(C.Get(), Request.substr(0, Request.size() / 2));
        } else {
            // As much as the socket takes; the server is still writing the
            // replies when the reset comes.
            ::send(C.Get(), Many.data(), Many.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            std::string Got;
            ReceiveExactly(C.Get(), Got, Reply.size());
        }
        linger Linger{1, 0};
        ::setsockopt(C.Get(), SOL_SOCKET, SO_LINGER, &Linger, sizeof Linger);
    }
    const bool Freed =
        WaitUntil([&] { return Transport.ConnectionCount() == 0 && Transport.ThreadCount() == 0; },
                  std::chrono::seconds(10));
    TSocketHandle After = ConnectTo(Port);
    std::string First;
    const bool Serving = SendAll(After.Get(), Connect) && ReceiveExactly(After.Get(), First, 22) &&
                         First == "{\"result\":[1,\"KDS\",2]}";
    AllMet &= Verdict("handles freed, the next connection gets handle 1", Freed && Serving);
    After.Reset();

    // 4: stop with 500 open connections.
    std::vector<TSocketHandle> Open;
    for (int I = 0; I < 500; ++I) {
        Open.push_back(ConnectTo(Port));
        MakeReady(Open.back().Get());
    }
    WaitUntil([&] { return Transport.ThreadCount() == 500; }, std::chrono::seconds(10));
    std::printf("\nstop with %d open connections\n", Transport.ThreadCount());
    const auto StopStart = TClock::now();
    Server->DSServer1().Stop();
    const double StopMs =
        std::chrono::duration<double, std::milli>(TClock::now() - StopStart).count();
    std::printf("  stop returned after %.1f ms, %d connection threads left\n", StopMs,
                Transport.ThreadCount());
    AllMet &= Verdict("stop under 1 s with every thread joined",
                      StopMs < 1000 && Transport.ThreadCount() == 0);
    Server.reset();
    return AllMet ? 0 : 1;
}
