// How many bytes each text field of the stored records holds: UTF-8 bytes,
// the closing NUL not counted. The records are built from this table and the
// manager's edits stop input at the same sizes, so a text that was entered
// is stored whole; counting characters instead let a text of two-byte
// letters in that the record then cut.
#pragma once

#include <cstddef>

#include "common/fixed_text.h"

namespace korvo {

// A record's text field that holds Bytes bytes of text.
template <std::size_t Bytes>
using StoredText = FixedText<Bytes + 1>;

namespace field_size {

// The T.30 identifier of a station: a sender in the denied-sender book and
// the server's own (Server Parameters).
inline constexpr std::size_t kStationId = 20;
inline constexpr std::size_t kSenderDescription = 63;

// Address book entries.
inline constexpr std::size_t kAddressFirstName = 31;
inline constexpr std::size_t kAddressText = 63;    // last name, company, address
inline constexpr std::size_t kAddressNumber = 31;  // fax and phone number
inline constexpr std::size_t kAddressFurther1 = 20;
inline constexpr std::size_t kAddressFurther2 = 31;
// What an entry takes; the record's field is 3 bytes wider, which the
// stored layout fixes.
inline constexpr std::size_t kAddressComment = 63;
inline constexpr std::size_t kAddressCommentField = 66;

// Registered users.
inline constexpr std::size_t kUserName = 31;
inline constexpr std::size_t kUserText = 63;    // full name, description, e-mail, organisation
inline constexpr std::size_t kUserNumber = 31;  // fax and phone number

// Modems: port, modem name, init string, dial prefix.
inline constexpr std::size_t kModemText = 31;

}  // namespace field_size
}  // namespace korvo
