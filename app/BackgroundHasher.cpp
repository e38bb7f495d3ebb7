#include "app/BackgroundHasher.h"

#include <stdexcept>

TBackgroundHasher::TBackgroundHasher()
{
    if (sodium_init() < 0)
        throw std::runtime_error("libsodium cannot be initialised");
    crypto_generichash_init(&m_State, nullptr, 0, crypto_generichash_BYTES_MAX);
}

TBackgroundHasher::~TBackgroundHasher()
{
    Stop();
}

void TBackgroundHasher::Add(const void* data, std::size_t size)
{
    std::unique_lock lock(m_Mutex);
    if (!m_Thread.joinable())
        m_Thread = std::thread([this] { Run(); });
    m_Changed.wait(lock, [this] { return m_Pieces.size() < kMaxQueued; });
    m_Pieces.emplace_back(static_cast<const char*>(data), size);
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
