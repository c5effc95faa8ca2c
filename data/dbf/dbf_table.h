// The legacy dBASE table file, read from its bytes: header, field descriptors and the records
// that a walk presents. Nothing here writes or locks the file, and a table read from a file
// holds no more of it than a window of records of about 256 kB.
//
// Formats read: dBASE III (0x03, 0x83), dBASE IV and 5 (0x04, 0x7B, 0x8B, 0x43, 0x63, 0xCB),
// dBASE 7 (0x04, 0x8C: 48-byte field descriptors), FoxPro 2 (0xF5, 0xFB) and Visual FoxPro
// (0x30, 0x31, 0x32: the 263-byte backlink block after the descriptors, the hidden _NullFlags
// column). Memo files are never opened: memo, picture and blob fields read as null.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace importacao {

class CodePageSample;

// How the bytes of a field are read; decided once per field from its type letter and the
// table's format (a 'B' is a double in Visual FoxPro and a memo block number in dBASE).
enum class DbfReading {
  Character,   // C, and Visual FoxPro's V (varchar): code-page text
  Number,      // N, F: decimal text
  Date,        // D: YYYYMMDD
  Logical,     // L: T/t/Y/y, F/f/N/n
  Integer,     // Visual FoxPro I: 32-bit little-endian
  Integer7,    // dBASE 7 I and +: 32-bit big-endian with the sign bit flipped
  Currency,    // Visual FoxPro Y: 64-bit little-endian in ten-thousandths
  Double,      // Visual FoxPro B: IEEE double, little-endian
  Double7,     // dBASE 7 O: IEEE double, big-endian, order-preserving sign encoding
  DateTime,    // Visual FoxPro T: Julian day and milliseconds, little-endian
  Timestamp7,  // dBASE 7 @: big-endian double of milliseconds, day 1 = 1 January of year 1
  NotRead,     // memo, general, picture, blob, varbinary and unknown types: always null
};

// One field descriptor as the header declares it.
struct DbfField {
  std::string name;  // code page 1252, cut at the first NUL, trailing blanks removed
  char type = 'C';   // the type letter as stored
  int length = 0;    // width in bytes inside the record
  int decimals = 0;  // as stored (0 for character fields longer than 255)
  int offset = 0;    // first byte inside the record; byte 0 is the deletion mark
  DbfReading reading = DbfReading::NotRead;
  bool hidden = false;  // Visual FoxPro system column (_NullFlags): never presented
  int nullBit = -1;     // Visual FoxPro: the _NullFlags bit set when the value is null
  int lengthBit = -1;   // Visual FoxPro varchar: the bit set when the last byte holds the length
};

// The header facts, as stored and as checked.
struct DbfHeader {
  std::uint8_t version = 0;
  std::uint8_t languageByte = 0;
  std::uint32_t recordCount = 0;  // as stored; the walk may present fewer (see DbfTable)
  std::uint32_t headerLength = 0;
  std::uint32_t recordLength = 0;
  bool dbase7 = false;  // 68-byte header, 48-byte descriptors
  bool visualFoxPro = false;
  std::string languageDriverName;  // dBASE 7 only ("DB866RU0"); empty otherwise
  std::vector<DbfField> fields;    // every descriptor, hidden ones included, in file order
  int nullFlagsOffset = -1;        // the _NullFlags column's offset, or -1
  int nullFlagsLength = 0;
  std::vector<std::string> warnings;  // odd but readable: duplicate names and the like
};

// Reads and checks the header of a table file. Throws DbfError, naming the file and the length
// that is wrong, when the bytes are not a table this reader knows or when a length cannot be
// right: the file shorter than a header, a header length past the end of the file or shorter
// than its descriptors, a record length of 0 for records that exist, no field descriptor where
// records have room for fields, a field running past the record. A table of no fields at all
// (the descriptors end at once, a record is its deletion mark) is read. A record length one
// byte short of the fields is taken as the fields' when the file's size fits records of theirs
// and not of it (a warning says so); refused otherwise.
DbfHeader parseHeader(std::span<const std::byte> bytes, std::string_view fileName);
// The same from the first bytes of a file of `fileSize` bytes: at least its first 65535 bytes
// (the longest header), or all of it when it is shorter.
DbfHeader parseHeader(std::span<const std::byte> firstBytes, std::uint64_t fileSize,
                      std::string_view fileName);

