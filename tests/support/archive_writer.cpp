// Archives of every kind the program reads, written member by member.
#include "tests/support/archive_writer.h"

#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>

#include <memory>
#include <stdexcept>

#include "core/input/archive.h"

namespace chipsight::testing {

void writeArchive(const std::string& path, const std::string& kind,
                  const std::vector<Member>& members) {
    // Paths are UTF-8, as the reader gives them.
    const Utf8Names utf8;
    std::unique_ptr<archive, decltype(&archive_write_free)> a(archive_write_new(),
                                                              archive_write_free);
    archive* const w = a.get();
    const auto check = [&](int status) {
        if (status < ARCHIVE_WARN) throw std::runtime_error(archive_error_string(w));
    };
    // A compressed stream's suffix names its filter; what is left names the format, a raw one
    // when nothing is.
    const std::string filter = kind.ends_with("gz")    ? "gzip"
                               : kind.ends_with("xz")  ? "xz"
                               : kind.ends_with("bz2") ? "bzip2"
                                                       : "";
    const std::string format = kind == "zip"             ? "zip"
                               : kind == "7z"            ? "7zip"
                               : kind.starts_with("tar") ? "paxr"
                                                         : "raw";
    check(archive_write_set_format_by_name(w, format.c_str()));
    if (!filter.empty()) check(archive_write_add_filter_by_name(w, filter.c_str()));
    check(archive_write_open_filename(w, path.c_str()));
    for (const Member& m : members) {
        std::unique_ptr<archive_entry, decltype(&archive_entry_free)> entry(archive_entry_new(),
                                                                            archive_entry_free);
        archive_entry* const e = entry.get();
        archive_entry_set_pathname(e, m.path.c_str());
        archive_entry_set_perm(e, 0644);
        archive_entry_set_mtime(e, 1109289600, 0);
        // A hard link is a regular file that names the member whose bytes it shares.
        archive_entry_set_filetype(e, m.kind == Member::Directory ? AE_IFDIR
                                      : m.kind == Member::Symlink ? AE_IFLNK
                                                                  : AE_IFREG);
        if (m.kind == Member::File) archive_entry_set_size(e, la_int64_t(m.bytes.size()));
        if (m.kind == Member::Symlink) archive_entry_set_symlink(e, m.target.c_str());
        if (m.kind == Member::Hardlink) archive_entry_set_hardlink(e, m.target.c_str());
        check(archive_write_header(w, e));
        if (m.kind == Member::File && !m.bytes.empty() &&
            archive_write_data(w, m.bytes.data(), m.bytes.size()) != la_ssize_t(m.bytes.size()))
            throw std::runtime_error(archive_error_string(w));
    }
    check(archive_write_close(w));
}

std::vector<Member> membersOf(const std::string& path) {
    std::unique_ptr<archive, decltype(&archive_read_free)> a(archive_read_new(), archive_read_free);
    archive_read_support_format_all(a.get());
    if (archive_read_open_filename(a.get(), path.c_str(), 1 << 16) != ARCHIVE_OK)
        throw std::runtime_error(archive_error_string(a.get()));
    std::vector<Member> members;
    archive_entry* entry = nullptr;
    while (archive_read_next_header(a.get(), &entry) == ARCHIVE_OK) {
        Member& m = members.emplace_back(Member{archive_entry_pathname(entry)});
        m.bytes.resize(std::size_t(archive_entry_size(entry)));
        if (archive_read_data(a.get(), m.bytes.data(), m.bytes.size()) !=
            la_ssize_t(m.bytes.size()))
            throw std::runtime_error("cannot read " + m.path);
    }
    return members;
}

}  // namespace chipsight::testing
