// BLAKE2b-512 of a download on a thread of its own, so that receiving does
// not wait for hashing. At most kMaxQueued pieces wait: memory stays flat
// however large the file, and a receiver ahead of the hash waits for it.
#pragma once

#include <sodium.h>

#include <array>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

class TBackgroundHasher {
public:
    static constexpr std::size_t kMaxQueued = 64;
    using THash = std::array<unsigned char, crypto_generichash_BYTES_MAX>;

    TBackgroundHasher();
    ~TBackgroundHasher();
    TBackgroundHasher(const TBackgroundHasher&) = delete;
    TBackgroundHasher& operator=(const TBackgroundHasher&) = delete;

    // Queues a copy of the bytes, the first call starting the thread.
    void Add(const void* data, std::size_t size);
    // Waits until every queued piece is hashed; the hash of all of them.
    THash Finish();

private:
    void Run();
    void Stop();

    std::mutex m_Mutex;
    std::condition_variable m_Changed;
    std::deque<std::string> m_Pieces;
    bool m_Ending = false;  // no more pieces come: the thread ends once the queue is empty
    std::thread m_Thread;
    crypto_generichash_state m_State;  // the thread's alone while it runs
};
