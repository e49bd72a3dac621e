#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kestrel::test {

// Where the attacks go: a web server on 127.0.0.1. Each attack comes from
// a loopback address of its own (one pupil's machine), the ordinary
// requests that must still be answered from 127.0.0.3 (another one).
struct AttackTarget {
    int port = 0;
    // The attacking machine; RunAttack gives each attack a new one, as a
    // connection closed right after its last bytes may be counted against
    // its address until the server's idle time-out.
    std::string attacker = "127.0.1.1";
    // A file answered 200 to a plain GET: the ordinary request, and what
    // the pipelined, ranged and %00 requests ask for.
    std::string path = "/";
    // Where bodies are sent (the server may refuse the method).
    std::string postPath = "/";
    // A symbolic link in a served folder to a file outside it; empty when
    // the server serves no folder.
    std::string linkPath;
};

// What one attack saw: whether the server refused it or shrugged it off,
// and in words what happened, for the test's message and the benchmark.
struct AttackOutcome {
    bool harmless = false;
    std::string detail;
};

// One row of the table: carries the attack out within bounded time (at
// most about 15 s).
struct HttpAttack {
    const char* name;
    AttackOutcome (*run)(const AttackTarget& target);
};

// The attacks on the web layer both servers share: bodies, heads, slow and
// many connections, pipelines, ranges, paths.
const std::vector<HttpAttack>& WebLayerAttacks();

// What the server did under one attack.
struct AttackReport {
    AttackOutcome outcome;
    // Ordinary requests from another connection while the attack ran, the
    // longest of their answers, and one more afterwards.
    int ordinaryRequests = 0;
    int ordinaryUnanswered = 0;
    std::chrono::milliseconds longestOrdinaryAnswer{0};
    bool answeredAfterwards = false;
    // The server's resident memory at its highest during the attack, above
    // what it held before; -1 without a process to watch.
    long peakKibAboveIdle = -1;
};

// Runs `attack` against `target` while sending ordinary requests beside it
// and watching `server`'s memory (when not -1).
AttackReport RunAttack(const HttpAttack& attack, AttackTarget target, pid_t server);

// A GET of `path` from 127.0.0.3, with Connection: close; its status, or 0
// when no answer came within `timeout`.
int OrdinaryGet(int port, const std::string& path, std::chrono::milliseconds timeout);

} // namespace kestrel::test