// Where the code page of a table's text came from, strongest first.
enum class CodePageSource { Override, CpgFile, LanguageByte, Default };

// The name dumps and messages use: "override", "cpg", "language byte", "default".
std::string_view codePageSourceName(CodePageSource source) noexcept;

struct CodePageChoice {
  int codePage = 850;
  CodePageSource source = CodePageSource::Default;
  std::vector<std::string> warnings;  // a .cpg or language byte naming a page we cannot read
};

// The code page of the language-driver byte (0x01 437, 0x02 850, 0x03 and 0x57 1252, 0x64 852,
// 0x65 866, 0xC8 1250, 0xC9 1251, and the other standard bytes that name one of those pages);
// nullopt for 0 and for bytes that name no page we read.
std::optional<int> codePageOfLanguageByte(std::uint8_t languageByte) noexcept;

// The code page a .cpg file names ("1252", "CP850", "ANSI 1251", "OEM 866", "ISO-8859-1");
// nullopt when it names none we read.
std::optional<int> codePageOfCpgText(std::string_view text) noexcept;

// Decides the code page of a table: the override (the runner's option or the settings key), else
// the .cpg file beside the table, else the language byte (or a dBASE 7 driver name), else 850.
// Throws DbfError when the override is not a code page we read.
CodePageChoice chooseCodePage(std::optional<int> override, std::optional<std::string_view> cpgText,
                              const DbfHeader& header, std::string_view fileName);

// Readable bytes that follow every record record() gives (the table's buffers carry them as
// slack past the file's bytes, of no meaning): a character field may be looked at 16 bytes at a
// time without a check of where the record ends.
inline constexpr std::size_t kRecordSlack = 16;

// What opening a table may be told besides its bytes.
struct DbfOpenOptions {
  std::optional<int> codePage;         // the operator's override; wins over everything
  std::optional<std::string> cpgText;  // the content of a .cpg file beside the table
};

// One table file, open for reading. Presented records are the complete records the header counts,
// up to an end marker, less the deleted ones. Copies share the bytes or the open file (cheap) and
// each reads through a window of its own. Not thread-safe for concurrent use of one object.
class DbfTable {
 public:
  // A table over a copy of `bytes`. Throws DbfError (see parseHeader and chooseCodePage).
  static DbfTable fromBytes(std::span<const std::byte> bytes, std::string fileName,
                            const DbfOpenOptions& options = {});

  // A table over the file at `path`, opened read-only (O_RDONLY: never written, never locked;
  // other programs may keep it open) and read with pread into a window of records, not mapped: a
  // file that another program cuts short while we read is a clear error, not a fault, and the
  // memory of a walk stays the window's. A .cpg file beside it, found without regard to case, is
  // read unless options.cpgText is given. Throws DbfError naming the file when it cannot be
  // opened or read, or as fromBytes.
  static DbfTable open(const std::filesystem::path& path, const DbfOpenOptions& options = {});

  const std::string& fileName() const noexcept { return fileName_; }
  const DbfHeader& header() const noexcept { return header_; }
  // The presented fields (hidden system columns left out), in file order.
  const std::vector<DbfField>& fields() const noexcept { return fields_; }
  int codePage() const noexcept { return codePage_; }
  CodePageSource codePageSource() const noexcept { return codePageSource_; }
  // The byte-to-1252 table of the table's code page; lives for the whole program.
  const std::array<char, 256>& toAnsi() const noexcept { return *toAnsi_; }
  // Everything odd found at open that did not stop it, as sentences for a person: the header
  // against the file, numeric and date values that are not blank and cannot be read (they read
  // as null; counted, the first named), and for a table read as 850 because it says nothing of
  // its code page, a page its text reads clearly better in (guessCodePage).
  const std::vector<std::string>& warnings() const noexcept { return warnings_; }

