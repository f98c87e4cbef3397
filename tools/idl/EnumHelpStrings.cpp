#include "EnumHelpStrings.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>

namespace kestrix {

namespace {

// The parts of the file this needs. A compiled type library starts with a
// header, the offsets of its type infos and a directory of fifteen segments;
// widl then writes the segments back to back and, last, one block per type
// info holding its member records.
constexpr std::int32_t kMagic = 0x5446534D;  // "MSFT"
constexpr std::int32_t kFormat = 0x00010002;
constexpr std::size_t kHeaderSize = 0x54;
constexpr std::size_t kFlagsField = 0x14;      // bit 0x100: a help-string DLL follows the header
constexpr std::size_t kTypeInfoCountField = 0x20;
constexpr int kSegmentCount = 15;
constexpr std::size_t kSegmentEntrySize = 16;  // offset, length and two reserved words
constexpr int kTypeInfoSegment = 0;
constexpr int kNameSegment = 7;
constexpr int kStringSegment = 8;

// A type info in the type-info segment.
constexpr std::size_t kTypeInfoSize = 0x64;
constexpr std::size_t kKindField = 0x00;        // low nibble: TYPEKIND
constexpr std::size_t kMembersField = 0x04;     // file offset of its member block
constexpr std::size_t kCountsField = 0x18;      // functions in the low word, variables in the high
constexpr std::size_t kNameField = 0x34;        // offset in the name segment
constexpr std::int32_t kEnumKind = 0;           // TKIND_ENUM

// A variable's record: size (low word) and index, type, flags, kind, value;
// then optional fields, of which the first two are the help context and the
// help string (an offset in the string segment).
constexpr std::int32_t kPlainRecordSize = 0x14;
constexpr std::int32_t kHelpStringRecordSize = 0x1C;
constexpr std::size_t kHelpContextField = 0x14;
constexpr std::size_t kHelpStringField = 0x18;

// A name in the name segment: two words, then the length in the low byte of
// the third, then the characters.
constexpr std::size_t kNameLengthField = 8;
constexpr std::size_t kNameText = 12;

std::optional<std::int32_t> ReadInt(std::span<const std::uint8_t> bytes, std::size_t pos) {
    if (pos > bytes.size() || bytes.size() - pos < 4) return std::nullopt;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(bytes[pos]) |
                                     static_cast<std::uint32_t>(bytes[pos + 1]) << 8 |
                                     static_cast<std::uint32_t>(bytes[pos + 2]) << 16 |
                                     static_cast<std::uint32_t>(bytes[pos + 3]) << 24);
}

void WriteInt(std::vector<std::uint8_t>& bytes, std::size_t pos, std::int32_t value) {
    const auto v = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i) bytes[pos + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void AppendInt(std::vector<std::uint8_t>& bytes, std::int32_t value) {
    bytes.resize(bytes.size() + 4);
    WriteInt(bytes, bytes.size() - 4, value);
}

struct Segment {
    std::int32_t offset = -1;
    std::int32_t length = 0;
};

struct TypeInfo {
    std::size_t record = 0;  // file position of its entry in the type-info segment
    std::size_t block = 0;   // file position of its member block
    std::size_t blockSize = 0;
};

struct Layout {
    std::size_t segmentDirectory = 0;
    Segment segments[kSegmentCount];
    std::vector<int> fileOrder;  // present segments by position in the file
    std::size_t blocksStart = 0;
    std::vector<TypeInfo> typeInfos;
};

// Reads the layout and checks that it is the one widl writes: segments back
// to back after the directory, then the member blocks in type-info order up
// to the end of the file. Anything else is refused rather than guessed at.
std::optional<Layout> ReadLayout(std::span<const std::uint8_t> file) {
    const auto magic = ReadInt(file, 0);
    const auto format = ReadInt(file, 4);
    const auto flags = ReadInt(file, kFlagsField);
    const auto count = ReadInt(file, kTypeInfoCountField);
    if (!magic || *magic != kMagic || !format || *format != kFormat || !flags || !count) return std::nullopt;
    if (*count < 0 || static_cast<std::size_t>(*count) > file.size() / kTypeInfoSize) return std::nullopt;

    Layout layout;
    const std::size_t typeInfoOffsets = kHeaderSize + ((*flags & 0x100) != 0 ? 4 : 0);
    layout.segmentDirectory = typeInfoOffsets + 4 * static_cast<std::size_t>(*count);
    std::size_t position = layout.segmentDirectory + kSegmentCount * kSegmentEntrySize;
    if (position > file.size()) return std::nullopt;

    for (int s = 0; s < kSegmentCount; ++s) {
        const auto offset = ReadInt(file, layout.segmentDirectory + s * kSegmentEntrySize);
        const auto length = ReadInt(file, layout.segmentDirectory + s * kSegmentEntrySize + 4);
        if (!offset || !length || *length < 0) return std::nullopt;
        layout.segments[s] = {*offset, *length};
        if (*offset != -1) layout.fileOrder.push_back(s);
    }
    std::sort(layout.fileOrder.begin(), layout.fileOrder.end(),
              [&](int a, int b) { return layout.segments[a].offset < layout.segments[b].offset; });
    for (int s : layout.fileOrder) {
        if (static_cast<std::size_t>(layout.segments[s].offset) != position) return std::nullopt;
        position += static_cast<std::size_t>(layout.segments[s].length);
        if (position > file.size()) return std::nullopt;
    }
    layout.blocksStart = position;

    const Segment& infos = layout.segments[kTypeInfoSegment];
    for (std::int32_t i = 0; i < *count; ++i) {
        const auto offset = ReadInt(file, typeInfoOffsets + 4 * static_cast<std::size_t>(i));
        if (!offset || infos.offset < 0 || *offset < 0 || *offset > infos.length ||
            static_cast<std::size_t>(infos.length - *offset) < kTypeInfoSize)
            return std::nullopt;
        TypeInfo info;
        info.record = static_cast<std::size_t>(infos.offset) + static_cast<std::size_t>(*offset);
        const auto block = ReadInt(file, info.record + kMembersField);
        const auto counts = ReadInt(file, info.record + kCountsField);
        if (!block || !counts || static_cast<std::size_t>(*block) != position) return std::nullopt;
        const std::size_t members = (*counts & 0xFFFF) + ((*counts >> 16) & 0xFFFF);
        if (members > 0) {
            const auto recordsSize = ReadInt(file, position);
            if (!recordsSize || *recordsSize < 0) return std::nullopt;
            info.blockSize = 4 + static_cast<std::size_t>(*recordsSize) + 12 * members;
        }
        info.block = position;
        position += info.blockSize;
        if (position > file.size()) return std::nullopt;
        layout.typeInfos.push_back(info);
    }
    if (position != file.size()) return std::nullopt;
    return layout;
}

std::optional<std::string_view> NameAt(std::span<const std::uint8_t> file, const Layout& layout, std::int32_t offset) {
    const Segment& names = layout.segments[kNameSegment];
    if (names.offset < 0 || offset < 0 || offset > names.length) return std::nullopt;
    const std::size_t entry = static_cast<std::size_t>(names.offset) + static_cast<std::size_t>(offset);
    const auto lengthField = ReadInt(file, entry + kNameLengthField);
    if (!lengthField) return std::nullopt;
    const std::size_t length = static_cast<std::size_t>(*lengthField & 0xFF);
    const std::size_t end = static_cast<std::size_t>(names.offset) + static_cast<std::size_t>(names.length);
    if (entry + kNameText + length > end) return std::nullopt;
    return std::string_view(reinterpret_cast<const char*>(file.data() + entry + kNameText), length);
}

// The member block of the enumeration `name`, as the arrays it holds.
struct EnumBlock {
    const TypeInfo* info = nullptr;
    std::size_t members = 0;
    std::vector<std::int32_t> recordOffsets;  // from the start of the records
    std::vector<std::string_view> names;
};

std::optional<EnumBlock> FindEnum(std::span<const std::uint8_t> file, const Layout& layout, std::string_view name) {
    for (const TypeInfo& info : layout.typeInfos) {
        const auto kind = ReadInt(file, info.record + kKindField);
        const auto nameOffset = ReadInt(file, info.record + kNameField);
        if (!kind || (*kind & 0xF) != kEnumKind || !nameOffset) continue;
        const auto typeName = NameAt(file, layout, *nameOffset);
        if (!typeName || *typeName != name) continue;

        EnumBlock block;
        block.info = &info;
        block.members = static_cast<std::size_t>((*ReadInt(file, info.record + kCountsField) >> 16) & 0xFFFF);
        if (block.members == 0) return block;
        const auto recordsSize = *ReadInt(file, info.block);
        const std::size_t arrays = info.block + 4 + static_cast<std::size_t>(recordsSize);
        for (std::size_t m = 0; m < block.members; ++m) {
            const auto memberName = ReadInt(file, arrays + 4 * (block.members + m));
            const auto offset = ReadInt(file, arrays + 4 * (2 * block.members + m));
            if (!memberName || !offset || *offset < 0 || std::int64_t{*offset} + kPlainRecordSize > recordsSize)
                return std::nullopt;
            const auto text = NameAt(file, layout, *memberName);
            const auto size = ReadInt(file, info.block + 4 + static_cast<std::size_t>(*offset));
            if (!text || !size || (*size & 0xFFFF) < kPlainRecordSize || std::int64_t{*offset} + (*size & 0xFFFF) > recordsSize)
                return std::nullopt;
            block.names.push_back(*text);
            block.recordOffsets.push_back(*offset);
        }
        return block;
    }
    return std::nullopt;
}

// A string as the string segment holds it: its length in two bytes, the
// characters, then padding to a multiple of four (at least eight in all).
void AppendString(std::vector<std::uint8_t>& segment, std::string_view text) {
    const std::size_t start = segment.size();
    segment.push_back(static_cast<std::uint8_t>(text.size() & 0xFF));
    segment.push_back(static_cast<std::uint8_t>(text.size() >> 8));
    segment.insert(segment.end(), text.begin(), text.end());
    const std::size_t size = std::max<std::size_t>(8, (text.size() + 2 + 3) & ~std::size_t{3});
    segment.resize(start + size, 0x57);
}

}  // namespace

std::string AddEnumMemberHelpStrings(std::vector<std::uint8_t>& library,
                                     std::span<const EnumDescription* const> enumerations) {
    const std::span<const std::uint8_t> file(library);
    const auto layout = ReadLayout(file);
    if (!layout) return "not a type library laid out as widl writes one";
    if (layout->segments[kStringSegment].offset < 0) return "the type library has no string segment";

    // The new string segment and member blocks; the rest is copied.
    const Segment& strings = layout->segments[kStringSegment];
    std::vector<std::uint8_t> stringSegment(file.begin() + strings.offset,
                                            file.begin() + strings.offset + strings.length);
    std::vector<std::vector<std::uint8_t>> blocks;
    for (const TypeInfo& info : layout->typeInfos)
        blocks.emplace_back(file.begin() + static_cast<std::ptrdiff_t>(info.block),
                            file.begin() + static_cast<std::ptrdiff_t>(info.block + info.blockSize));

    for (const EnumDescription* enumeration : enumerations) {
        const auto block = FindEnum(file, *layout, enumeration->name);
        if (!block) return std::string("the type library has no enumeration ") + enumeration->name;
        if (block->members != enumeration->members.size())
            return std::string("the enumeration ") + enumeration->name + " has not the table's members";

        const auto recordsSize = *ReadInt(file, block->info->block);
        const std::size_t records = block->info->block + 4;
        const std::size_t arrays = records + static_cast<std::size_t>(recordsSize);
        const std::size_t n = block->members;

        // Records in their order in the file, each gaining the help context
        // (none) and the help string when the table gives one.
        std::vector<std::size_t> order(n);
        for (std::size_t m = 0; m < n; ++m) order[m] = m;
        std::sort(order.begin(), order.end(),
                  [&](std::size_t a, std::size_t b) { return block->recordOffsets[a] < block->recordOffsets[b]; });
        std::vector<std::uint8_t> newRecords;
        std::vector<std::int32_t> newOffsets(n);
        for (std::size_t m : order) {
            const EnumMember& member = enumeration->members[m];
            if (block->names[m] != member.name)
                return std::string("the enumeration ") + enumeration->name + " has not the table's members";
            const std::size_t at = records + static_cast<std::size_t>(block->recordOffsets[m]);
            const std::int32_t info = *ReadInt(file, at);
            const std::int32_t size = info & 0xFFFF;
            newOffsets[m] = static_cast<std::int32_t>(newRecords.size());
            const std::size_t start = newRecords.size();
            newRecords.insert(newRecords.end(), file.begin() + static_cast<std::ptrdiff_t>(at),
                              file.begin() + static_cast<std::ptrdiff_t>(at + static_cast<std::size_t>(size)));
            if (member.helpString[0] == '\0') continue;
            if (std::strlen(member.helpString) > 0xFFFF) return std::string("the help string of ") + member.name + " is too long";
            if (size < kHelpStringRecordSize) {
                newRecords.resize(start + kHelpStringRecordSize);
                WriteInt(newRecords, start, (info & ~0xFFFF) | kHelpStringRecordSize);
                WriteInt(newRecords, start + kHelpContextField, 0);
            }
            WriteInt(newRecords, start + kHelpStringField, static_cast<std::int32_t>(stringSegment.size()));
            AppendString(stringSegment, member.helpString);
        }

        std::vector<std::uint8_t> newBlock;
        AppendInt(newBlock, static_cast<std::int32_t>(newRecords.size()));
        newBlock.insert(newBlock.end(), newRecords.begin(), newRecords.end());
        // Identifiers and names as they were; then the new record offsets.
        newBlock.insert(newBlock.end(), file.begin() + static_cast<std::ptrdiff_t>(arrays),
                        file.begin() + static_cast<std::ptrdiff_t>(arrays + 8 * n));
        for (std::int32_t offset : newOffsets) AppendInt(newBlock, offset);
        blocks[static_cast<std::size_t>(block->info - layout->typeInfos.data())] = std::move(newBlock);
    }

    // Lay the file out again: the same order, the offsets moved.
    std::vector<std::uint8_t> out(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(layout->segmentDirectory +
                                                                                         kSegmentCount * kSegmentEntrySize));
    for (int s : layout->fileOrder) {
        WriteInt(out, layout->segmentDirectory + s * kSegmentEntrySize, static_cast<std::int32_t>(out.size()));
        if (s == kStringSegment) {
            WriteInt(out, layout->segmentDirectory + s * kSegmentEntrySize + 4,
                     static_cast<std::int32_t>(stringSegment.size()));
            out.insert(out.end(), stringSegment.begin(), stringSegment.end());
        } else {
            const Segment& segment = layout->segments[s];
            out.insert(out.end(), file.begin() + segment.offset, file.begin() + segment.offset + segment.length);
        }
    }
    // The type-info segment holds the member blocks' positions.
    const auto typeInfoSegmentStart = static_cast<std::size_t>(*ReadInt(
        std::span<const std::uint8_t>(out), layout->segmentDirectory + kTypeInfoSegment * kSegmentEntrySize));
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const std::size_t record =
            typeInfoSegmentStart + (layout->typeInfos[i].record - static_cast<std::size_t>(layout->segments[kTypeInfoSegment].offset));
        WriteInt(out, record + kMembersField, static_cast<std::int32_t>(out.size()));
        out.insert(out.end(), blocks[i].begin(), blocks[i].end());
    }
    if (out.size() > 0x7FFFFFFF) return "the type library would be too large";
    library = std::move(out);
    return {};
}

