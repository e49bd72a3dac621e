#pragma once

#include "net/FetchRequest.h"

#include <vector>

namespace kestrel {

// Runs prepared requests side by side on one libcurl multi handle, so that
// a batch takes about as long as its slowest request, not the sum of all.
// The requests must outlive their time in the batch.
class CFetchBatch {
public:
    CFetchBatch();
    ~CFetchBatch();
    CFetchBatch(const CFetchBatch&) = delete;
    CFetchBatch& operator=(const CFetchBatch&) = delete;

    // False when the request cannot join; it then stays failed.
    bool Add(CFetchRequest& request);
    void Remove(CFetchRequest& request);
    bool Empty() const { return m_added.empty(); }
    // Lets the transfers run, waiting at most waitMs for one to move, and
    // returns the requests that ended meanwhile, each told how. They stay in
    // the batch until removed.
    std::vector<CFetchRequest*> Step(int waitMs);
    // Cuts the wait of a running Step short; the one call that is safe from
    // another thread.
    void Wakeup();
    // Returns when every request has ended and told how; each request's own
    // time-outs bound the wait.
    void Run();

private:
    void RemoveAll();

    CURLM* m_multi;
    std::vector<CURL*> m_added;
};

} // namespace kestrel
