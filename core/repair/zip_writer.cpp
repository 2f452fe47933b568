// The zip writer: libarchive's, driven into the file layer, so a write that fails leaves the
// old file or nothing under the final name.
#include "core/repair/zip_writer.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "core/sys/file_layer.h"

namespace chipsight::repair {

namespace {

// The time every member carries: the zip format's first day, 1980-01-01 00:00 UTC.
constexpr std::int64_t kFixedTime = 315532800;

// Hands libarchive's output to the file, and keeps the file layer's error for the caller: a
// C callback must not throw.
struct Sink {
    File* file = nullptr;
    int error = 0;
};

la_ssize_t writeOut(struct archive*, void* client, const void* buffer, std::size_t length) {
    auto* sink = static_cast<Sink*>(client);
    try {
        sink->file->write(buffer, length);
    } catch (const FileError& e) {
        sink->error = e.error() ? e.error() : EIO;
        return -1;
    }
    return la_ssize_t(length);
}

}  // namespace

bool safeComponent(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return false;
    return std::none_of(name.begin(), name.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7F || c == '/' || c == '\\';
    });
}

bool safeMemberName(std::string_view name) {
    for (std::size_t at = 0;;) {
        const std::size_t slash = name.find('/', at);
        if (!safeComponent(name.substr(at, slash - at))) return false;
        if (slash == std::string_view::npos) return true;
        at = slash + 1;
    }
}

std::string writeZip(const std::string& path, std::vector<ZipMember> members, bool replace) {
    std::sort(members.begin(), members.end(),
              [](const ZipMember& a, const ZipMember& b) { return a.name < b.name; });
    std::string failure;
    int error = 0;
    const bool written = replaceFileWith(
        path,
        [&](File& file) {
            Sink sink{&file};
            const std::unique_ptr<struct archive, decltype(&archive_write_free)> a(
                archive_write_new(), archive_write_free);
            const std::unique_ptr<struct archive_entry, decltype(&archive_entry_free)> entry(
                archive_entry_new(), archive_entry_free);
            if (!a || !entry) throw FileError("out of memory", ENOMEM);
            const auto check = [&](int status) {
                if (status == ARCHIVE_OK) return;
                if (sink.error) throw FileError("write failed", sink.error);
                failure = archive_error_string(a.get()) ? archive_error_string(a.get()) : "";
                throw FileError(failure, EIO);
            };
            check(archive_write_set_format_zip(a.get()));
            check(archive_write_set_options(a.get(), "zip:compression=store"));
            check(archive_write_set_bytes_in_last_block(a.get(), 1));
            check(archive_write_open2(a.get(), &sink, nullptr, writeOut, nullptr, nullptr));
            for (const ZipMember& m : members) {
                archive_entry_clear(entry.get());
                archive_entry_set_pathname_utf8(entry.get(), m.name.c_str());
                archive_entry_set_filetype(entry.get(), AE_IFREG);
                archive_entry_set_perm(entry.get(), 0644);
                archive_entry_set_size(entry.get(), la_int64_t(m.bytes.size()));
                archive_entry_set_mtime(entry.get(), kFixedTime, 0);
                check(archive_write_header(a.get(), entry.get()));
                if (!m.bytes.empty() &&
                    archive_write_data(a.get(), m.bytes.data(), m.bytes.size()) !=
                        la_ssize_t(m.bytes.size()))
                    check(ARCHIVE_FATAL);
            }
            check(archive_write_close(a.get()));
        },
        replace, &error);
    if (written) return {};
    if (!failure.empty()) return failure;
    return error == EEXIST ? kFileExists : std::strerror(error);
}

}  // namespace chipsight::repair
