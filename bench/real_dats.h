// The real databases the figures are taken against: MAME's ListXML (made by `mame -listxml` once
// per run) and every software list mame-data installs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

inline constexpr const char* kSoftwareLists = "/usr/share/games/mame/hash";
inline constexpr const char* kXmllint = "/usr/bin/xmllint";

// The ListXML and every software list, or nothing (with the reason) when they cannot be had.
struct RealDats {
    std::vector<std::string> paths;
    std::uint64_t bytes = 0;
    std::string missing;
};

const RealDats& realDats();

// A database directory with copies of the sample database and, for `withDats`, the ListXML
// and every software list linked into its dats directory.
std::string databaseDir(bool withDats);

// 1,000 files of 64 KiB, different in content, none of them known; written once.
const std::vector<std::string>& thousandImages();

}  // namespace bench
