#include "app/BackgroundHasher.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

TBackgroundHasher::TBackgroundHasher()
{
    if (sodium_init() < 0)
        throw std::runtime_error("libsodium cannot be initialised");
    crypto_generichash_init(&m_State, nullptr, 0, crypto_generichash_BYTES_MAX);
}

TBackgroundHasher::~TBackgroundHasher()
{
    m_Block.clear();  // no hash is asked for: what was not queued is dropped
    Stop();
}

void TBackgroundHasher::Add(const void* data, std::size_t size)
{
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        if (m_Block.capacity() < kBlockSize)
            m_Block.reserve(kBlockSize);
        const std::size_t take = std::min(size, kBlockSize - m_Block.size());
        m_Block.append(bytes, take);
        bytes += take;
        size -= take;
        if (m_Block.size() == kBlockSize)
            Queue(std::exchange(m_Block, std::string()));
    }
}

void TBackgroundHasher::Queue(std::string block)
{
    std::unique_lock lock(m_Mutex);
    if (!m_Thread.joinable())
        m_Thread = std::thread([this] { Run(); });
    m_Changed.wait(lock, [this] { return m_Pieces.size() < kMaxQueued; });
    m_Pieces.push_back(std::move(block));
    m_Changed.notify_all();
}

TBackgroundHasher::THash TBackgroundHasher::Finish()
{
    Stop();
    THash hash;
    crypto_generichash_final(&m_State, hash.data(), hash.size());
    return hash;
}

void TBackgroundHasher::Stop()
{
    if (!m_Block.empty())
        Queue(std::exchange(m_Block, std::string()));
    {
        std::lock_guard lock(m_Mutex);
        m_Ending = true;
        m_Changed.notify_all();
    }
    if (m_Thread.joinable())
        m_Thread.join();
}

void TBackgroundHasher::Run()
{
    std::unique_lock lock(m_Mutex);
    for (;;) {
        m_Changed.wait(lock, [this] { return !m_Pieces.empty() || m_Ending; });
        if (m_Pieces.empty())
            return;
        const std::string piece = std::move(m_Pieces.front());
        m_Pieces.pop_front();
        m_Changed.notify_all();
        lock.unlock();
        crypto_generichash_update(&m_State, reinterpret_cast<const unsigned char*>(piece.data()), piece.size());
        lock.lock();
    }
}
