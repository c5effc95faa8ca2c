#include "app/run/log_store.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>

#include "platform/file.h"
#include "platform/path.h"

namespace importacao {

namespace {

constexpr char kCr = '\r';

std::size_t countCr(std::string_view bytes) noexcept {
  return static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), kCr));
}

}  // namespace

char* LogStore::reserveBytes(std::size_t size) {
  if (size <= freeLeft_) {
    char* at = free_;
    free_ += size;
    freeLeft_ -= size;
    return at;
  }
  // A long line gets a block of its own, so that it does not strand the slack of the
  // current block; everything else starts a new shared block.
  const bool own = size > kBlockSize / 8;
  const std::size_t blockSize = own ? size : kBlockSize;
  if (blocks_.size() == blocks_.capacity()) {
    blocks_.reserve(std::max<std::size_t>(16, blocks_.size() * 2));
    blockSizes_.reserve(blocks_.capacity());
  }
  auto block = std::make_unique_for_overwrite<char[]>(blockSize);
  char* at = block.get();
  blocks_.push_back(std::move(block));
  blockSizes_.push_back(blockSize);
  if (!own) {
    free_ = at + size;
    freeLeft_ = blockSize - size;
  }
  return at;
}

void LogStore::append(std::string_view line) {
  constexpr std::size_t kLimit = std::numeric_limits<std::uint32_t>::max();
  const std::size_t extraRows = countCr(line);
  if (line.size() >= kLimit || rows_ + 1 + extraRows >= kLimit) {
    throw std::length_error("log line too long or log too large");
  }
  // Grow the line records first: after the bytes are placed nothing may fail. (A reserve of
  // size + 1 would reallocate on every line; grow geometrically as push_back would.)
  if (lines_.size() == lines_.capacity())
    lines_.reserve(std::max<std::size_t>(1024, lines_.size() * 2));
  char* at = line.empty() ? nullptr : reserveBytes(line.size());
  if (!line.empty()) std::memcpy(at, line.data(), line.size());
  lines_.push_back(
      Line{at, static_cast<std::uint32_t>(line.size()), static_cast<std::uint32_t>(rows_)});

  // Track the longest row in bytes; the view measures only that one for its scroll width.
  std::size_t rowIndex = rows_;
  std::string_view rest = line;
  for (;;) {
    const std::size_t cr = rest.find(kCr);
    const std::size_t size = cr == std::string_view::npos ? rest.size() : cr;
    if (size > longestRow_) {
      longestRow_ = size;
      longestRowIndex_ = rowIndex;
    }
    if (cr == std::string_view::npos) break;
    rest.remove_prefix(cr + 1);
    ++rowIndex;
  }
  rows_ += 1 + extraRows;
}

void LogStore::clear() noexcept {
  std::vector<std::unique_ptr<char[]>>().swap(blocks_);
  std::vector<std::size_t>().swap(blockSizes_);
  free_ = nullptr;
  freeLeft_ = 0;
  std::vector<Line>().swap(lines_);
  rows_ = 0;
  longestRow_ = 0;
  longestRowIndex_ = 0;
}

std::string_view LogStore::line(std::size_t index) const noexcept {
  const Line& l = lines_[index];
  return {l.data, l.size};
}

LogStore::Row LogStore::row(std::size_t index) const noexcept {
  // The last line whose first row is not after the wanted one.
  auto it = std::upper_bound(lines_.begin(), lines_.end(), index,
                             [](std::size_t r, const Line& l) { return r < l.firstRow; });
  const std::size_t lineIndex = static_cast<std::size_t>(it - lines_.begin()) - 1;
  std::string_view rest = line(lineIndex);
  std::size_t skip = index - lines_[lineIndex].firstRow;
  for (std::size_t i = 0; i < skip; ++i) rest.remove_prefix(rest.find(kCr) + 1);
  return Row{rest.substr(0, rest.find(kCr)), lineIndex, skip > 0};
}

std::size_t LogStore::memoryUsed() const noexcept {
  std::size_t total = lines_.capacity() * sizeof(Line);
  total += blocks_.capacity() * sizeof(blocks_[0]) + blockSizes_.capacity() * sizeof(std::size_t);
  for (std::size_t size : blockSizes_) total += size;
  return total;
}

void saveLogFile(const LogStore& log, const std::filesystem::path& path) {
  std::error_code error;
  auto fail = [&] {
    return std::runtime_error("Unable to write the log file " + utf8Path(path) + ": " +
                              errorText(error));
  };
  OpenFile file = OpenFile::createForAppending(path, error);
  if (error) throw fail();
  // Written a megabyte at a time: half a million lines in a few writes, not one each.
  std::string chunk;
  for (std::size_t i = 0; i <= log.lineCount(); ++i) {
    if (i < log.lineCount()) {
      chunk += log.line(i);
      chunk += kLogFileLineEnd;
    }
    if (chunk.size() >= (std::size_t{1} << 20) || (i == log.lineCount() && !chunk.empty())) {
      file.append(chunk, error);
      if (error) throw fail();
      chunk.clear();
    }
  }
}

bool isErrorLine(std::string_view line) noexcept {
  return line.starts_with("Erro gravando ") && line.find(kCr) != std::string_view::npos;
}

std::optional<std::size_t> nextErrorLine(const LogStore& log,
                                         std::optional<std::size_t> after) noexcept {
  const std::size_t count = log.lineCount();
  const std::size_t start = after ? *after + 1 : 0;
  for (std::size_t step = 0; step < count; ++step) {
    const std::size_t i = (start + step) % count;
    if (isErrorLine(log.line(i))) return i;
  }
  return std::nullopt;
}

}  // namespace importacao
