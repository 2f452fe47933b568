// PROVISIONAL copy of the reader interface (replaced by the reader branch's own header).
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
namespace chipsight {
enum class DatFormat { None, ListXml, SoftwareList, Logiqx, ClrMamePro };
const char* datFormatName(DatFormat);
struct DatRom {
    std::string_view name, setName, setDescription, listName;
    std::string_view sha1;
    std::string_view region, endianness, loadFlag;
    std::uint32_t crc = 0, size = 0;
    std::uint64_t offset = 0;
    bool hasOffset = false;
    std::uint32_t dataWidth = 0;
    bool badDump = false;
};
class DatSink {
  public:
    virtual ~DatSink() = default;
    virtual void rom(const DatRom& rom) = 0;
};
}  // namespace chipsight