  // Physical records the walk looks at: complete, counted by the header, before any end marker.
  std::size_t slotCount() const noexcept { return slotCount_; }
  // Records the walk presents: slotCount() less the deleted ones.
  std::size_t recordCount() const noexcept { return liveCount_; }

  // The record at 0-based physical position `slot` (< slotCount()), deletion mark first. The
  // bytes stay valid until the next call of record(), isDeleted() or nextLive() on this object,
  // and kRecordSlack readable bytes follow them.
  // Reading front to back is the fast way. Throws DbfError when the file can no longer be read
  // (cut short by another program since it was opened).
  std::span<const std::byte> record(std::size_t slot) const {
    if (slot - windowFirst_ < windowCount_) {
      return {windowData_ + (slot - windowFirst_) * header_.recordLength, header_.recordLength};
    }
    return fetch(slot);
  }
  bool isDeleted(std::size_t slot) const { return record(slot)[0] == std::byte{'*'}; }
  // The first presented record at or after `slot`; slotCount() when there is none.
  std::size_t nextLive(std::size_t slot) const {
    while (slot < slotCount_ && isDeleted(slot)) ++slot;
    return slot;
  }
  // Whether the Visual FoxPro null flags of `record` mark the field null.
  bool nullFlagSet(const DbfField& field, std::span<const std::byte> record) const noexcept {
    return field.nullBit >= 0 && flagBit(record, field.nullBit);
  }
  bool flagBit(std::span<const std::byte> record, int bit) const noexcept;

  // Tells the system that the file is read front to back (no effect on tables in memory).
  void adviseSequential() const noexcept;

  // A copy reads through a window of its own.
  DbfTable(const DbfTable& other);
  DbfTable& operator=(const DbfTable& other);
  DbfTable(DbfTable&&) noexcept = default;
  DbfTable& operator=(DbfTable&&) noexcept = default;
  ~DbfTable();

 private:
  struct File;
  DbfTable() = default;
  void load(std::string fileName, const DbfOpenOptions& options);
  // Reads `length` bytes at `offset` of the table into `out`; DbfError when they are not there.
  void readAt(std::uint64_t offset, std::span<std::byte> out) const;
  std::span<const std::byte> fetch(std::size_t slot) const;
  // Counts the records (and warns of what is odd about them); gathers text into `sample` when
  // given.
  void surveyRecords(CodePageSample* sample);

  // fromBytes: the whole table, and kRecordSlack bytes of slack after it (size_ is the table's)
  std::shared_ptr<const std::vector<std::byte>> memory_;
  std::shared_ptr<const File> file_;  // open: the open file
  std::uint64_t size_ = 0;            // bytes of the table
  std::string fileName_;
  DbfHeader header_;
  std::vector<DbfField> fields_;
  int codePage_ = 850;
  CodePageSource codePageSource_ = CodePageSource::Default;
  const std::array<char, 256>* toAnsi_ = nullptr;
  std::vector<std::string> warnings_;
  std::size_t slotCount_ = 0;
  std::size_t liveCount_ = 0;

  // The records at hand: slots windowFirst_ .. windowFirst_ + windowCount_ - 1 at windowData_.
  // A table in memory has every record at hand; a file's window is refilled by fetch().
  mutable std::vector<std::byte> windowBuffer_;
  mutable const std::byte* windowData_ = nullptr;
  mutable std::size_t windowFirst_ = 0;
  mutable std::size_t windowCount_ = 0;
};

// The entry of `folder` whose name equals `name` without regard to ASCII letter case (an exact
// match preferred, else the first in name order); nullopt when there is none or the folder cannot
// be listed.
std::optional<std::filesystem::path> findFileIgnoringCase(const std::filesystem::path& folder,
                                                          std::string_view name);

}  // namespace importacao
