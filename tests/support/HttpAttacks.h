#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kestrel::test {

// A web server on 127.0.0.1. Each attack comes from a loopback address of
// its own (one pupil's machine), the ordinary requests from 127.0.0.3.
struct AttackTarget {
    int port = 0;
    // Set anew by RunAttack for each attack: a connection closed right after
    // its last bytes may count against its address until the idle time-out.
    std::string attacker = "127.0.1.1";
    // A file answered 200 to a plain GET: the ordinary request, and what the
    // pipelined, ranged and %00 requests ask for.
    std::string path = "/";
    // Where bodies are sent (the server may refuse the method).
    std::string postPath = "/";
    // A symbolic link in the served folder to a file outside it; empty when
    // the server serves no folder.
    std::string linkPath;
};

// Whether the server refused the attack or shrugged it off, and in words
// what happened.
struct AttackOutcome {
    bool harmless = false;
    std::string detail;
};

// One row of the table, carried out within about 15 s.
struct HttpAttack {
    const char* name;
    std::function<AttackOutcome(const AttackTarget&)> run;
};

// The attacks on the web layer both servers share: bodies, heads, slow and
// many connections, pipelines, ranges, paths.
const std::vector<HttpAttack>& WebLayerAttacks();

struct AttackReport {
    AttackOutcome outcome;
    // Ordinary requests from another connection while the attack ran, the
    // longest of their answers, and one more afterwards.
    int ordinaryRequests = 0;
    int ordinaryUnanswered = 0;
    std::chrono::milliseconds longestOrdinaryAnswer{0};
    bool answeredAfterwards = false;
    // The server's peak resident memory during the attack above what it
    // held before; -1 without a process to watch.
    long peakKibAboveIdle = -1;
};

// Runs `attack` against `target` with ordinary requests beside it, watching
// `server`'s memory (when not -1).
AttackReport RunAttack(const HttpAttack& attack, AttackTarget target, pid_t server);

struct Answer {
    int status = 0; // 0: no whole answer in time
    std::string head;
    std::string body;
};

// Sends `request` from the address `from` on a connection of its own and
// reads the first answer.
Answer Ask(const std::string& from, int port, const std::string& request, std::chrono::milliseconds timeout);

// A GET of `path` from 127.0.0.3 with Connection: close; its status.
int OrdinaryGet(int port, const std::string& path, std::chrono::milliseconds timeout);

} // namespace kestrel::test
