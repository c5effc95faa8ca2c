#include "data/dbf/dbf_table.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>

#include "data/errors.h"
#include "data/dbf/dbf_decode.h"
#include "normalise/ascii.h"
#include "normalise/codepage.h"
#include "normalise/codepage_guess.h"
#include "platform/file.h"
#include "platform/path.h"

namespace importacao {
namespace {

constexpr std::size_t kHeaderSize = 32;
constexpr std::byte kHeaderEnd{0x0D};
constexpr std::byte kEndMarker{0x1A};
constexpr std::byte kDeletedMark{'*'};
constexpr int kNullable = -2;  // a nullBit not numbered yet

std::uint16_t readU16(std::span<const std::byte> b, std::size_t at) {
  return static_cast<std::uint16_t>(std::to_integer<unsigned>(b[at]) |
                                    std::to_integer<unsigned>(b[at + 1]) << 8);
}

std::uint32_t readU32(std::span<const std::byte> b, std::size_t at) {
  return static_cast<std::uint32_t>(readU16(b, at)) | static_cast<std::uint32_t>(readU16(b, at + 2))
                                                          << 16;
}

std::uint8_t readU8(std::span<const std::byte> b, std::size_t at) {
  return std::to_integer<std::uint8_t>(b[at]);
}

std::string hexByte(std::uint8_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  return std::string{'0', 'x', kDigits[value >> 4], kDigits[value & 0x0F]};
}

[[noreturn]] void refuse(std::string_view fileName, const std::string& what) {
  throw DbfError(std::string(fileName) + ": " + what);
}

bool isVisualFoxPro(std::uint8_t version) {
  return version == 0x30 || version == 0x31 || version == 0x32;
}

bool isKnownVersion(std::uint8_t version) {
  switch (version) {
    case 0x03:
    case 0x83:  // dBASE III
    case 0x04:
    case 0x7B:
    case 0x8B:
    case 0x43:
    case 0x63:  // dBASE IV, 5, 7
    case 0xCB:
    case 0x8C:
    case 0x30:
    case 0x31:
    case 0x32:  // Visual FoxPro
    case 0xF5:
    case 0xFB:  // FoxPro 2
      return true;
    default: return false;
  }
}

// A field name: the bytes up to the first NUL, trailing blanks removed, in code page 1252.
// Names are nearly always ASCII; the language byte's page converts the rest.
std::string fieldName(std::span<const std::byte> raw) {
  std::string name;
  for (std::byte b : raw) {
    if (b == std::byte{0}) break;
    name.push_back(static_cast<char>(b));
  }
  while (!name.empty() && name.back() == ' ') name.pop_back();
  return name;
}

DbfReading readingOf(char type, bool visualFoxPro, bool dbase7) {
  switch (type) {
    case 'C': return DbfReading::Character;
    case 'V': return visualFoxPro ? DbfReading::Character : DbfReading::NotRead;
    case 'N':
    case 'F': return DbfReading::Number;
    case 'D': return DbfReading::Date;
    case 'L': return DbfReading::Logical;
    case 'I': return dbase7 ? DbfReading::Integer7 : DbfReading::Integer;
    case '+': return dbase7 ? DbfReading::Integer7 : DbfReading::NotRead;
    case 'Y': return DbfReading::Currency;
    case 'B': return visualFoxPro ? DbfReading::Double : DbfReading::NotRead;  // dBASE: memo
    case 'O': return DbfReading::Double7;
    case 'T': return DbfReading::DateTime;
    case '@': return DbfReading::Timestamp7;
    default: return DbfReading::NotRead;  // M G P W Q 0 and letters we do not know
  }
}

// Where the parts of a field descriptor lie: dBASE III to 5 and FoxPro use 32 bytes after a
// 32-byte header, dBASE 7 uses 48 bytes after a 68-byte header.
struct Layout {
  std::size_t first;       // offset of the first descriptor
  std::size_t size;        // bytes per descriptor
  std::size_t nameLength;  // the name comes first
  std::size_t typeAt;
  std::size_t lengthAt;
  std::size_t decimalsAt;
};
constexpr Layout kLayout3{32, 32, 11, 11, 16, 17};
constexpr Layout kLayout7{68, 48, 32, 32, 33, 34};

std::vector<DbfField> readDescriptors(std::span<const std::byte> bytes, const DbfHeader& h,
                                      const Layout& layout) {
  std::vector<DbfField> fields;
  // Descriptors run to the 0x0D mark; a file without the mark ends them at the header length.
  // A descriptor starting with NUL is padding, not a field (a name is never empty).
  for (std::size_t at = layout.first;
       at + layout.size <= h.headerLength && bytes[at] != kHeaderEnd && bytes[at] != std::byte{0};
       at += layout.size) {
    auto d = bytes.subspan(at, layout.size);
    DbfField f;
    f.name = fieldName(d.first(layout.nameLength));
    f.type = static_cast<char>(d[layout.typeAt]);
    f.length = readU8(d, layout.lengthAt);
    f.decimals = readU8(d, layout.decimalsAt);
    if (h.visualFoxPro) {
      // Visual FoxPro's flags byte: 0x01 system column, 0x02 may be null.
      const std::uint8_t flags = readU8(d, 18);
      f.hidden = (flags & 0x01) != 0 && f.type == '0';  // _NullFlags
      if ((flags & 0x02) != 0 && !f.hidden) f.nullBit = kNullable;
    }
    fields.push_back(std::move(f));
  }
  return fields;
}

// Sums widths into offsets. Clipper and FoxPro store the width of a character field longer
// than 255 in the decimals byte as its high byte; files written by other programs put a
// decimal count there. The high-byte reading is taken only when the fields then fit the record.
void placeFields(std::vector<DbfField>& fields, std::uint32_t recordLength) {
  auto place = [&](bool wide) {
    int offset = 1;
    for (auto& f : fields) {
      f.offset = offset;
      int length = f.length & 0xFF;
      if (wide && f.type == 'C') length += (f.decimals & 0xFF) * 256;
      f.length = length;
      offset += length;
    }
    return static_cast<std::uint32_t>(offset);
  };
  std::vector<DbfField> saved = fields;
  if (place(true) <= recordLength) {
    for (auto& f : fields)
      if (f.type == 'C' && f.length > 255) f.decimals = 0;
    return;
  }
  fields = std::move(saved);
  place(false);
}

void assignNullFlags(DbfHeader& h) {
  for (const auto& f : h.fields) {
    if (f.hidden) {
      h.nullFlagsOffset = f.offset;
      h.nullFlagsLength = f.length;
    }
  }
  if (h.nullFlagsOffset < 0) {
    for (auto& f : h.fields) f.nullBit = -1;
    return;
  }
  // Each nullable field takes one bit of _NullFlags, and each varchar one more for "shorter
  // than the field" (its length bit first), in field order.
  int bit = 0;
  for (auto& f : h.fields) {
    if (f.hidden) continue;
    if (f.type == 'V' || f.type == 'Q') f.lengthBit = bit++;
    if (f.nullBit == kNullable) f.nullBit = bit++;
  }
  for (auto& f : h.fields) {
    if (f.nullBit == kNullable) f.nullBit = -1;
    if (f.nullBit >= h.nullFlagsLength * 8) f.nullBit = -1;
    if (f.lengthBit >= h.nullFlagsLength * 8) f.lengthBit = -1;
  }
}

}  // namespace

DbfHeader parseHeader(std::span<const std::byte> bytes, std::string_view fileName) {
  return parseHeader(bytes, bytes.size(), fileName);
}

DbfHeader parseHeader(std::span<const std::byte> bytes, std::uint64_t fileSize,
                      std::string_view fileName) {
  if (fileSize < kHeaderSize || bytes.size() < kHeaderSize) {
    refuse(fileName, "not a dBASE table: the file is " + std::to_string(fileSize) +
                         " bytes long, shorter than a table header (32 bytes)");
  }
  DbfHeader h;
  h.version = readU8(bytes, 0);
  if (!isKnownVersion(h.version)) {
    refuse(fileName,
           "not a dBASE table this reader knows (version byte " + hexByte(h.version) + ")");
  }
  h.recordCount = readU32(bytes, 4);
  h.headerLength = readU16(bytes, 8);
  h.recordLength = readU16(bytes, 10);
  h.languageByte = readU8(bytes, 29);
  h.visualFoxPro = isVisualFoxPro(h.version);

  if (h.headerLength > fileSize || h.headerLength > bytes.size()) {
    refuse(fileName, "header length " + std::to_string(h.headerLength) +
                         " runs past the end of the file (" + std::to_string(fileSize) + " bytes)");
  }
  if (h.headerLength < kHeaderSize + 1) {
    refuse(fileName, "header length " + std::to_string(h.headerLength) +
                         " leaves no room for a field descriptor");
  }
  // A table of no fields at all (a shapefile's attributes when there are none): the descriptors
  // end at once, and a record is its deletion mark alone (or nothing, when there is no record).
  const bool noFields = bytes[kHeaderSize] == kHeaderEnd &&
                        (h.recordLength == 1 || (h.recordLength == 0 && h.recordCount == 0));
  if (h.recordLength == 0 && !noFields) refuse(fileName, "record length 0 cannot hold a record");

  // The low bits 4 mean dBASE 7 (48-byte descriptors after a 68-byte header), but some writers
  // put 0x04 on dBASE IV files: take the dBASE 7 layout only when its descriptors fit.
  std::vector<DbfField> fields;
  if ((h.version & 0x07) == 0x04 && h.headerLength > kLayout7.first) {
    DbfHeader h7 = h;
    h7.dbase7 = true;
    auto f7 = readDescriptors(bytes, h7, kLayout7);
    const std::size_t end7 = kLayout7.first + f7.size() * kLayout7.size;
    if (!f7.empty() && end7 < h.headerLength && bytes[end7] == kHeaderEnd) {
      placeFields(f7, h.recordLength);
      if (static_cast<std::uint32_t>(f7.back().offset + f7.back().length) <= h.recordLength) {
        h.dbase7 = true;
        fields = std::move(f7);
        auto name = bytes.subspan(32, 32);
        h.languageDriverName = fieldName(name);
      }
    }
  }
  if (!h.dbase7) {
    fields = readDescriptors(bytes, h, kLayout3);
    placeFields(fields, h.recordLength);
  }
  if (fields.empty() && !noFields) {
    refuse(fileName, "the header holds no field descriptor (header length " +
                         std::to_string(h.headerLength) + ")");
  }
  const auto filled = fields.empty()
                          ? h.recordLength
                          : static_cast<std::uint32_t>(fields.back().offset + fields.back().length);
  // Some writers state a record length one byte short of the fields. When the file's size fits
  // records of the fields' length, and not records of the stated one, the fields are right.
  if (filled == h.recordLength + 1 && h.recordCount > 0) {
    auto fits = [&](std::uint64_t length) {
      const std::uint64_t records = std::uint64_t{h.recordCount} * length;
      return fileSize - h.headerLength == records || fileSize - h.headerLength == records + 1;
    };
    if (fits(filled) && !fits(h.recordLength)) {
      h.warnings.push_back("the header's record length " + std::to_string(h.recordLength) +
                           " is one byte short of the fields (" + std::to_string(filled) +
                           "), and the file's size fits records of " + std::to_string(filled) +
                           " bytes: reading those");
      h.recordLength = filled;
    }
  }
  // A field of width 0 is kept when the widths fill the record exactly (some writers make empty
  // columns); when the record is longer than its fields, the 0 is a damaged width byte and the
  // fields after it would be read from the wrong bytes of every record.
  if (filled != h.recordLength) {
    for (const auto& f : fields) {
      if (f.length == 0) {
        refuse(fileName, "field '" + f.name + "' has a width of 0 in records of " +
                             std::to_string(h.recordLength) + " bytes");
      }
    }
  }
  for (const auto& f : fields) {
    const auto end = static_cast<std::uint32_t>(f.offset + f.length);
    if (end > h.recordLength) {
      refuse(fileName, "record length " + std::to_string(h.recordLength) +
                           " is too short for field '" + f.name + "', which ends at byte " +
                           std::to_string(end));
    }
  }

  for (auto& f : fields) f.reading = readingOf(f.type, h.visualFoxPro, h.dbase7);
  h.fields = std::move(fields);
  assignNullFlags(h);

  for (std::size_t i = 0; i < h.fields.size(); ++i) {
    if (h.fields[i].hidden) continue;
    for (std::size_t j = 0; j < i; ++j) {
      if (!h.fields[j].hidden && h.fields[j].name == h.fields[i].name) {
        h.warnings.push_back("the field name '" + h.fields[i].name +
                             "' appears more than once; by name only the first is reached");
        break;
      }
    }
  }
  return h;
}

std::string_view codePageSourceName(CodePageSource source) noexcept {
  switch (source) {
    case CodePageSource::Override: return "override";
    case CodePageSource::CpgFile: return "cpg";
    case CodePageSource::LanguageByte: return "language byte";
    case CodePageSource::Default: return "default";
  }
  return "default";
}

std::optional<int> codePageOfLanguageByte(std::uint8_t languageByte) noexcept {
  // The language-driver bytes of dBASE and FoxPro that name a code page we read. Bytes naming
  // other pages (Thai, Chinese, Greek, Nordic...) are left out: their text cannot be read here.
  switch (languageByte) {
    case 0x01:
    case 0x09:
    case 0x0B:
    case 0x0D:
    case 0x0F:
    case 0x11:
    case 0x15:
    case 0x18:
    case 0x19:
    case 0x1B: return 437;
    case 0x02:
    case 0x0A:
    case 0x0E:
    case 0x10:
    case 0x12:
    case 0x14:
    case 0x16:
    case 0x1A:
    case 0x1D:
    case 0x25:
    case 0x37: return 850;
    case 0x1F:
    case 0x22:
    case 0x23:
    case 0x40:
    case 0x64:
    case 0x87: return 852;
    case 0x26:
    case 0x65: return 866;
    case 0xC8: return 1250;
    case 0xC9: return 1251;
    case 0x03:
    case 0x57:
    case 0x58:
    case 0x59: return 1252;
    default: return std::nullopt;
  }
}

std::optional<int> codePageOfCpgText(std::string_view text) noexcept {
  std::string upper;
  for (char c : text) {
    if (!isBlankOrLineBreak(c)) upper.push_back(upperAscii(c));
  }
  // ISO 8859-1 is code page 1252 less the printable characters at 0x80-0x9F.
  for (std::string_view latin1 : {"8859-1", "8859_1", "88591", "LATIN1"}) {
    const auto at = upper.find(latin1);
    if (at != std::string::npos &&
        (at + latin1.size() == upper.size() || upper[at + latin1.size()] < '0' ||
         upper[at + latin1.size()] > '9')) {
      return 1252;
    }
  }
  if (upper.find("UTF") != std::string::npos) return std::nullopt;
  int number = 0;
  bool digits = false;
  for (char c : upper) {
    if (c >= '0' && c <= '9') {
      if (number > 100000) return std::nullopt;
      number = number * 10 + (c - '0');
      digits = true;
    } else if (digits) {
      break;
    }
  }
  if (digits && isSupportedCodePage(number)) return number;
  return std::nullopt;
}

namespace {

// dBASE 7 keeps the language driver's name ("DB866RU0", "DBWINUS0") instead of a byte.
std::optional<int> codePageOfDriverName(std::string_view name) {
  if (name.size() < 5 || name.substr(0, 2) != "DB") return std::nullopt;
  if (name.substr(2, 3) == "WIN") return 1252;
  int number = 0;
  for (char c : name.substr(2, 3)) {
    if (c < '0' || c > '9') return std::nullopt;
    number = number * 10 + (c - '0');
  }
  if (isSupportedCodePage(number)) return number;
  return std::nullopt;
}

std::string supportedList() {
  std::string list;
  for (int page : supportedCodePages()) {
    if (!list.empty()) list += ", ";
    list += std::to_string(page);
  }
  return list;
}

}  // namespace

CodePageChoice chooseCodePage(std::optional<int> override, std::optional<std::string_view> cpgText,
                              const DbfHeader& header, std::string_view fileName) {
  CodePageChoice choice;
  if (override) {
    if (!isSupportedCodePage(*override)) {
      refuse(fileName, "code page " + std::to_string(*override) +
                           " is not one this reader can read (" + supportedList() + ")");
    }
    choice.codePage = *override;
    choice.source = CodePageSource::Override;
    return choice;
  }
  if (cpgText) {
    if (auto page = codePageOfCpgText(*cpgText)) {
      choice.codePage = *page;
      choice.source = CodePageSource::CpgFile;
      return choice;
    }
    std::string shown(cpgText->substr(0, 40));
    std::erase_if(shown, [](char c) { return static_cast<unsigned char>(c) < 0x20; });
    choice.warnings.push_back("the .cpg file names code page '" + shown +
                              "', which this reader cannot read; it is ignored");
  }
  if (auto page = codePageOfLanguageByte(header.languageByte)) {
    choice.codePage = *page;
    choice.source = CodePageSource::LanguageByte;
    return choice;
  }
  if (header.languageByte == 0 && header.dbase7) {
    if (auto page = codePageOfDriverName(header.languageDriverName)) {
      choice.codePage = *page;
      choice.source = CodePageSource::LanguageByte;
      return choice;
    }
  }
  // A table that does not say is read as 850, the DOS code page of the legacy systems here.
  if (header.languageByte != 0) {
    choice.warnings.push_back("language byte " + hexByte(header.languageByte) +
                              " names no code page this reader can read; the text is read as "
                              "code page 850");
  }
  choice.codePage = 850;
  choice.source = CodePageSource::Default;
  return choice;
}

// The open file of a table; closed when the last copy of the table goes.
struct DbfTable::File {
  OpenFile file;
};

namespace {

constexpr std::size_t kWindowBytes = 256 * 1024;  // about what a core's L2 cache holds

[[noreturn]] void refuseFile(const std::filesystem::path& path, const std::string& what,
                             const std::error_code& error) {
  throw DbfError(utf8Path(path) + ": " + what + ": " + errorText(error));
}

std::optional<std::string> readCpgBeside(const std::filesystem::path& path) {
  auto cpgName = utf8Path(path.stem()) + ".cpg";
  auto folder = path.parent_path();
  if (folder.empty()) folder = ".";
  auto found = findFileIgnoringCase(folder, cpgName);
  if (!found) return std::nullopt;
  std::ifstream in(*found, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text(256, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  return text;
}

}  // namespace

DbfTable::DbfTable(const DbfTable& other)
    : memory_(other.memory_),
      file_(other.file_),
      size_(other.size_),
      fileName_(other.fileName_),
      header_(other.header_),
      fields_(other.fields_),
      codePage_(other.codePage_),
      codePageSource_(other.codePageSource_),
      toAnsi_(other.toAnsi_),
      warnings_(other.warnings_),
      slotCount_(other.slotCount_),
      liveCount_(other.liveCount_) {
  if (memory_) {  // every record at hand, in the shared bytes
    windowData_ = other.windowData_;
    windowFirst_ = other.windowFirst_;
    windowCount_ = other.windowCount_;
  }
}

DbfTable& DbfTable::operator=(const DbfTable& other) {
  if (this != &other) *this = DbfTable(other);
  return *this;
}

DbfTable::~DbfTable() = default;

DbfTable DbfTable::fromBytes(std::span<const std::byte> bytes, std::string fileName,
                             const DbfOpenOptions& options) {
  DbfTable t;
  auto memory = std::make_shared<std::vector<std::byte>>(bytes.size() + kRecordSlack);
  std::copy(bytes.begin(), bytes.end(), memory->begin());
  t.memory_ = std::move(memory);
  t.size_ = bytes.size();
  t.header_ = parseHeader(bytes, fileName);
  t.load(std::move(fileName), options);
  return t;
}

DbfTable DbfTable::open(const std::filesystem::path& path, const DbfOpenOptions& options) {
  std::error_code error;
  OpenFile file = OpenFile::openForReading(path, error);
  if (error == std::errc::is_a_directory) refuseFile(path, "cannot read the table", error);
  if (error) refuseFile(path, "cannot open the table", error);
  DbfTable t;
  t.size_ = file.size(error);
  if (error) refuseFile(path, "cannot read the table", error);
  t.file_ = std::make_shared<const File>(File{std::move(file)});

  // The header is at most 65535 bytes long (its length is a 16-bit number).
  std::vector<std::byte> first(static_cast<std::size_t>(std::min<std::uint64_t>(t.size_, 65535)));
  t.fileName_ = utf8Path(path);
  t.readAt(0, first);
  t.header_ = parseHeader(first, t.size_, t.fileName_);

  DbfOpenOptions withCpg = options;
  if (!withCpg.cpgText) withCpg.cpgText = readCpgBeside(path);
  t.load(utf8Path(path), withCpg);
  return t;
}

namespace {

// The numeric and date values of the walk that are neither blank nor readable: how many, and
// where the first is.
struct Unreadable {
  std::uint64_t count = 0;
  const DbfField* field = nullptr;
  std::size_t slot = 0;
  std::string shown;  // the first one's text, for the warning
};

// Whether any byte of `bytes` is above 0x7F: most records of most tables hold none, and then
// none of their texts is worth a look for the code page's guess.
bool hasHighByte(std::span<const std::byte> bytes) {
  std::uint64_t high = 0;
  std::size_t i = 0;
  for (; i + 8 <= bytes.size(); i += 8) {
    std::uint64_t w;
    std::memcpy(&w, bytes.data() + i, 8);
    high |= w;
  }
  for (; i < bytes.size(); ++i) high |= std::to_integer<std::uint64_t>(bytes[i]);
  return (high & dbf_detail::kHighBits) != 0;
}

std::string unreadableWarning(const Unreadable& u) {
  const std::string what =
      u.count == 1 ? " numeric or date value is" : " numeric or date values are";
  return std::to_string(u.count) + what + " neither blank nor readable and read" +
         (u.count == 1 ? "s" : "") + " as null (blank); the first is '" + u.shown + "' in field '" +
         u.field->name + "' of record " + std::to_string(u.slot + 1);
}

// A value as a warning quotes it: blanks and NULs around it removed, other control bytes as
// '?', at most 40 characters, in code page 1252.
std::string quoted(std::string_view raw, const std::array<char, 256>& toAnsi) {
  while (!raw.empty() && dbf_detail::isTrailingPadding(raw.back())) raw.remove_suffix(1);
  while (!raw.empty() && dbf_detail::isPadding(raw.front())) raw.remove_prefix(1);
  std::string out;
  for (char c : raw.substr(0, 40)) {
    const auto b = static_cast<unsigned char>(c);
    out.push_back(b < 0x20 ? '?' : toAnsi[b]);
  }
  return out;
}

// The warning of a guess that the table's text is in another code page than `readAs`, with a
// word of it as it reads now and as it would read in the page guessed (when 1252 can show it).
std::string codePageGuessWarning(const CodePageGuess& guess, int readAs) {
  const std::string page = codePageName(guess.codePage);
  std::string then;
  if (guess.codePage == kUtf8CodePage)
    then = utf8ToCp1252(guess.example);
  else if (guess.readable)
    then = toCp1252(guess.example, guess.codePage);
  auto questionMarks = [](const std::string& t) { return std::count(t.begin(), t.end(), '?'); };
  std::string example;
  if (!then.empty() && questionMarks(then) <= questionMarks(guess.example)) {
    example = " (\"" + then + "\", not \"" + toCp1252(guess.example, readAs) + "\")";
  }
  const std::string head =
      "read as code page " + std::to_string(readAs) + " for want of its own, but its text ";
  if (guess.readable) {
    return head + "reads as code page " + page + example + "; if it is, choose it with " +
           "--dbf-code-page " + page + " or PaginaCodigoDBF=" + page + " in the settings";
  }
  return head + (guess.codePage == kUtf8CodePage ? "is UTF-8" : "reads as code page " + page) +
         example +
         ", which this reader cannot read: its letters outside ASCII read wrong in "
         "every code page";
}

}  // namespace

void DbfTable::load(std::string fileName, const DbfOpenOptions& options) {
  fileName_ = std::move(fileName);
  std::optional<std::string_view> cpg;
  if (options.cpgText) cpg = *options.cpgText;
  CodePageChoice choice = chooseCodePage(options.codePage, cpg, header_, fileName_);
  codePage_ = choice.codePage;
  codePageSource_ = choice.source;
  toAnsi_ = &tableTo1252(choice.codePage);

  for (auto& f : header_.fields) {
    for (char& c : f.name) c = (*toAnsi_)[static_cast<unsigned char>(c)];
    if (!f.hidden) fields_.push_back(f);
  }
  for (const auto& w : header_.warnings) warnings_.push_back(fileName_ + ": " + w);
  for (const auto& w : choice.warnings) warnings_.push_back(fileName_ + ": " + w);
  // A table that does not say its code page is read as 850; its text may tell otherwise.
  std::optional<CodePageSample> sample;
  if (choice.source == CodePageSource::Default) sample.emplace();
  surveyRecords(sample ? &*sample : nullptr);
  if (sample) {
    if (auto guess = guessCodePage(*sample, codePage_)) {
      warnings_.push_back(fileName_ + ": " + codePageGuessWarning(*guess, codePage_));
    }
  }
}

void DbfTable::surveyRecords(CodePageSample* sample) {
  // Records: the complete ones the header counts. A header that counts more than the file holds
  // presents what is there; an end-of-file mark (0x1A) where a record should begin ends the
  // table; records after the counted ones are not presented. Each case is a warning.
  // The same pass counts the numeric and date values that cannot be read (a warning too: they
  // read as null like blank ones), and gathers text for the code page's guess when asked.
  const auto& h = header_;
  const std::uint64_t room = h.recordLength == 0 ? 0 : (size_ - h.headerLength) / h.recordLength;
  std::uint64_t slots = std::min<std::uint64_t>(h.recordCount, room);
  slotCount_ = static_cast<std::size_t>(slots);
  if (memory_) {
    windowData_ = memory_->data() + h.headerLength;
    windowFirst_ = 0;
    windowCount_ = slotCount_;
  }
  std::vector<const DbfField*> checked, texts;
  for (const auto& f : fields_) {
    if (f.reading == DbfReading::Number || f.reading == DbfReading::Date) checked.push_back(&f);
    if (f.reading == DbfReading::Character && f.lengthBit < 0) texts.push_back(&f);
  }
  Unreadable unreadable;
  std::uint64_t deleted = 0;
  std::optional<std::uint64_t> markAt;
  for (std::uint64_t i = 0; i < slots; ++i) {
    const auto rec = record(static_cast<std::size_t>(i));
    const std::byte mark = rec[0];
    if (mark == kEndMarker) {
      markAt = i;
      break;
    }
    // Only '*' marks a deleted record; dBASE takes any other first byte for a live one.
    if (mark == kDeletedMark) {
      ++deleted;
      continue;
    }
    const char* bytes = reinterpret_cast<const char*>(rec.data());
    for (const DbfField* f : checked) {
      const char* raw = bytes + f->offset;
      const auto length = static_cast<std::size_t>(f->length);
      DateTime day{};
      const bool read = f->reading == DbfReading::Number
                            ? isDbfNumberInRecord(raw, length) || isBlankNumber({raw, length})
                            : parseDbfDateInRecord(raw, length, day) || isBlankDate({raw, length});
      if (read) continue;
      if (unreadable.count++ == 0) {
        unreadable.field = f;
        unreadable.slot = static_cast<std::size_t>(i);
        unreadable.shown = quoted({raw, length}, *toAnsi_);
      }
    }
    if (sample != nullptr && !sample->full() && hasHighByte(rec)) {
      for (const DbfField* f : texts) {
        std::uint64_t high = 0;
        const auto length = static_cast<std::size_t>(f->length);
        const std::string_view text = trimCharacterInRecord(bytes + f->offset, length, high);
        if (high != 0) sample->add(text, text.size() == length);
      }
    }
  }
  if (unreadable.count > 0) warnings_.push_back(fileName_ + ": " + unreadableWarning(unreadable));
  const std::string counted = std::to_string(h.recordCount);
  if (markAt) {
    slots = *markAt;
    warnings_.push_back(fileName_ + ": the header counts " + counted +
                        " records but an end-of-file mark stands where record " +
                        std::to_string(*markAt + 1) + " should begin; reading " +
                        std::to_string(slots));
  } else if (h.recordCount > room) {
    warnings_.push_back(fileName_ + ": the header counts " + counted +
                        " records but the file holds only " + std::to_string(room) +
                        " complete ones; reading " + std::to_string(room));
  } else if (room > h.recordCount) {
    std::byte after[1];
    readAt(h.headerLength + std::uint64_t{h.recordCount} * h.recordLength, after);
    if (after[0] != kEndMarker) {
      warnings_.push_back(fileName_ + ": the header counts " + counted +
                          " records but the file has room for " + std::to_string(room) +
                          "; reading the " + counted + " it counts");
    }
  }
  slotCount_ = static_cast<std::size_t>(slots);
  liveCount_ = static_cast<std::size_t>(slots - deleted);
  if (memory_) windowCount_ = slotCount_;
}

void DbfTable::readAt(std::uint64_t offset, std::span<std::byte> out) const {
  if (memory_) {
    if (offset > size_ || out.size() > size_ - offset) {
      throw DbfError(fileName_ + ": read past the end of the table");
    }
    std::copy_n(memory_->data() + offset, out.size(), out.data());
    return;
  }
  std::size_t done = 0;
  while (done < out.size()) {
    std::error_code error;
    const std::size_t n = file_->file.readAt(offset + done, out.subspan(done), error);
    if (error) throw DbfError(fileName_ + ": cannot read the table: " + errorText(error));
    if (n == 0) {
      throw DbfError(fileName_ +
                     ": the file is shorter than when it was opened (another "
                     "program changed it); reading stopped at byte " +
                     std::to_string(offset + done));
    }
    done += n;
  }
}

std::span<const std::byte> DbfTable::fetch(std::size_t slot) const {
  const std::size_t length = header_.recordLength;
  if (memory_ || slot >= slotCount_) {
    throw DbfError(fileName_ + ": no record " + std::to_string(slot + 1));
  }
  const std::size_t perWindow = std::max<std::size_t>(1, kWindowBytes / length);
  const std::size_t count = std::min(perWindow, slotCount_ - slot);
  windowBuffer_.resize(count * length + kRecordSlack);
  readAt(header_.headerLength + std::uint64_t{slot} * length,
         std::span(windowBuffer_).first(count * length));
  windowData_ = windowBuffer_.data();
  windowFirst_ = slot;
  windowCount_ = count;
  return {windowData_, length};
}

bool DbfTable::flagBit(std::span<const std::byte> record, int bit) const noexcept {
  if (bit < 0 || header_.nullFlagsOffset < 0 || bit >= header_.nullFlagsLength * 8) return false;
  const auto byte = std::to_integer<unsigned>(
      record[static_cast<std::size_t>(header_.nullFlagsOffset + bit / 8)]);
  return ((byte >> (bit % 8)) & 1U) != 0;
}

void DbfTable::adviseSequential() const noexcept {
  if (file_) file_->file.adviseSequential();
}

std::optional<std::filesystem::path> findFileIgnoringCase(const std::filesystem::path& folder,
                                                          std::string_view name) {
  std::error_code ec;
  const auto exact = folder / pathFromUtf8(name);
  if (std::filesystem::is_regular_file(exact, ec)) return exact;
  const std::string wanted = lowerAscii(name);
  std::vector<std::filesystem::path> matches;
  std::filesystem::directory_iterator it(folder, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    if (lowerAscii(utf8Path(it->path().filename())) == wanted && it->is_regular_file(ec)) {
      matches.push_back(it->path());
    }
  }
  if (matches.empty()) return std::nullopt;
  std::sort(matches.begin(), matches.end());
  return matches.front();
}

}  // namespace importacao
