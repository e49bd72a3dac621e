#pragma once

#include "net/FetchRequest.h"

#include <vector>

namespace kestrel {

// Runs prepared requests side by side on one libcurl multi handle, so that
// a batch takes about as long as its slowest request, not the sum of all.
// The requests must outlive the batch.
class CFetchBatch {
public:
    CFetchBatch();
    ~CFetchBatch();
    CFetchBatch(const CFetchBatch&) = delete;
    CFetchBatch& operator=(const CFetchBatch&) = delete;

    // False when the request cannot join; it then stays failed.
    bool Add(CFetchRequest& request);
    // Returns when every request has ended and told how; each request's own
    // time-outs bound the wait.
    void Run();

private:
    void CollectEnded();
    void RemoveAll();

    CURLM* m_multi;
    std::vector<CURL*> m_added;
};

} // namespace kestrel
