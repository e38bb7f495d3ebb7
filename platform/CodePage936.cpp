#include "CodePage936.h"

#include <iconv.h>

#include <array>
#include <memory>

namespace {

constexpr unsigned kLeadCount = 0xFE - 0x81 + 1;
constexpr unsigned kTrailCount = 0xFE - 0x40 + 1;  // 0x7F among them, never valid

bool IsTrailByte(unsigned char trail)
{
    return trail >= 0x40 && trail <= 0xFE && trail != 0x7F;
}

// The private-use character of an unassigned pair. The three user-defined
// areas are laid out by rows; the remaining gaps follow from U+E766 on in
// the order of their codes.
char16_t PrivateUse(unsigned lead, unsigned trail, char16_t& nextGap)
{
    if (lead >= 0xAA && lead <= 0xAF && trail >= 0xA1)
        return static_cast<char16_t>(0xE000 + (lead - 0xAA) * 94 + (trail - 0xA1));
    if (lead >= 0xF8 && trail >= 0xA1)
        return static_cast<char16_t>(0xE234 + (lead - 0xF8) * 94 + (trail - 0xA1));
    if (lead >= 0xA1 && lead <= 0xA7 && trail <= 0xA0)
        return static_cast<char16_t>(0xE4C6 + (lead - 0xA1) * 96 + (trail - 0x40) - (trail > 0x7F ? 1 : 0));
    return nextGap++;
}

struct TTables {
    std::array<char16_t, kLeadCount * kTrailCount> Pairs{};
    std::array<std::uint16_t, 0x10000> Bytes{};
};

// GBK itself comes from iconv; without it, no pair has a character.
std::unique_ptr<TTables> BuildTables()
{
    auto tables = std::make_unique<TTables>();
    iconv_t cd = iconv_open("UTF-16LE", "GBK");
    if (cd != reinterpret_cast<iconv_t>(-1)) {
        char16_t nextGap = 0xE766;
        for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
            for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
                if (!IsTrailByte(static_cast<unsigned char>(trail)))
                    continue;
                char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
                unsigned char out[4] = {};
                char* inPtr = in;
                char* outPtr = reinterpret_cast<char*>(out);
                std::size_t inLeft = 2;
                std::size_t outLeft = sizeof out;
                const bool assigned = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1) &&
                                      outLeft == 2;
                iconv(cd, nullptr, nullptr, nullptr, nullptr);
                const char16_t character =
                    assigned ? static_cast<char16_t>(out[0] | out[1] << 8) : PrivateUse(lead, trail, nextGap);
                tables->Pairs[(lead - 0x81) * kTrailCount + (trail - 0x40)] = character;
                tables->Bytes[character] = static_cast<std::uint16_t>(lead << 8 | trail);
            }
        }
        iconv_close(cd);
    }
    tables->Bytes[0x20AC] = 0x80;
    tables->Bytes[0xF8F5] = 0xFF;
    return tables;
}

const TTables& Tables()
{
    static const std::unique_ptr<TTables> tables = BuildTables();
    return *tables;
}

}  // namespace

char16_t Decode936Pair(unsigned char lead, unsigned char trail)
{
    if (lead < 0x81 || lead > 0xFE || !IsTrailByte(trail))
        return 0;
    return Tables().Pairs[(lead - 0x81) * kTrailCount + (trail - 0x40)];
}

std::uint16_t Encode936(char16_t character)
{
    return character < 0x80 ? 0 : Tables().Bytes[character];
}
