#pragma once

#include <cstddef>
#include <curl/curl.h>

namespace kestrel {

// One picture request on its own libcurl handle: the set-up that every
// request shares and the rules that decide whether its body counts. Made
// once, prepared once, performed once (alone or in a batch).
class CFetchRequest {
public:
    CFetchRequest() = default;
    ~CFetchRequest();
    CFetchRequest(const CFetchRequest&) = delete;
    CFetchRequest& operator=(const CFetchRequest&) = delete;

    // Sets up the GET of an encoded URL whose body goes into buffer, at most
    // capacity bytes. False when there is nothing to fetch: no absolute URL,
    // a URL longer than 519 characters, no buffer, or no handle.
    bool Prepare(const char* encodedUrl, unsigned char* buffer, std::size_t capacity);

    CURL* Handle() const { return m_curl; }
    // Records how the transfer ended; called by whoever ran it, alone or in
    // a batch.
    void Ended(CURLcode code) { m_code = code; }

    // The body bytes held once the transfer ended; 0 when it failed or the
    // answer is no usable body.
    std::size_t Result() const;

private:
    static std::size_t OnHeader(char* line, std::size_t size, std::size_t count, void* self);
    static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self);
    bool LengthAccepted() const;

    CURL* m_curl = nullptr;
    // A request that was never performed counts as failed.
    CURLcode m_code = CURLE_FAILED_INIT;
    unsigned char* m_buffer = nullptr;
    std::size_t m_capacity = 0;
    std::size_t m_held = 0;
    // Set when the transfer was stopped because the buffer was full.
    bool m_bFull = false;
    // The length header of the latest response; a redirect's own header
    // never counts for the body that follows it.
    bool m_bHasLength = false;
    long long m_declaredLength = 0;
};

} // namespace kestrel
