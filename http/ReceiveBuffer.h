// The receive buffer of a response: raw bytes read from the socket, cut
// into header lines or handed on whole as a document piece.
#pragma once

#include <array>
#include <string>

class TReceiveBuffer {
public:
    static constexpr int kCapacity = 8192;

    int Fill() const { return m_End - m_Start; }
    int Space() const { return kCapacity - Fill(); }
    // Where up to Space() new bytes go; Commit makes them part of the buffer.
    char* WritePosition();
    void Commit(int count);

    // Removes the first line that ends in LF and returns it without its LF
    // and without a CR directly before it. False when no line is complete.
    bool TakeLine(std::string& line);
    // Removes and returns everything held.
    std::string TakeAll();
    void Clear();

private:
    // The held bytes are m_Data[m_Start, m_End): a line taken moves only
    // m_Start, so cutting a buffer into lines costs its length, not its
    // length times its lines. m_Data[m_End] is always 0, as callers that
    // read the buffer as text expect.
    std::array<char, kCapacity + 1> m_Data{};
    int m_Start = 0;
    int m_End = 0;
};
