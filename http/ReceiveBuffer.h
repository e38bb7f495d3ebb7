// The receive buffer of a response: raw bytes read from the socket, cut
// into header lines or handed on whole as a document piece.
#pragma once

#include <array>
#include <string>

class TReceiveBuffer {
public:
    static constexpr int kCapacity = 8192;

    int Fill() const { return m_ReceiveFill; }
    int Space() const { return kCapacity - m_ReceiveFill; }
    // Where up to Space() new bytes go; Commit makes them part of the buffer.
    char* WritePosition() { return m_Data.data() + m_ReceiveFill; }
    void Commit(int count);

    // Removes the first line that ends in LF and returns it without its LF
    // and without a CR directly before it. False when no line is complete.
    bool TakeLine(std::string& line);
    // Removes and returns everything held.
    std::string TakeAll();
    void Clear();

private:
    // m_Data[m_ReceiveFill] is always 0, as callers that read the buffer
    // as text expect.
    std::array<char, kCapacity + 1> m_Data{};
    int m_ReceiveFill = 0;
};
