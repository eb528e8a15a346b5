#pragma once

#include <string_view>

// How a record line is marked: the tag, and the end of each of its six
// fields. The reader of lines and the table of records both look for them.
//
// A record line holds the tag "<TS_RY>" and, right after its first
// occurrence, six fields, each ended by "#":
//     Kind#Name#Value#Extra1#Extra2#Extra3#
// Text before the tag and after the sixth "#" is ignored.

namespace tsry {

inline constexpr std::string_view kRecordTag = "<TS_RY>";
inline constexpr char kFieldEnd = '#';
inline constexpr int kRecordFields = 6;

}  // namespace tsry
