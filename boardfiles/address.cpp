#include "address.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t LONGEST_TEXT = 63;  // beyond INET6_ADDRSTRLEN: no address
constexpr std::size_t HALF = 8;           // the /64 a visitor holds
constexpr std::size_t WIDER = 6;          // the /48 a holder may rotate through
constexpr std::uint8_t MAPPED[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};

}  // namespace

AddressKey address_key(std::string_view address)
{
    AddressKey key{};
    char text[LONGEST_TEXT + 1];
    const bool fits = address.size() <= LONGEST_TEXT;
    if (fits) {
        std::copy(address.begin(), address.end(), text);
        text[address.size()] = '\0';
    }
    std::uint8_t v4[4];
    if (fits && inet_pton(AF_INET, text, v4) == 1) {
        std::copy(std::begin(MAPPED), std::end(MAPPED), key.begin());
        std::copy(std::begin(v4), std::end(v4), key.begin() + 12);
    } else if (fits && inet_pton(AF_INET6, text, key.data()) == 1) {
        if (!std::equal(std::begin(MAPPED), std::end(MAPPED), key.begin()))
            std::fill(key.begin() + HALF, key.end(), 0);
    } else {
        // FNV-1a over the text, which then counts as one poster's, as it always did.
        std::uint64_t hash = 0xcbf29ce484222325;
        for (const char c : address)
            hash = (hash ^ static_cast<std::uint8_t>(c)) * 0x100000001b3;
        key[0] = 0xff;
        for (std::size_t i = 0; i < HALF; i++)
            key[HALF + i] = static_cast<std::uint8_t>(hash >> (8 * i));
    }
    return key;
}

bool in_wider_block(const AddressKey &key)
{
    return key[0] != 0xff && !std::equal(std::begin(MAPPED), std::end(MAPPED), key.begin());
}

bool same_wider_block(const AddressKey &a, const AddressKey &b)
{
    return in_wider_block(a) && in_wider_block(b) && std::equal(a.begin(), a.begin() + WIDER, b.begin());
}