std::map<std::string, std::string> EnumMemberHelpStrings(std::span<const std::uint8_t> library,
                                                         const std::string& name) {
    std::map<std::string, std::string> result;
    const auto layout = ReadLayout(library);
    if (!layout) return result;
    const auto block = FindEnum(library, *layout, name);
    if (!block || block->members == 0) return result;
    const Segment& strings = layout->segments[kStringSegment];
    const std::size_t records = block->info->block + 4;
    for (std::size_t m = 0; m < block->members; ++m) {
        const std::size_t at = records + static_cast<std::size_t>(block->recordOffsets[m]);
        if ((*ReadInt(library, at) & 0xFFFF) < kHelpStringRecordSize) continue;
        const auto offset = ReadInt(library, at + kHelpStringField);
        if (!offset || *offset < 0 || strings.offset < 0 || *offset > strings.length - 2) continue;
        const std::size_t text = static_cast<std::size_t>(strings.offset) + static_cast<std::size_t>(*offset);
        const std::size_t length = library[text] | static_cast<std::size_t>(library[text + 1]) << 8;
        if (static_cast<std::size_t>(*offset) + 2 + length > static_cast<std::size_t>(strings.length)) continue;
        result.emplace(block->names[m], std::string(reinterpret_cast<const char*>(library.data() + text + 2), length));
    }
    return result;
}

}  // namespace kestrix
