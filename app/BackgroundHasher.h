// BLAKE2b-512 of a download on a thread of its own, so that receiving does
// not wait for hashing. Pieces are gathered into blocks of kBlockSize, so the
// hand-over between the threads costs once a block, not once a piece. At
// most kMaxQueued blocks wait: memory stays flat however large the file,
// and a receiver ahead of the hash waits for it.
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
    static constexpr std::size_t kBlockSize = 128 * 1024;
    static constexpr std::size_t kMaxQueued = 8;
    using THash = std::array<unsigned char, crypto_generichash_BYTES_MAX>;

    TBackgroundHasher();
    ~TBackgroundHasher();
    TBackgroundHasher(const TBackgroundHasher&) = delete;
    TBackgroundHasher& operator=(const TBackgroundHasher&) = delete;

    // Takes a copy of the bytes, the first full block starting the thread.
    void Add(const void* data, std::size_t size);
    // Waits until every queued piece is hashed; the hash of all of them.
    THash Finish();

private:
    void Run();
    void Queue(std::string block);
    void Stop();

    std::mutex m_Mutex;
    std::condition_variable m_Changed;
    std::string m_Block;  // the receiver's alone: gathered bytes not queued yet
    std::deque<std::string> m_Pieces;
    bool m_Ending = false;  // no more pieces come: the thread ends once the queue is empty
    std::thread m_Thread;
    crypto_generichash_state m_State;  // the thread's alone while it runs
};
