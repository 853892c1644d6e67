// A poster's address as the board counts posters: REMOTE_ADDR reduced to the block that one
// visitor has. Every address of an IPv6 /64 is one visitor's (a home line or an office hands
// out whole /64s); an IPv4-mapped IPv6 address (::ffff:a.b.c.d) is that IPv4 address; an
// IPv4 address is itself. Text that is no address at all stands for itself.
//
//   key bytes 0-7    the /64 of an IPv6 address        8-15  zero
//             0-11   ::ffff: (0 0 0 0 0 0 0 0 0 0 ff ff)     12-15 the IPv4 address
//             0-1    ff 00 (no address: ff00::/8 is never a source)  8-15 a hash of the text
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

using AddressKey = std::array<std::uint8_t, 16>;

// The key of an address text (REMOTE_ADDR, or line 2 of the last-poster file).
AddressKey address_key(std::string_view address);

// Whether key is an IPv6 /64's, which belongs to a wider block (its /48) that one holder may
// rotate through.
bool in_wider_block(const AddressKey &key);

// Whether two keys lie in the same /48 (both IPv6 /64 keys).
bool same_wider_block(const AddressKey &a, const AddressKey &b);
